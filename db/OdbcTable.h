#pragma once

// ODBC links read and changed by the engine's statements: an SQLite virtual
// table module "zul_odbc" that forwards to the server table of a link.
//
//   CREATE VIRTUAL TABLE temp.zul_odbc1 USING zul_odbc(<connect hex>, <source hex>, <collation>)
//
// Arguments: the link's connect string and source table, each as "h" and the
// hexadecimal digits of its UTF-8 text (no quoting rules to get wrong), and
// the collation of the program file's text columns. Conditions on numeric
// columns (=, <, <=, >, >=) are passed to the server, so that a lookup by a
// numeric key is done by the server's index; text is compared by SQLite in
// the program file's order. INSERT, UPDATE and DELETE go to the server by the
// table's key (its primary key, else a unique index, of any number of
// columns); a table without one is read-only (3027). A write opens a server
// transaction that ends with SQLite's.

#include <QString>

#ifdef DIVADEDADI_SQLITE_EXTENSION
#include <sqlite3ext.h>
#else
#include <sqlite3.h>
#endif

// Makes name an eponymous table of db over the server table source (name when
// empty) of the ODBC link connect; the loadable extension's link tables. The
// server is asked at the table's first use, not here.
int registerOdbcLinkTable(sqlite3* db, const QString& name, const QString& connect, const QString& source,
                          const QString& collation);

#ifndef DIVADEDADI_SQLITE_EXTENSION
// Registers the module on a connection of the engine.
void registerOdbcModule(sqlite3* db);

// The statements that make a link readable and writable under its own name:
// the virtual table table, a TEMP view name over it and INSTEAD OF triggers
// that write into it by the server table's key. Asks the server for the
// table's fields and key; raises 3151 or 3011 when it cannot.
QString odbcLinkSql(const QString& name, const QString& table, const QString& connect, const QString& source,
                    const QString& collation);

// The error a module call failed with, kept for the engine to raise with its
// number (3027, 3151, ...) instead of SQLite's generic text; empty when none.
bool takeOdbcError(int* number, QString* description);
#endif
