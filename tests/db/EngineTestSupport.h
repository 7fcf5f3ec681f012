#pragma once

// Helpers shared by the engine's tests: files and a plain
// SQLite connection that knows nothing of the engine.

#include "DBEngine.h"
#include "TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Runs a query through stock SQLite (no engine collations) and returns the
// rows, columns joined by "|".
inline QStringList rawQuery(const QString& path, const QString& sql)
{
    QStringList rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("<cannot open>")};
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK) {
        rows << QStringLiteral("<error> ") + QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList cells;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                cells << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, i)));
            rows << cells.join(QLatin1Char('|'));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// The values of one column of a query through the engine, in order.
inline QStringList column(Database& db, const QString& sql, const QString& field, const QVariantList& params = {})
{
    QStringList values;
    auto records = db.OpenRecordset(sql, params);
    while (!records->EOF()) {
        values << records->value(field).toString();
        records->MoveNext();
    }
    return values;
}

// Names of the table definitions in the engine's order.
inline QStringList tableNames(Database& db)
{
    QStringList names;
    auto& defs = db.TableDefs();
    for (int i = 0; i < defs.Count(); ++i)
        names << defs.Item(i)->Name();
    return names;
}
