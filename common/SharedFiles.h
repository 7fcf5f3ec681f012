#pragma once

// Files in folders that others can write. Anyone who can write such a folder
// can put a symbolic link, a FIFO, a device or a socket where the program
// expects its own file. The rules here:
//  - a symbolic link in a folder that a group or everybody may write is
//    followed for writing only when it belongs to the running user or to the
//    folder's owner (the kernel's fs.protected_symlinks rule, applied in every
//    shared folder and for root too); links a user made for himself in his
//    own folders are followed as usual;
//  - only regular files are opened; anything else is refused before it is
//    opened, and opens are non-blocking so a file swapped in between cannot
//    hold the process;
//  - no lock is waited for without a bound.

#include "RunTimeError.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <sys/types.h>

namespace SharedFiles {

// The folder part of a path: "." for a bare name, "/" for a name in the root.
QByteArray folderOf(const QByteArray& path);

// The engine's lock wait, the house rule for every wait on a lock.
constexpr std::chrono::milliseconds kLockWait{4000};

// Where path finally leads for a write, every link on the way checked with the
// rule above. viaLink tells whether the last part of path was a link. Throws
// refusedLink for a link the rule forbids and notAFile for a loop of links.
struct Target {
    QByteArray path;
    bool viaLink = false;
};
Target resolveForWrite(const QByteArray& path);

// Opens path for writing (flags: O_WRONLY or O_RDWR, O_CREAT, O_EXCL,
// O_APPEND as needed) through the links resolveForWrite allows, as a regular
// file only: a FIFO, device or socket is refused before the open. The file
// opened is checked to be the one the links lead to after the open. Returns
// the descriptor, or -1 with errno set for an ordinary failure (missing
// folder, no permission); throws for a refused link or a file that is not
// a regular one.
int openForWrite(const QByteArray& path, int flags, mode_t mode = 0666, Target* resolved = nullptr);

// Opens path for reading, as a regular file only (links followed), without
// blocking. -1 with errno for an ordinary failure; throws notRegularFile.
int openForRead(const QByteArray& path);

// Throws notRegularFile when path names (through links) something that exists
// and is not a regular file; a missing file passes, its opener reports it.
void requireRegularFile(const QString& path);

// Takes an exclusive flock on fd, waiting at most bound. False when the lock
// stayed taken (errno EWOULDBLOCK) or flock failed.
bool lockWithin(int fd, std::chrono::milliseconds bound = kLockWait);

// Whether others than the owner may write the folder of path.
bool inSharedFolder(const QByteArray& path);

} // namespace SharedFiles
