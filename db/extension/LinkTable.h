#pragma once

// The program file's links as tables of a connection: one eponymous virtual
// table per link, named after it, over the source table of its data file. See
// LinkTable.cpp.

#include <sqlite3ext.h>

#include <string>

namespace linktable {

// The data files open on one connection, shared by its links and freed with the last of them.
// The loader holds it from newSharedFiles until releaseLoaderHold, after its last registerLink.
struct SharedFiles;
SharedFiles* newSharedFiles();
void releaseLoaderHold(SharedFiles* shared);

// Makes name a table of db over the table table of the data file at path, with the columns of
// schema ("CREATE TABLE x(...)"). Nothing is opened until the table is used.
int registerLink(sqlite3* db, SharedFiles* shared, const std::string& name, const std::string& path,
                 const std::string& table, const std::string& schema);

// name as an SQL identifier, in double quotes.
std::string quotedName(const std::string& name);

} // namespace linktable
