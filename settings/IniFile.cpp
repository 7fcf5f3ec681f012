#include "IniFile.h"

#include "Errors.h"
#include "SharedFiles.h"

#include <QFile>
#include <QScopeGuard>

#include <unicode/ucnv.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// ---- code page 1250 -------------------------------------------------------

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openCodePage()
{
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open("windows-1250", &status));
    if (U_FAILURE(status))
        return nullptr;
    // Characters the code page lacks become "?", as the platform's conversion does.
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    return converter;
}

// A file that starts with the UTF-8 byte-order mark holds UTF-8 text, as the
// platform's profile calls read and write it; any other file code page 1250.
const QByteArray kUtf8Mark = QByteArrayLiteral("\xEF\xBB\xBF");

QString decode(const char* data, qsizetype size, bool utf8)
{
    if (size <= 0)
        return QString();
    if (utf8)
        return QString::fromUtf8(data, size);
    // Names and most values are plain ASCII, which needs no converter.
    if (std::all_of(data, data + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(data, size);
    Converter converter = openCodePage();
    if (!converter)
        return QString::fromLatin1(data, size);
    // A single-byte code page gives one UTF-16 unit per byte.
    QString text(size + 1, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar*>(text.data()),
                                         static_cast<int32_t>(text.size()), data, static_cast<int32_t>(size), &status);
    if (U_FAILURE(status))
        return QString::fromLatin1(data, size);
    text.truncate(length);
    return text;
}

QString decode(const QByteArray& bytes, bool utf8)
{
    return decode(bytes.constData(), bytes.size(), utf8);
}

QByteArray encode(const QString& text, bool utf8)
{
    if (text.isEmpty())
        return QByteArray();
    if (utf8)
        return text.toUtf8();
    Converter converter = openCodePage();
    if (!converter)
        return text.toLatin1();
    const auto* source = reinterpret_cast<const UChar*>(text.constData());
    const auto sourceLength = static_cast<int32_t>(text.size());
    QByteArray bytes(text.size() + 1, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = ucnv_fromUChars(converter.get(), bytes.data(), static_cast<int32_t>(bytes.size()), source,
                                     sourceLength, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        bytes.resize(length + 1);
        status = U_ZERO_ERROR;
        length = ucnv_fromUChars(converter.get(), bytes.data(), static_cast<int32_t>(bytes.size()), source,
                                 sourceLength, &status);
    }
    if (U_FAILURE(status))
        return text.toLatin1();
    bytes.truncate(length);
    return bytes;
}

// ---- names and lines ------------------------------------------------------

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text.at(begin) == QLatin1Char(' ') || text.at(begin) == QLatin1Char('\t')))
        ++begin;
    while (end > begin && (text.at(end - 1) == QLatin1Char(' ') || text.at(end - 1) == QLatin1Char('\t')))
        --end;
    return text.mid(begin, end - begin);
}

// A line break (or NUL) inside a name or value would split the entry and
// plant foreign lines in the file, so it is stored as "?".
QString oneLine(const QString& text)
{
    QString result = text;
    for (QChar& c : result) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::Null)
            c = QLatin1Char('?');
    }
    return result;
}

// A section or key name as the caller gives it, in the form it takes on disk.
QByteArray nameBytes(const QString& name, bool utf8)
{
    return encode(trimBlanks(oneLine(name)), utf8);
}

struct Range {
    qsizetype begin = 0;
    qsizetype end = 0;
    bool isEmpty() const { return begin >= end; }
};

Range trimmed(const QByteArray& bytes, Range range)
{
    while (range.begin < range.end && isBlank(bytes.at(range.begin)))
        ++range.begin;
    while (range.end > range.begin && isBlank(bytes.at(range.end - 1)))
        --range.end;
    return range;
}

struct Line {
    qsizetype start = 0;      // first byte
    qsizetype contentEnd = 0; // first byte of the line end
    qsizetype end = 0;        // first byte after the line end
    bool hasLineEnd() const { return end > contentEnd; }
};

// CR, LF and CR LF all end a line.
std::vector<Line> splitLines(const QByteArray& bytes)
{
    std::vector<Line> lines;
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    while (pos < size) {
        Line line;
        line.start = pos;
        while (pos < size && bytes.at(pos) != '\r' && bytes.at(pos) != '\n')
            ++pos;
        line.contentEnd = pos;
        if (pos < size) {
            if (bytes.at(pos) == '\r' && pos + 1 < size && bytes.at(pos + 1) == '\n')
                pos += 2;
            else
                pos += 1;
        }
        line.end = pos;
        lines.push_back(line);
    }
    return lines;
}

// The line end the file already uses; CR LF for a file that has none yet.
QByteArray fileLineEnd(const QByteArray& bytes, const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        if (line.hasLineEnd())
            return bytes.mid(line.contentEnd, line.end - line.contentEnd);
    }
    return QByteArrayLiteral("\r\n");
}

