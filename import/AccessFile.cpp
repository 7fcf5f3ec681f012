#include "AccessFile.h"

#include "Errors.h"
#include "MdbReader.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace accessdb {
namespace {

// The first page of every Access-format file: a page type, then the engine's name.
constexpr int pageSize2000 = 4096;
constexpr qint64 smallestFile = 2048; // one page of the 97 engine
constexpr int versionOffset = 0x14;
constexpr quint8 newestVersion = 0x06; // 2019
// The reading process's CPU time: a damaged file must not make it run for ever. A
// sound file needs a fraction of a second per megabyte.
rlim_t childCpuSeconds(qint64 fileSize)
{
    return rlim_t(5 + fileSize / (1024 * 1024));
}
// Its address space: a damaged property block makes the library allocate without
// end. The address sanitizer reserves far more for itself, so its builds go without.
#if defined(__SANITIZE_ADDRESS__)
#define DIVADEDADI_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIVADEDADI_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef DIVADEDADI_ADDRESS_SANITIZER
constexpr rlim_t childAddressSpace = rlim_t(1) << 30;
#endif

enum class Tag : quint8 { Info = 1, Table, Row, TableEnd, Link, Objects, Error, Done };

// The page type and the engine's name that open every Access-format file.
bool hasAccessSignature(const QByteArray& head)
{
    return head.size() >= 20 && head.startsWith(QByteArray("\x00\x01\x00\x00", 4)) &&
           (head.mid(4, 16) == QByteArray("Standard Jet DB\0", 16) ||
            head.mid(4, 16) == QByteArray("Standard ACE DB\0", 16));
}

// The header checks that need no library: what the file is and whether it is too new.
void checkHeader(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw Errors::fileNotFound(path);
    if (info.isDir())
        throw Errors::isFolder(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Errors::notReadable(path);
    const QByteArray head = file.read(versionOffset + 1);
    if (head.size() < versionOffset + 1 || !hasAccessSignature(head))
        throw Errors::notAccess(path);
    const auto version = quint8(head.at(versionOffset));
    if (version > newestVersion)
        throw Errors::newerAccess(path, version);
    const qint64 page = version == 0 ? smallestFile : pageSize2000;
    if (info.size() < 2 * page || info.size() % page != 0)
        throw Errors::accessSize(path, info.size(), page);
}

QDataStream& operator<<(QDataStream& s, const Column& c)
{
    return s << c.name << qint32(c.type) << qint32(c.size) << c.sourceType;
}
QDataStream& operator>>(QDataStream& s, Column& c)
{
    qint32 type = 0, size = 0;
    s >> c.name >> type >> size >> c.sourceType;
    c.type = type;
    c.size = size;
    return s;
}

// Writes what the reader finds into the pipe to the parent.
class StreamSink : public Sink {
public:
    explicit StreamSink(QDataStream& out) : m_out(out) {}
    void info(const FileInfo& info) override { m_out << quint8(Tag::Info) << info.format << info.czech << qint32(info.tables) << info.rows; }
    void table(const Table& table) override
    {
        m_out << quint8(Tag::Table) << table.name << table.hidden << quint32(table.columns.size());
        for (const Column& column : table.columns)
            m_out << column;
        m_out << quint32(table.indexes.size());
        for (const Index& index : table.indexes)
            m_out << index.name << index.primary << index.columns;
        flush();
    }
    void row(const QVariantList& values) override { m_out << quint8(Tag::Row) << values; }
    void tableEnd(const QStringList& lossy) override
    {
        m_out << quint8(Tag::TableEnd) << lossy;
        flush();
    }
    void link(const Link& link) override
    {
        m_out << quint8(Tag::Link) << link.name << link.odbc << link.hidden << link.database << link.foreignName
              << link.connect;
    }
    void objects(const Objects& o) override
    {
        m_out << quint8(Tag::Objects) << qint32(o.queries) << qint32(o.forms) << qint32(o.reports) << qint32(o.macros)
              << qint32(o.modules);
    }

private:
    // Whole tables reach the parent before a crash in the next one.
    void flush() { static_cast<QFileDevice*>(m_out.device())->flush(); }
    QDataStream& m_out;
};

[[noreturn]] void runChild(const std::function<void(Sink&)>& reader, int fd, rlim_t cpuSeconds)
{
    // The library reports damage, and dumps pages, on the standard outputs; the
    // parent reports in Czech, and its own output stays clean.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
    }
    // SIGXCPU at the soft limit, which the parent reports as too long a read.
    const rlimit cpu{cpuSeconds, cpuSeconds + 2};
    ::setrlimit(RLIMIT_CPU, &cpu);
#ifndef DIVADEDADI_ADDRESS_SANITIZER
    const rlimit space{childAddressSpace, childAddressSpace};
    ::setrlimit(RLIMIT_AS, &space);
#endif
    ::unsetenv("MDBICONV"); // the library's text comes out as UTF-8
    QFile pipe;
    if (!pipe.open(fd, QIODevice::WriteOnly))
        ::_exit(3);
    QDataStream out(&pipe);
    out.setVersion(QDataStream::Qt_6_0);
    try {
        StreamSink sink(out);
        reader(sink);
        out << quint8(Tag::Done);
    } catch (const RunTimeError& error) {
        out << quint8(Tag::Error) << qint32(error.number()) << error.description();
    }
    pipe.close();
    ::_exit(0);
}

// The child process and the reading end of its pipe; ended and reaped on every way out.
class Child {
public:
    Child(pid_t pid, int fd) : m_pid(pid), m_fd(fd) {}
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }
    int fd() const { return m_fd; }
    // How the child ended.
    int wait()
    {
        int status = 0;
        while (m_pid > 0 && ::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
        return status;
    }

private:
    pid_t m_pid;
    int m_fd;
};

RunTimeError crashed(const QString& path, int status)
{
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        return Errors::readerTimedOut(path);
    const QString how = WIFSIGNALED(status) ? QStringLiteral("signálem %1").arg(WTERMSIG(status))
                                            : QStringLiteral("kódem %1").arg(WEXITSTATUS(status));
    return Errors::readerFailed(path, how);
}

} // namespace

