#include "SharedFiles.h"

#include "Errors.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString shown(const QByteArray& path)
{
    return QFile::decodeName(path);
}

bool sharedFolder(const struct stat& folder)
{
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

namespace SharedFiles {

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

bool inSharedFolder(const QByteArray& path)
{
    struct stat folder {};
    return ::stat(folderOf(path).constData(), &folder) == 0 && sharedFolder(folder);
}

Target resolveForWrite(const QByteArray& path)
{
    Target target{path, false};
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link {};
        if (::lstat(target.path.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            return target; // a file, or nothing yet: the open decides
        if (hop == 0)
            target.viaLink = true;
        struct stat folder {};
        if (::stat(folderOf(target.path).constData(), &folder) == 0 && sharedFolder(folder) &&
            link.st_uid != ::geteuid() && link.st_uid != folder.st_uid)
            throw Errors::refusedLink(shown(target.path));
        QByteArray next(4096, Qt::Uninitialized);
        const ssize_t length = ::readlink(target.path.constData(), next.data(), size_t(next.size()));
        if (length <= 0 || length >= next.size())
            throw Errors::linkLoop(shown(path));
        next.truncate(length);
        target.path = next.startsWith('/') ? next : folderOf(target.path) + '/' + next;
    }
    throw Errors::linkLoop(shown(path));
}

namespace {

// Opens `file` as a regular file only: anything else is refused before the open where
// it can be seen, and after it where it was swapped in between (O_NONBLOCK keeps a pipe
// from blocking the open). `named` is the path the error shows.
int openRegular(const QByteArray& file, int flags, mode_t mode, const QByteArray& named)
{
    struct stat before {};
    if (::stat(file.constData(), &before) == 0 && !S_ISREG(before.st_mode))
        throw Errors::notRegularFile(shown(named));
    const int fd = ::open(file.constData(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
    if (fd < 0)
        return -1;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        throw Errors::notRegularFile(shown(named));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

int openForWrite(const QByteArray& path, int flags, mode_t mode, Target* resolved)
{
    const Target target = resolveForWrite(path);
    if (resolved)
        *resolved = target;
    // The last part was checked above: a link put there since is not followed.
    return openRegular(target.path, flags | O_NOFOLLOW, mode, path);
}

int openForRead(const QByteArray& path)
{
    return openRegular(path, O_RDONLY, 0, path);
}

void requireRegularFile(const QString& path)
{
    struct stat info {};
    if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode) &&
        !S_ISDIR(info.st_mode))
        throw Errors::notRegularFile(path);
}

bool lockWithin(int fd, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace SharedFiles
