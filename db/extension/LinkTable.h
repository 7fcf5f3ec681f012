#pragma once

// The zul_link virtual table module of the loadable extension: one table of
// a program file's links, read and changed in its data file. See LinkTable.cpp.

#include <sqlite3ext.h>

namespace linktable {

// The module's name in CREATE VIRTUAL TABLE ... USING.
inline constexpr const char* moduleName = "zul_link";

// Registers the module on db; the data files it opens are shared by the
// connection's link tables and closed with the last of them.
int registerModule(sqlite3* db);

} // namespace linktable
