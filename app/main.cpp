// The start of the process: Main fixes the paths, loads the main window and
// follows one of the four courses of a start.

#include "CommandLine.h"
#include "Errors.h"
#include "frmMain.h"
#include "Globals.h"
#include "Headless.h"
#include "HelpFile.h"
#include "HelpWindow.h"
#include "Icons.h"
#include "IgnoringFailures.h"
#include "ListFile.h"
#include "Paths.h"
#include "QtDesktopServices.h"
#include "RunTimeError.h"
#include "RuntimeFolder.h"
#include "Settings.h"
#include "Startup.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTextBrowser>

#include <memory>
#include <vector>

namespace {

// The help viewer of whichever main window is loaded at the moment.
class MainWindowHelp : public HelpViewer {
public:
    explicit MainWindowHelp(DesktopServices& desktop) : m_desktop(desktop) {}
    void setOwner(QWidget* owner) { m_viewer = std::make_unique<HelpWindowViewer>(owner, m_desktop); }
    void showHelpTopic(const QString& helpFile, int context) override
    {
        if (m_viewer)
            m_viewer->showHelpTopic(helpFile, context);
    }

private:
    DesktopServices& m_desktop;
    std::unique_ptr<HelpWindowViewer> m_viewer;
};

int Main(QApplication& app, QtDesktopServices& desktop, const QString& argumentText)
{
    MainWindowHelp help(desktop);
    std::unique_ptr<frmMain> window;
    const auto loadWindow = [&] {
        desktop.setOwner(nullptr);
        window.reset();
        window = std::make_unique<frmMain>(desktop, help);
        desktop.setOwner(window.get());
        help.setOwner(window.get());
    };

    try {
        const StartPlan plan = PrepareStart(argumentText, [&] { CreateListFile(desktop); });
        if (plan.listFolderNotWritable)
            ShowError(desktop, Errors::listFolderNotWritable(ProgramDir()));

        loadWindow();
        window->setProgramPathText(gProgramPath);
        window->setDataPathText(gDataPath);
        if (plan.listFileReady)
            FillDataFileList(desktop, window->dataCombo(), gDataPath);

        switch (ChooseStartCourse(plan)) {
        case StartCourse::Interactive:
        case StartCourse::PlainWindow:
            window->show();
            break;
        case StartCourse::UnattendedRelink:
            desktop.doEvents();
            window->hideButtonsAndShorten();
            window->show();
            window->btnPropoj_Click();
            // After a clean run the process ends; after a failed one the
            // short window stays for the user.
            if (!gLinkFailed)
                window->unloadAndEndProcess();
            break;
        case StartCourse::AutomaticBrowse:
            gAutoBrowse = true;
            window->show();
            window->btnBrowse_Click(1);
            break;
        }
    } catch (const RunTimeError& error) {
        // Shown once; whatever fails while the window is loaded again is ignored.
        ignoringFailures([&] { ShowError(desktop, error); });
        ignoringFailures([&] {
            loadWindow();
            window->show();
        });
    }

    // A run may have ended the process before the event loop was entered; a
    // window closed meanwhile leaves nothing to wait for.
    if (!ProcessEndRequested() && window && window->isVisible())
        app.exec();
    desktop.setOwner(nullptr);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // The program directory is the folder of the path the process was started by.
    setProgramStartPath(argc > 0 && argv[0] ? QFile::decodeName(argv[0]) : QString());
    // The caller's arguments, whole: Qt would take its own options (-reverse,
    // -style, ...) out of them and change the course of the start.
    const ProcessArguments arguments = SplitProcessArguments(argc, argv);
    const QString argumentText = ArgumentText(arguments.program);
    RecordStartForCaller(argumentText);

    // Qt sees only the program name and a chosen platform; it keeps pointers
    // into these for the life of the application.
    QByteArrayList qtArguments = arguments.forQt;
    std::vector<char*> qtArgv;
    for (QByteArray& argument : qtArguments)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = int(qtArguments.size());

    providePrivateRuntimeFolder(); // keeps Qt's warning about XDG_RUNTIME_DIR off stderr
    // Without a reachable window system an unattended relink still runs.
    if (needsHeadless(qtArgc, qtArgv.data()))
        return runHeadless(qtArgc, qtArgv.data(), argumentText);
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("DIVadedadi"));
    // A box shown before the main window exists carries the program's icon too.
    QApplication::setWindowIcon(WindowIcon());
    QtDesktopServices desktop;
    // The outcome for a calling program is the settings key; the exit code
    // says only when that key could not take it.
    const int code = Main(app, desktop, argumentText);
    return OutcomeUnrecorded() ? kOutcomeUnrecordedExitCode : code;
}
