#pragma once

// Helpers shared by the engine's tests: error capture, files and a plain
// SQLite connection that knows nothing of the engine.

#include "DBEngine.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <functional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (const QString& text : list)
        *out << " \"" << text.toStdString() << '"';
    *out << " }";
}

// "number|description" of the error the call raises, or "no error".
inline QString errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const RunTimeError& e) {
        return QString::number(e.number()) + QLatin1Char('|') + e.description();
    }
    return QStringLiteral("no error");
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

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
