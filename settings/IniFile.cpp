#include "IniFile.h"

#include <QFile>
#include <QScopeGuard>

#include <unicode/ucnv.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <dirent.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
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

QString decode(const char* data, qsizetype size)
{
    if (size <= 0)
        return QString();
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

QString decode(const QByteArray& bytes)
{
    return decode(bytes.constData(), bytes.size());
}

QByteArray encode(const QString& text)
{
    if (text.isEmpty())
        return QByteArray();
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
QByteArray nameBytes(const QString& name)
{
    return encode(trimBlanks(oneLine(name)));
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

bool sameName(const QByteArray& bytes, Range range, const QString& wanted)
{
    const QString name = decode(bytes.constData() + range.begin, range.end - range.begin);
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

Location locate(const QByteArray& bytes, const std::vector<Line>& lines, const QString& section, const QString& key)
{
    Location location;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(bytes, lines[i]);
        if (!location.section) {
            if (parsed.kind == LineKind::Section && sameName(bytes, parsed.name, section)) {
                location.section = i;
                location.lastNonBlank = i;
            }
            continue;
        }
        if (parsed.kind == LineKind::Section)
            break;
        if (parsed.kind != LineKind::Blank)
            location.lastNonBlank = i;
        if (!location.key && parsed.kind == LineKind::Key && sameName(bytes, parsed.name, key)) {
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

// The whole content of an ordinary file. A missing file, a folder or anything
// unreadable gives nothing. Non-blocking open, so a pipe cannot hang us.
std::optional<QByteArray> readFile(const QByteArray& path)
{
    FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.isOpen())
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            break;
        bytes.append(buffer, count);
    }
    return bytes;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t count = ::write(fd, data, static_cast<size_t>(left));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += count;
        left -= count;
    }
    return true;
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray fileNameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// Follows symbolic links to the file they finally name, which need not exist
// yet. A loop of links gives nothing.
std::optional<QByteArray> followLinks(QByteArray path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        QByteArray target(4096, Qt::Uninitialized);
        const ssize_t length = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length <= 0 || length >= target.size())
            return std::nullopt;
        target.truncate(length);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    return std::nullopt;
}

mode_t newFileMode()
{
    // umask can only be read by setting it; the program has one thread.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
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
        FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
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
        tempPath = folderOf(target) + "/." + fileNameOf(target) + ".XXXXXX";
        FileDescriptor fd(::mkostemp(tempPath.data(), O_CLOEXEC));
        if (!fd.isOpen())
            return FileDescriptor();
        struct stat info {};
        if (::flock(fd.get(), LOCK_EX) == 0 && ::fstat(fd.get(), &info) == 0 && info.st_nlink > 0)
            return FileDescriptor(fd.release());
        ::unlink(tempPath.constData());
    }
    return FileDescriptor();
}

enum class Replaced { Yes, No, NotAsOwner };

// Replaces target by a file holding bytes: a temporary file in the same
// folder is written, flushed and renamed over it, so a crash leaves either
// the old or the new file. The temporary file never outlives a failure. An
// existing file keeps its owner, group and mode; where the new file could not
// keep them (another user's file in a shared folder), nothing is replaced and
// NotAsOwner says so.
Replaced replaceFile(const QByteArray& target, const QByteArray& bytes, const struct stat* existing)
{
    const QByteArray folder = folderOf(target);
    removeAbandonedTemporaryFiles(folder, fileNameOf(target));
    QByteArray tempPath;
    FileDescriptor fd = lockedTemporaryFile(target, tempPath);
    if (!fd.isOpen())
        return Replaced::No;
    bool committed = false;
    const auto removeTemp = qScopeGuard([&] {
        if (!committed)
            ::unlink(tempPath.constData());
    });

    if (existing) {
        // Only root may give a file away, and only a member may set a group.
        if (::fchown(fd.get(), existing->st_uid, existing->st_gid) != 0)
            return errno == EPERM ? Replaced::NotAsOwner : Replaced::No;
        if (::fchmod(fd.get(), existing->st_mode & 07777) != 0)
            return Replaced::No;
    } else if (::fchmod(fd.get(), newFileMode()) != 0) {
        return Replaced::No;
    }
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
        return Replaced::No;
    // The lock is held until the rename, so no cleaner takes the file for abandoned.
    if (::rename(tempPath.constData(), target.constData()) != 0)
        // A sticky folder refuses to replace another user's file.
        return existing && (errno == EPERM || errno == EACCES) ? Replaced::NotAsOwner : Replaced::No;
    committed = true;
    fd.close();

    // Make the rename itself durable.
    FileDescriptor folderFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.isOpen())
        ::fsync(folderFd.get());
    return Replaced::Yes;
}

// Writes the whole new content into the existing file itself, as the
// original platform does, for a file that may be written where its folder may
// not (or whose owner a replacement would change). Not atomic: a crash in the
// middle can leave a mixed file.
bool writeInPlace(const QByteArray& target, const QByteArray& bytes)
{
    FileDescriptor fd(::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.isOpen())
        return false;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // Writers of this program take turns on the file.
    ::flock(fd.get(), LOCK_EX);
    // Freshly opened, the file is written from its start.
    return writeAll(fd.get(), bytes) && ::ftruncate(fd.get(), off_t(bytes.size())) == 0 && ::fsync(fd.get()) == 0 &&
           fd.close();
}

bool folderWritable(const QByteArray& folder)
{
    return ::access(folder.constData(), W_OK | X_OK) == 0;
}

bool isReadOnly(const QByteArray& path, const struct stat& info)
{
    // A file without any write permission counts as read-only even for root,
    // like the read-only attribute of the original platform.
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.constData(), W_OK) != 0;
}

} // namespace