enum class LineKind { Blank, Comment, Section, Key, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    Range name;  // section or key name, trimmed
    Range value; // key value, trimmed
};

ParsedLine parseLine(const QByteArray& bytes, const Line& line)
{
    ParsedLine parsed;
    const Range content = trimmed(bytes, {line.start, line.contentEnd});
    if (content.isEmpty()) {
        parsed.kind = LineKind::Blank;
        return parsed;
    }
    const char first = bytes.at(content.begin);
    if (first == ';') {
        parsed.kind = LineKind::Comment;
        return parsed;
    }
    if (first == '[') {
        const qsizetype close = bytes.indexOf(']', content.begin + 1);
        if (close >= 0 && close < content.end) {
            parsed.kind = LineKind::Section;
            parsed.name = trimmed(bytes, {content.begin + 1, close});
            return parsed;
        }
    }
    const qsizetype equals = bytes.indexOf('=', content.begin);
    if (equals >= 0 && equals < content.end) {
        parsed.kind = LineKind::Key;
        parsed.name = trimmed(bytes, {content.begin, equals});
        parsed.value = trimmed(bytes, {equals + 1, content.end});
    }
    return parsed;
}

bool sameName(const QByteArray& bytes, Range range, const QString& wanted, bool utf8)
{
    const QString name = decode(bytes.constData() + range.begin, range.end - range.begin, utf8);
    return name.compare(wanted, Qt::CaseInsensitive) == 0;
}

// Where a section and a key lie in the file. Only the first section of a name
// counts, and in it the first key of a name.
struct Location {
    std::optional<size_t> section; // line of the section's header
    size_t lastNonBlank = 0;       // last non-blank line of that section (the header when it is empty)
    std::optional<size_t> key;     // line of the key
    Range value;                   // the key's value, trimmed
};

Location locate(const QByteArray& bytes, const std::vector<Line>& lines, const QString& section, const QString& key,
                bool utf8)
{
    Location location;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(bytes, lines[i]);
        if (!location.section) {
            if (parsed.kind == LineKind::Section && sameName(bytes, parsed.name, section, utf8)) {
                location.section = i;
                location.lastNonBlank = i;
            }
            continue;
        }
        if (parsed.kind == LineKind::Section)
            break;
        if (parsed.kind != LineKind::Blank)
            location.lastNonBlank = i;
        if (!location.key && parsed.kind == LineKind::Key && sameName(bytes, parsed.name, key, utf8)) {
            location.key = i;
            location.value = parsed.value;
        }
    }
    return location;
}

// ---- files ------------------------------------------------------------------

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }

    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded (it can report a
    // delayed write error).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int m_fd;
};

QByteArray localPath(const QString& path)
{
    return QFile::encodeName(path);
}

// The whole content of an open file, read from its start.
std::optional<QByteArray> readAll(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t count = ::pread(fd, buffer, sizeof buffer, offset);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            break;
        bytes.append(buffer, count);
        offset += count;
    }
    return bytes;
}

// The whole content of an ordinary file. A missing file, a folder, a pipe or
// anything unreadable gives nothing; nothing is opened that could block.
std::optional<QByteArray> readFile(const QByteArray& path)
{
    try {
        FileDescriptor fd(SharedFiles::openForRead(path));
        if (!fd.isOpen())
            return std::nullopt;
        return readAll(fd.get());
    } catch (const RunTimeError&) {
        return std::nullopt;
    }
}

bool writeAll(int fd, const QByteArray& bytes, off_t offset = -1)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t count = offset < 0 ? ::write(fd, data, static_cast<size_t>(left))
                                         : ::pwrite(fd, data, static_cast<size_t>(left), offset);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += count;
        left -= count;
        if (offset >= 0)
            offset += count;
    }
    return true;
}

QByteArray fileNameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A writer holds a lock on its temporary file for as long as it lives, so a
// temporary file whose lock can be taken belongs to a writer that was killed:
// it is removed, and such files never pile up.
void removeAbandonedTemporaryFiles(const QByteArray& folder, const QByteArray& fileName)
{
    const QByteArray prefix = '.' + fileName + '.';
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || name.size() != prefix.size() + 6)
            continue;
        const QByteArray path = folder + '/' + name;
        FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd.isOpen() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat locked {};
        struct stat named {};
        // Still the same file under that name, and not one a writer has just made and is about to lock.
        if (::fstat(fd.get(), &locked) == 0 && ::lstat(path.constData(), &named) == 0 &&
            locked.st_ino == named.st_ino && locked.st_dev == named.st_dev && S_ISREG(named.st_mode))
            ::unlink(path.constData());
    }
}

