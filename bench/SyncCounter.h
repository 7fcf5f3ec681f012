#pragma once

#include <QString>

// Counts the durable flushes of this process: fsync and fdatasync are taken
// over here (SQLite's library calls them through the dynamic linker) and
// counted by the path of the flushed file or folder before the system's own
// call runs.
namespace SyncCounter {
void reset();
// Flushes of the database file at absolutePath, of its journal and of its
// folder (which should hold no other file that is written).
int flushesOf(const QString& absolutePath);
} // namespace SyncCounter
