#pragma once

// What the engine needs of an ODBC data source: the server's user tables as
// the table definitions of an opened "database", and the fields of the server
// table an ODBC link names.

#include "DBEngine.h"

#include <memory>
#include <vector>

class DbCore;

// A database whose table definitions are the user tables of the server's
// default schema, as local tables with the server's fields; it holds no rows
// (a program reads them through links). Its name is the connect string
// without password. Raises 3151 when the server cannot be reached.
std::shared_ptr<DbCore> openServerCatalog(const QString& connect);

// The fields of the server table *source names (a table of the default
// schema, or "schema.table"); *source becomes the server's own spelling.
// Raises 3151 when the server cannot be reached and 3011 when the table is missing.
std::vector<std::shared_ptr<FieldDef>> odbcSourceFields(const QString& connect, QString* source);

// True when the server of an ODBC connect string answers.
bool odbcServerAnswers(const QString& connect);
