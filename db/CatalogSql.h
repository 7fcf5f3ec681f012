#pragma once

// The catalogue's tables and the statements over them, as plain text for every
// reader: the engine's Catalog and the loadable extension, which runs inside
// other programs and uses no Qt. Names are bound as parameters, never pasted.

namespace catalogsql {

inline constexpr const char* create =
    "CREATE TABLE MSysObjects (NameKey TEXT NOT NULL PRIMARY KEY, Name TEXT NOT NULL, "
    "Attributes INTEGER NOT NULL DEFAULT 0, Connect TEXT, SourceTableName TEXT);"
    "CREATE TABLE MSysFields (NameKey TEXT NOT NULL, Position INTEGER NOT NULL, Name TEXT NOT NULL, "
    "Type INTEGER NOT NULL, Size INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (NameKey, Position));"
    "CREATE TABLE MSysInfo (Name TEXT NOT NULL PRIMARY KEY, Value TEXT);";

inline constexpr const char* tableNames[] = {"MSysObjects", "MSysFields", "MSysInfo"};

// Columns of an entry, in this order, in every statement that reads entries.
inline constexpr const char* entryColumns = "Name, Attributes, Connect, SourceTableName";

// Attribute bits of a link (to a file, to an ODBC source).
inline constexpr int attachedTable = 0x40000000;
inline constexpr int attachedOdbc = 0x20000000;

// Every link with its connect string and source table: NameKey, Name, Attributes, Connect, SourceTableName.
inline constexpr const char* allLinks =
    "SELECT NameKey, Name, Attributes, Connect, SourceTableName FROM MSysObjects "
    "WHERE Connect IS NOT NULL AND Connect<>'' ORDER BY NameKey";
// The recorded fields of every link: NameKey, Name, Type, Size.
inline constexpr const char* allLinkFields = "SELECT NameKey, Name, Type, Size FROM MSysFields ORDER BY NameKey, Position";
inline constexpr const char* locale = "SELECT Value FROM MSysInfo WHERE Name='Locale'";

} // namespace catalogsql
