#include "Paths.h"

#include "Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString& programDirOverride()
{
    static QString folder;
    return folder;
}

QString& startFolder()
{
    static QString folder;
    return folder;
}

QString applicationFolder()
{
    if (!startFolder().isEmpty())
        return startFolder();
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Without an application object (tools, early start) ask the kernel.
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

// Both paths lead (through any links) to one file.
bool isSameFile(const QString& left, const QString& right)
{
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(left).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(right).constData(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file the shell runs for a bare name: the first executable regular file
// of that name along the search path.
QString searchPathFor(const QString& name, const QString& currentFolder, const QString& searchPath)
{
    const QString path = searchPath.isNull() ? QStringLiteral("/bin:/usr/bin") : searchPath;
    for (const QString& entry : path.split(QLatin1Char(':'))) {
        const QString folder = entry.isEmpty() ? currentFolder : QDir(currentFolder).absoluteFilePath(entry);
        const QString candidate = folder + QLatin1Char('/') + name;
        const QFileInfo info(candidate);
        if (info.isFile() && ::access(QFile::encodeName(candidate).constData(), X_OK) == 0)
            return candidate;
    }
    return QString();
}

bool isOrdinaryFile(const QFileInfo& info)
{
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

} // namespace

QChar pathSeparator(PathStyle style)
{
    return style == PathStyle::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

int rootLength(PathStyle style)
{
    return style == PathStyle::Windows ? 3 : 1;
}

QString ProgramDirOf(const QString& applicationFolder, PathStyle style)
{
    if (style == PathStyle::Windows)
        return applicationFolder.size() > 3 ? applicationFolder + QLatin1Char('\\') : applicationFolder;
    // Only the root itself ends in a separator.
    return applicationFolder.endsWith(QLatin1Char('/')) ? applicationFolder : applicationFolder + QLatin1Char('/');
}

QString ProgramDir()
{
    const QString& forced = programDirOverride();
    return ProgramDirOf(forced.isEmpty() ? applicationFolder() : forced);
}

void setProgramDirOverride(const QString& folder)
{
    programDirOverride() = folder;
}

QString startFolderOf(const QString& startPath, const QString& currentFolder, const QString& searchPath,
                      const QString& executable)
{
    if (startPath.isEmpty() || startPath.contains(QChar::Null))
        return QString();
    const QString started = startPath.contains(QLatin1Char('/')) ? QDir(currentFolder).absoluteFilePath(startPath)
                                                                 : searchPathFor(startPath, currentFolder, searchPath);
    if (started.isEmpty() || !isSameFile(started, executable))
        return QString();
    // Lexical only: the link's own folder, not its target's.
    return QFileInfo(QDir::cleanPath(started)).absolutePath();
}

void setProgramStartPath(const QString& startPath)
{
    // An unset PATH means the system's default folders, an empty one the current folder.
    QString searchPath;
    if (qEnvironmentVariableIsSet("PATH")) {
        searchPath = qEnvironmentVariable("PATH");
        if (searchPath.isEmpty())
            searchPath = QStringLiteral(".");
    }
    startFolder() = startFolderOf(startPath, QDir::currentPath(), searchPath, QStringLiteral("/proc/self/exe"));
}

QString FolderOfPath(const QString& path, PathStyle style)
{
    const qsizetype length = path.size();
    if (length <= rootLength(style))
        return path;
    const QChar separator = pathSeparator(style);
    for (qsizetype k = length - 2; k >= 0; --k) {
        if (path.at(k) == separator)
            return path.left(k + 1);
    }
    throw Errors::invalidArgument();
}

QString JoinFolderAndName(const QString& folder, const QString& name, PathStyle style)
{
    if (style == PathStyle::Windows)
        return folder.size() > 3 ? folder + QLatin1Char('\\') + name : folder + name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool FileExists(const QString& path)
{
    try {
        if (path.isEmpty() || path.contains(QChar::Null))
            return false;
        const QFileInfo info(path);
        const QString last = info.fileName();
        if (!hasWildcard(last))
            return isOrdinaryFile(info);
        // A pattern: at least one ordinary file of the folder matches it.
        const QDir folder = info.dir();
        if (!folder.exists())
            return false;
        const QStringList names = folder.entryList(QDir::Files | QDir::System, QDir::NoSort);
        const QRegularExpression expression = wildcardExpression(last);
        for (const QString& name : names) {
            if (expression.match(name).hasMatch() && isOrdinaryFile(QFileInfo(folder.filePath(name))))
                return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

QString errorMessageText(const RunTimeError& error, const QString& context)
{
    QString text = QString::number(error.number()) + QLatin1String("  ") + error.description();
    if (!context.isEmpty())
        text += QLatin1String("\r\n\r\n") + context;
    return text;
}

void ShowError(DesktopServices& desktop, const RunTimeError& error, const QString& context)
{
    desktop.setPointer(DesktopServices::Pointer::Default);
    desktop.beep();
    desktop.messageBox(DesktopServices::Icon::Exclamation, QStringLiteral("Vindo-ZUL"),
                       errorMessageText(error, context));
}

bool hasWildcard(const QString& pattern)
{
    return pattern.contains(QLatin1Char('*')) || pattern.contains(QLatin1Char('?'));
}

QRegularExpression wildcardExpression(const QString& pattern)
{
    // The original platform's directory search turns "?" into a character that
    // also matches nothing at a dot or at the end of the name, a "*" before a
    // dot into one that stops short of the name's last dot, and a dot before
    // "*", "?" or the end into one that also matches the end of the name.
    static const QString anyButTheLastDot = QStringLiteral("(?:(?!\\.[^.]*\\z).)*");
    static const QString oneOrNoneAtADot = QStringLiteral("(?:[^.]|(?=\\.|\\z))");
    static const QString dotOrEnd = QStringLiteral("(?:\\.|\\z)");
    // "*.*" is every name.
    const QString text = pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
    QString rx;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('*'))
            rx += next == QLatin1Char('.') ? anyButTheLastDot : QStringLiteral(".*");
        else if (c == QLatin1Char('?'))
            rx += oneOrNoneAtADot;
        else if (c == QLatin1Char('.') && (next.isNull() || next == QLatin1Char('*') || next == QLatin1Char('?')))
            rx += dotOrEnd;
        else
            rx += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(rx), QRegularExpression::DotMatchesEverythingOption);
}