// A locked temporary file next to target; a file that a cleaner removed
// before the lock was taken is made afresh.
FileDescriptor lockedTemporaryFile(const QByteArray& target, QByteArray& tempPath)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        tempPath = SharedFiles::folderOf(target) + "/." + fileNameOf(target) + ".XXXXXX";
        FileDescriptor fd(::mkostemp(tempPath.data(), O_CLOEXEC));
        if (!fd.isOpen())
            return FileDescriptor();
        struct stat info {};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.get(), &info) == 0 && info.st_nlink > 0)
            return FileDescriptor(fd.release());
        ::unlink(tempPath.constData());
    }
    return FileDescriptor();
}

// Replaces target by a file holding bytes: a temporary file in the same
// folder is written, flushed and renamed over it, so a crash leaves either
// the old or the new file. The temporary file never outlives a failure. The
// new file gets the old one's owner, group and mode; false when anything of
// that cannot be done (no temporary file, no room, another user's file in a
// shared folder) and nothing was replaced.
bool replaceFile(const QByteArray& target, const QByteArray& bytes, const struct stat& existing)
{
    const QByteArray folder = SharedFiles::folderOf(target);
    removeAbandonedTemporaryFiles(folder, fileNameOf(target));
    QByteArray tempPath;
    FileDescriptor fd = lockedTemporaryFile(target, tempPath);
    if (!fd.isOpen())
        return false;
    bool committed = false;
    const auto removeTemp = qScopeGuard([&] {
        if (!committed)
            ::unlink(tempPath.constData());
    });
    // Only root may give a file away, and only a member may set a group.
    if (::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0 ||
        ::fchmod(fd.get(), existing.st_mode & 07777) != 0 || !writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        return false;
    // The lock is held until the rename, so no cleaner takes the file for abandoned.
    if (::rename(tempPath.constData(), target.constData()) != 0)
        return false;
    committed = true;
    fd.close();

    // Make the rename itself durable.
    FileDescriptor folderFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.isOpen())
        ::fsync(folderFd.get());
    return true;
}

// Writes the whole new content into the open file itself, as the original
// platform does. Room for a longer content is taken first, so a full disk
// leaves the file as it was; past that a crash in the middle can leave a
// mixed file.
bool writeInPlace(int fd, const QByteArray& bytes, off_t oldSize)
{
    if (bytes.size() > oldSize) {
        const int result = ::posix_fallocate(fd, oldSize, off_t(bytes.size()) - oldSize);
        if (result != 0 && result != EOPNOTSUPP && result != EINVAL)
            return false;
    }
    return writeAll(fd, bytes, 0) && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0;
}

bool folderWritable(const QByteArray& folder)
{
    return ::access(folder.constData(), W_OK | X_OK) == 0;
}

// Whether replacing the file by a new one would keep all it carries: its
// name is no link, it has no other names, no ACL or extended attributes, its
// folder takes a new file and the writer can give the new file the same owner.
bool replaceKeepsEverything(const QByteArray& path, int fd, const struct stat& info)
{
    return info.st_nlink == 1 && ::flistxattr(fd, nullptr, 0) == 0 && folderWritable(SharedFiles::folderOf(path)) &&
           (::geteuid() == 0 || info.st_uid == ::geteuid());
}

QString shown(const QByteArray& path)
{
    return QFile::decodeName(path);
}

// The new content of a file holding bytes with section/key set to value.
QByteArray withValue(const QByteArray& fileBytes, const QString& section, const QString& key, const QString& value)
{
    const bool utf8 = fileBytes.startsWith(kUtf8Mark);
    const QByteArray mark = utf8 ? kUtf8Mark : QByteArray();
    const QByteArray bytes = fileBytes.mid(mark.size());
    const QByteArray sectionName = nameBytes(section, utf8);
    const QByteArray keyName = nameBytes(key, utf8);
    const std::vector<Line> lines = splitLines(bytes);
    const QByteArray lineEnd = fileLineEnd(bytes, lines);
    const QByteArray entry = keyName + '=' + encode(oneLine(value), utf8);
    const Location location = locate(bytes, lines, decode(sectionName, utf8), decode(keyName, utf8), utf8);

    if (location.key) {
        const Line& line = lines[*location.key];
        return mark + bytes.left(line.start) + entry + bytes.mid(line.contentEnd);
    }
    if (location.section) {
        const Line& line = lines[location.lastNonBlank];
        const QByteArray before = line.hasLineEnd() ? QByteArray() : lineEnd;
        return mark + bytes.left(line.end) + before + entry + lineEnd + bytes.mid(line.end);
    }
    const bool open = !bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r');
    return mark + bytes + (open ? lineEnd : QByteArray()) + '[' + sectionName + ']' + lineEnd + entry + lineEnd;
}