bool looksLikeAccessFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && hasAccessSignature(file.read(20));
}

void read(const QString& path, Sink& sink, bool withRows)
{
    checkHeader(path);
    readInChild(path, sink, [&](Sink& out) { readWithLibmdb(path, out, withRows); });
}

void readInChild(const QString& path, Sink& sink, const std::function<void(Sink&)>& reader)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw Errors::readerNotStarted();
    const rlim_t cpuSeconds = childCpuSeconds(QFileInfo(path).size());
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw Errors::readerNotStarted();
    }
    if (pid == 0) {
        // The reader holds copies of the import's open files, its lock on the reserved name among them:
        // it ends with its parent, so a killed import leaves nothing locked for the next one to wait on.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(4);
        ::close(fds[0]);
        runChild(reader, fds[1], cpuSeconds);
    }
    ::close(fds[1]);
    Child child(pid, fds[0]);
    QFile pipe;
    if (!pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fds[0]);
        throw Errors::readerNotStarted();
    }
    QDataStream in(&pipe);
    in.setVersion(QDataStream::Qt_6_0);
    Table table;
    QVariantList values;
    for (;;) {
        quint8 tag = 0;
        in >> tag;
        if (in.status() != QDataStream::Ok)
            throw crashed(path, child.wait());
        switch (Tag(tag)) {
        case Tag::Info: {
            FileInfo info;
            qint32 tables = 0;
            in >> info.format >> info.czech >> tables >> info.rows;
            info.tables = tables;
            if (in.status() == QDataStream::Ok)
                sink.info(info);
            break;
        }
        case Tag::Table: {
            table = Table();
            quint32 count = 0;
            in >> table.name >> table.hidden >> count;
            for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
                Column column;
                in >> column;
                table.columns.push_back(column);
            }
            in >> count;
            for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
                Index index;
                in >> index.name >> index.primary >> index.columns;
                table.indexes.push_back(index);
            }
            if (in.status() == QDataStream::Ok)
                sink.table(table);
            break;
        }
        case Tag::Row:
            in >> values;
            if (in.status() == QDataStream::Ok)
                sink.row(values);
            break;
        case Tag::TableEnd: {
            QStringList lossy;
            in >> lossy;
            if (in.status() == QDataStream::Ok)
                sink.tableEnd(lossy);
            break;
        }
        case Tag::Link: {
            Link link;
            in >> link.name >> link.odbc >> link.hidden >> link.database >> link.foreignName >> link.connect;
            if (in.status() == QDataStream::Ok)
                sink.link(link);
            break;
        }
        case Tag::Objects: {
            qint32 q = 0, f = 0, r = 0, m = 0, mo = 0;
            in >> q >> f >> r >> m >> mo;
            if (in.status() == QDataStream::Ok)
                sink.objects(Objects{q, f, r, m, mo});
            break;
        }
        case Tag::Error: {
            qint32 number = 0;
            QString description;
            in >> number >> description;
            if (in.status() == QDataStream::Ok) {
                child.wait();
                throw RunTimeError(number, description);
            }
            break;
        }
        case Tag::Done: {
            const int status = child.wait();
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                throw crashed(path, status);
            return;
        }
        default:
            throw crashed(path, child.wait());
        }
        if (in.status() != QDataStream::Ok)
            throw crashed(path, child.wait());
    }
}

} // namespace accessdb
