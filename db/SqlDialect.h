#pragma once

// The engine's SQL dialect on top of SQLite's: "delete * from", Access column
// types ("text(50)", "yesno", "memo", "long") with the file's text comparison
// and enforced sizes, True and False as -1 and 0.

#include <QString>
#include <QStringList>

#include <vector>

struct SqlToken {
    enum Kind { Space, Word, QuotedName, String, Number, Parameter, Punct };
    Kind kind = Space;
    QString text;
};

std::vector<SqlToken> tokenizeSql(const QString& sql);
// "name" with inner quotes doubled.
QString quoteName(const QString& name);
// The name a Word or QuotedName token stands for.
QString tokenName(const SqlToken& token);

struct RewrittenSql {
    QString sql;
    // Names the statement may use as tables, each once (unquoted).
    QStringList names;
    // The first table after FROM (the table a record set adds rows to).
    QString fromTable;
    // The table an INSERT, UPDATE or DELETE changes (unquoted), when named without
    // a schema, and where its name stands in sql.
    QString target;
    int targetStart = -1;
    int targetLength = 0;
};

// collation: the collation name of the file's text columns.
RewrittenSql rewriteSql(const QString& sql, const QString& collation);

// The table a "DROP TABLE" statement names; empty for any other statement.
QString droppedTable(const QString& sql);
// The table whose definition the statement changes ("alter table T ...",
// "create [unique] index I on T ..."); empty for any other statement.
QString redefinedTable(const QString& sql);
// The name a statement gives a new table ("create table T ...", "alter table
// X rename to T"); empty for any other statement. ifNotExists tells whether
// the statement says "if not exists".
QString createdTable(const QString& sql, bool* ifNotExists = nullptr);

// A column definition for the engine's field type codes; raises 3259 for an
// unknown type.
QString fieldColumnSql(const QString& name, int type, int size, bool allowZeroLength, const QString& collation);
