#pragma once

// The reading itself, through libmdb, in the calling process. Used by the
// child process of accessdb::read; raises RunTimeError for a file it cannot read.

#include "AccessFile.h"

namespace accessdb {
void readWithLibmdb(const QString& path, Sink& sink, bool withRows);
}