// Opens the settings file for the write, creating it where it is missing,
// and takes its lock within the bound. The lock is taken on the file the
// name holds once locked: a writer that replaced the file meanwhile makes
// the next one start again on the new file.
FileDescriptor openLocked(const QByteArray& path, SharedFiles::Target& target, struct stat& info, bool& created)
{
    const auto deadline = std::chrono::steady_clock::now() + SharedFiles::kLockWait;
    for (;;) {
        created = false;
        FileDescriptor fd(SharedFiles::openForWrite(path, O_RDWR, 0666, &target));
        if (!fd.isOpen() && errno == ENOENT) {
            struct stat folder {};
            // The folder is never created: without it the write is lost.
            if (::stat(SharedFiles::folderOf(target.path).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode))
                throw Errors::settingsFolderMissing(shown(path));
            fd = FileDescriptor(SharedFiles::openForWrite(path, O_RDWR | O_CREAT | O_EXCL, 0666, &target));
            created = fd.isOpen();
            if (!fd.isOpen() && errno == EEXIST)
                continue;
        }
        if (!fd.isOpen())
            throw Errors::settingsNotOpened(shown(path), QString::fromLocal8Bit(std::strerror(errno)));
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!SharedFiles::lockWithin(fd.get(), std::max(left, std::chrono::milliseconds(0))))
            throw Errors::settingsLocked(shown(path), int(SharedFiles::kLockWait.count() / 1000));
        struct stat named {};
        if (::fstat(fd.get(), &info) == 0 && ::lstat(target.path.constData(), &named) == 0 &&
            named.st_ino == info.st_ino && named.st_dev == info.st_dev)
            return fd;
        if (std::chrono::steady_clock::now() >= deadline)
            throw Errors::settingsLocked(shown(path), int(SharedFiles::kLockWait.count() / 1000));
    }
}

} // namespace

namespace IniFile {

QString read(const QString& filePath, const QString& section, const QString& key)
{
    if (filePath.isEmpty())
        return QString();
    const std::optional<QByteArray> fileBytes = readFile(localPath(filePath));
    if (!fileBytes)
        return QString();
    const bool utf8 = fileBytes->startsWith(kUtf8Mark);
    const QByteArray bytes = utf8 ? fileBytes->mid(kUtf8Mark.size()) : *fileBytes;
    const std::vector<Line> lines = splitLines(bytes);
    const Location location =
        locate(bytes, lines, decode(nameBytes(section, utf8), utf8), decode(nameBytes(key, utf8), utf8), utf8);
    if (!location.key)
        return QString();

    Range value = location.value;
    // One pair of matching enclosing quotes is removed.
    if (value.end - value.begin >= 2) {
        const char first = bytes.at(value.begin);
        if ((first == '"' || first == '\'') && bytes.at(value.end - 1) == first) {
            ++value.begin;
            --value.end;
        }
    }
    if (utf8)
        return decode(bytes.constData() + value.begin, value.end - value.begin, true).left(MaxValueLength);
    // One byte of code page 1250 is one character.
    value.end = std::min(value.end, value.begin + MaxValueLength);
    return decode(bytes.constData() + value.begin, value.end - value.begin, false);
}

bool write(const QString& filePath, const QString& section, const QString& key, const QString& value)
{
    return write(filePath, section, key, value, nullptr);
}

bool write(const QString& filePath, const QString& section, const QString& key, const QString& value, QString* failure)
{
    if (filePath.isEmpty() || nameBytes(section, false).isEmpty() || nameBytes(key, false).isEmpty()) {
        if (failure)
            *failure = QStringLiteral("Chybí cesta, oddíl nebo klíč.");
        return false;
    }
    const QByteArray path = localPath(filePath);
    try {
        SharedFiles::Target target;
        struct stat info {};
        bool created = false;
        FileDescriptor fd = openLocked(path, target, info, created);
        // A file without any write permission counts as read-only even for
        // root, like the read-only attribute of the original platform.
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            throw Errors::settingsReadOnly(shown(path));
        const std::optional<QByteArray> bytes = readAll(fd.get());
        if (!bytes)
            throw Errors::settingsNotReadable(shown(path));
        const QByteArray result = withValue(*bytes, section, key, value);
        if (result == *bytes && !created)
            return true;
        // A link stays a link and the file it names keeps its place.
        if (!created && !target.viaLink && replaceKeepsEverything(target.path, fd.get(), info) &&
            replaceFile(target.path, result, info))
            return true;
        // Where the replacement is not possible or would lose something, and
        // where it failed (no room, no temporary file), in place.
        if (!writeInPlace(fd.get(), result, info.st_size) || !fd.close())
            throw Errors::settingsNotWritten(shown(path), QString::fromLocal8Bit(std::strerror(errno)));
        return true;
    } catch (const RunTimeError& error) {
        if (failure)
            *failure = error.description();
    }
    return false;
}

} // namespace IniFile
