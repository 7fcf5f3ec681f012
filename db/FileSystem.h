#pragma once

// What the engine needs to know about a database file before SQLite opens it:
// its journal mode as the header records it, its write protection, a log left
// beside it, and the kind of file system it lies on.

#include <QString>

// The header marks the file for the write-ahead log (format bytes 18 and 19 are 2).
bool hasWalHeader(const QString& absolutePath);
// No write permission bit is set, for owner, group or others.
bool isWriteProtected(const QString& absolutePath);
// A write-ahead log with content lies beside the file ("<file>-wal").
bool hasPendingWal(const QString& absolutePath);
// The name of the network file system that holds path ("NFS", "SMB/CIFS",
// "FUSE", ...); empty for a local one or when it cannot be told.
QString networkFileSystemOf(const QString& path);
