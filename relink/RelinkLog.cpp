#include "RelinkLog.h"

#include "Errors.h"
#include "LineEscape.h"
#include "SharedFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLogName = QStringLiteral("DIVadedadi.log");
const QChar kTab = QLatin1Char('\t');

QString field(const QString& text)
{
    return escapeLine(text);
}

bool writeAll(int fd, const QByteArray& bytes, off_t offset)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t count = ::pwrite(fd, data, size_t(left), offset);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += count;
        left -= count;
        offset += count;
    }
    return true;
}

// A new file beside the log, renamed over it once complete.
bool replaceLog(const QByteArray& path, const QByteArray& bytes)
{
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray tempPath = path.left(slash + 1) + '.' + path.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool renamed = false;
    const auto cleanUp = qScopeGuard([&] {
        ::close(fd);
        if (!renamed)
            ::unlink(tempPath.constData());
    });
    struct stat old {};
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const bool exists = ::lstat(path.constData(), &old) == 0;
    // The new log keeps the old one's owner; where it cannot, the old one is rewritten instead.
    if (exists && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (::fchmod(fd, exists ? (old.st_mode & 07777) : (0666 & ~mask)) != 0 || !writeAll(fd, bytes, 0) ||
        ::fsync(fd) != 0)
        return false;
    renamed = ::rename(tempPath.constData(), path.constData()) == 0;
    return renamed;
}

// The log itself rewritten; room for the new text is taken first, so a full
// disk leaves the old text as it was.
bool rewriteLog(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = SharedFiles::openForWrite(path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    const auto closeFd = qScopeGuard([&] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return false;
    if (bytes.size() > info.st_size) {
        const int result = ::posix_fallocate(fd, info.st_size, off_t(bytes.size()) - info.st_size);
        if (result != 0 && result != EOPNOTSUPP && result != EINVAL)
            return false;
    }
    return writeAll(fd, bytes, 0) && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0;
}

QString outcomeWord(RelinkReport::Outcome outcome)
{
    switch (outcome) {
    case RelinkReport::Outcome::Skipped:
        return QStringLiteral("přeskočena");
    case RelinkReport::Outcome::Repointed:
        return QStringLiteral("přepojena");
    case RelinkReport::Outcome::Created:
        return QStringLiteral("vytvořena");
    case RelinkReport::Outcome::Failed:
        break;
    }
    return QStringLiteral("chyba");
}

} // namespace

QString relinkLogText(const RelinkReport& report, const QDateTime& time, const QString& programPath,
                      const QString& dataPath)
{
    QStringList lines;
    // The offset from UTC is written out, so the time reads the same anywhere.
    const QDateTime stamp = time.toOffsetFromUtc(time.offsetFromUtc());
    lines.append(QStringList{stamp.toString(Qt::ISODate), field(programPath), field(dataPath),
                             report.failed ? QStringLiteral("ERROR") : QStringLiteral("OK")}
                     .join(kTab));
    for (qsizetype index = 0; index < report.tables.size(); ++index) {
        const RelinkReport::Table& table = report.tables.at(index);
        QStringList fields{field(table.name), outcomeWord(table.outcome)};
        for (const RelinkReport::Failure& failure : report.failures) {
            if (failure.tableIndex == index)
                fields.append(field(failure.description));
        }
        lines.append(fields.join(kTab));
    }
    for (const RelinkReport::Failure& failure : report.failures) {
        if (failure.tableIndex < 0)
            lines.append(
                QStringList{QString(), outcomeWord(RelinkReport::Outcome::Failed), field(failure.description)}.join(
                    kTab));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool WriteRelinkLog(const QString& iniPath, const RelinkReport& report, const QString& programPath,
                    const QString& dataPath)
{
    const QFileInfo folder(QFileInfo(iniPath).absolutePath());
    if (iniPath.isEmpty() || !folder.isDir())
        return false;
    const QByteArray path = QFile::encodeName(folder.absoluteFilePath() + QLatin1Char('/') + kLogName);
    const QByteArray bytes = relinkLogText(report, QDateTime::currentDateTime(), programPath, dataPath).toUtf8();
    const SharedFiles::Target target = SharedFiles::resolveForWrite(path);
    struct stat info {};
    if (::stat(target.path.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        throw Errors::notRegularFile(QFile::decodeName(path));
    // A link stays a link; a log with other names keeps them.
    const bool replaceable = !target.viaLink && (::lstat(path.constData(), &info) != 0 || info.st_nlink == 1);
    if (replaceable && ::access(folder.absoluteFilePath().toLocal8Bit().constData(), W_OK | X_OK) == 0 &&
        replaceLog(path, bytes))
        return true;
    return rewriteLog(path, bytes);
}