namespace IniFile {

QString read(const QString& filePath, const QString& section, const QString& key)
{
    if (filePath.isEmpty())
        return QString();
    const std::optional<QByteArray> bytes = readFile(localPath(filePath));
    if (!bytes)
        return QString();
    const std::vector<Line> lines = splitLines(*bytes);
    const Location location = locate(*bytes, lines, decode(nameBytes(section)), decode(nameBytes(key)));
    if (!location.key)
        return QString();

    Range value = location.value;
    // One pair of matching enclosing quotes is removed.
    if (value.end - value.begin >= 2) {
        const char first = bytes->at(value.begin);
        if ((first == '"' || first == '\'') && bytes->at(value.end - 1) == first) {
            ++value.begin;
            --value.end;
        }
    }
    // One byte of code page 1250 is one character.
    value.end = std::min(value.end, value.begin + MaxValueLength);
    return decode(bytes->constData() + value.begin, value.end - value.begin);
}

bool write(const QString& filePath, const QString& section, const QString& key, const QString& value)
{
    const QByteArray sectionName = nameBytes(section);
    const QByteArray keyName = nameBytes(key);
    if (filePath.isEmpty() || sectionName.isEmpty() || keyName.isEmpty())
        return false;

    const std::optional<QByteArray> target = followLinks(localPath(filePath));
    if (!target)
        return false;
    // The folder is never created: without it the write is lost.
    struct stat folderInfo {};
    if (::stat(folderOf(*target).constData(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
        return false;

    QByteArray bytes;
    struct stat fileInfo {};
    const bool exists = ::stat(target->constData(), &fileInfo) == 0;
    if (exists) {
        if (!S_ISREG(fileInfo.st_mode) || isReadOnly(*target, fileInfo))
            return false;
        std::optional<QByteArray> old = readFile(*target);
        if (!old)
            return false;
        bytes = std::move(*old);
    } else if (errno != ENOENT) {
        return false;
    }

    const std::vector<Line> lines = splitLines(bytes);
    const QByteArray lineEnd = fileLineEnd(bytes, lines);
    const QByteArray entry = keyName + '=' + encode(oneLine(value));
    const Location location = locate(bytes, lines, decode(sectionName), decode(keyName));

    QByteArray result;
    if (location.key) {
        const Line& line = lines[*location.key];
        result = bytes.left(line.start) + entry + bytes.mid(line.contentEnd);
    } else if (location.section) {
        const Line& line = lines[location.lastNonBlank];
        const QByteArray before = line.hasLineEnd() ? QByteArray() : lineEnd;
        result = bytes.left(line.end) + before + entry + lineEnd + bytes.mid(line.end);
    } else {
        const bool open = !bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r');
        result = bytes + (open ? lineEnd : QByteArray()) + '[' + sectionName + ']' + lineEnd + entry + lineEnd;
    }
    if (exists && result == bytes)
        return true;
    // A file that may be written in a folder that may not keeps its place.
    if (exists && !folderWritable(folderOf(*target)))
        return writeInPlace(*target, result);
    switch (replaceFile(*target, result, exists ? &fileInfo : nullptr)) {
    case Replaced::Yes:
        return true;
    case Replaced::NotAsOwner:
        return writeInPlace(*target, result);
    case Replaced::No:
        break;
    }
    return false;
}

} // namespace IniFile
