#include "Startup.h"

#include "CommandLine.h"
#include "Globals.h"
#include "OdbcConnectString.h"
#include "Paths.h"
#include "Settings.h"

#include <QFile>

#include <unistd.h>

namespace {

const QString kIniName = QStringLiteral("INI/ZUL.ini");

bool isPlatformOption(const char* argument)
{
    return qstrcmp(argument, "-platform") == 0 || qstrcmp(argument, "--platform") == 0;
}

// Whether this user may create files in folder (a read-only mount counts as not).
bool folderWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

} // namespace

bool isCommandLineStart(const QString& argumentText)
{
    return !argumentText.isEmpty() && !HasKey(argumentText, CommandKey::NoDataPath);
}

ProcessArguments SplitProcessArguments(int argc, char* argv[])
{
    ProcessArguments arguments;
    arguments.forQt.append(argc > 0 && argv[0] ? QByteArray(argv[0]) : QByteArrayLiteral("divadedadi"));
    for (int i = 1; i < argc; ++i) {
        if (isPlatformOption(argv[i]) && i + 1 < argc) {
            arguments.forQt.append(QByteArray(argv[i]));
            arguments.forQt.append(QByteArray(argv[++i]));
            continue;
        }
        arguments.program.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

void RecordStartForCaller(const QString& argumentText)
{
    gIniPath = ProgramDir() + kIniName;
    if (isCommandLineStart(argumentText) && HasKey(argumentText, CommandKey::ShowMessage))
        WriteOutcome(QStringLiteral("ERROR"));
}

StartPlan PrepareStart(const QString& argumentText, const std::function<void()>& createListFile)
{
    const QString programDir = ProgramDir();
    gIniPath = programDir + kIniName;

    StartPlan plan;
    plan.noDataPath = HasKey(argumentText, CommandKey::NoDataPath);
    plan.commandLineStart = isCommandLineStart(argumentText);

    gListDbPath = programDir + QStringLiteral("ZUL_db.accdb");
    // The list file's own operation reports a failure; start-up goes on. In a
    // folder the user cannot write the creation could only fail, and the fill
    // after it once more: the start says why, once, instead.
    if (!FileExists(gListDbPath)) {
        if (!folderWritable(programDir))
            plan.listFolderNotWritable = true;
        else if (createListFile)
            createListFile();
    }
    plan.listFileReady = FileExists(gListDbPath);

    gProgramPath = programDir + QStringLiteral("ZUL.accdr");
    gDataPath = ReadSetting(QStringLiteral("MAIN"), QStringLiteral("ZULdata"));
    if (plan.noDataPath)
        gDataPath.clear();
    else if (!dataPathExists(gDataPath))
        gDataPath = programDir + QStringLiteral("ZUL_data.accdb"); // whether or not it exists

    if (!plan.commandLineStart)
        return plan;

    // A key that is present wins even with an empty or missing path.
    if (HasKey(argumentText, CommandKey::ZulProg))
        gProgramPath = KeyValue(argumentText, CommandKey::ZulProg);
    if (HasKey(argumentText, CommandKey::ZulData))
        gDataPath =
            withoutPassword(KeyValue(argumentText, CommandKey::ZulData)); // the password serves this process only
    gShowMessage = HasKey(argumentText, CommandKey::ShowMessage);
    return plan;
}

StartCourse ChooseStartCourse(const StartPlan& plan)
{
    if (!plan.commandLineStart)
        return StartCourse::Interactive;
    if (!FileExists(gProgramPath))
        return StartCourse::PlainWindow;
    return dataPathExists(gDataPath) ? StartCourse::UnattendedRelink : StartCourse::AutomaticBrowse;
}
