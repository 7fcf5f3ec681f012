#pragma once

// One connection to an ODBC data source through the unixODBC driver manager,
// and statements on it. Handles are owned (freed in reverse order); every
// failed call raises the engine's Czech error with the driver's or server's
// own text attached, and no password ever appears in a message.
//
// Text goes to and from the driver as UTF-16 (the "W" calls), so any driver
// registered in odbcinst.ini serves; PostgreSQL's is "PostgreSQL Unicode".

#include "DBEngine.h"
#include "OdbcConnectString.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <vector>

struct OdbcHandleFree {
    SQLSMALLINT type;
    void operator()(void* handle) const { SQLFreeHandle(type, handle); }
};
using OdbcHandle = std::unique_ptr<void, OdbcHandleFree>;

// Dates go to and from the server as the wall-clock time they name, without a
// time zone. They are kept as UTC so that no conversion happens and no zone is
// looked up (which costs a system call per value).
// The engine's text of a date, "yyyy-MM-dd HH:mm:ss" or "yyyy-MM-dd"; invalid for any other text.
QDateTime wallClockTime(const QString& text);

// A server table as a link names it: "schema.table", or "table" in the default schema.
struct OdbcTableName {
    QString schema;
    QString table;
    static OdbcTableName parse(const QString& source);
};

class OdbcConnection {
public:
    // Connects; raises 3151 (no driver, unknown driver or data source, server
    // unreachable, refused login) with the server's text.
    explicit OdbcConnection(const QString& connect);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // A connection of this process to the same stored connect string, opened
    // at first use and kept; one that was lost is opened again.
    static std::shared_ptr<OdbcConnection> shared(const QString& connect);

    SQLHDBC handle() const { return m_dbc.get(); }
    const QString& storedConnect() const { return m_stored; }
    // The data source or driver, for messages.
    QString target() const { return m_target; }
    bool isLost() const { return m_lost; }

    // The user tables of the default schema, in the server's order.
    QStringList userTables();
    // The table's exact name on the server (its case may differ from source's); raises 3011 when missing.
    OdbcTableName findTable(const QString& source);
    std::vector<std::shared_ptr<FieldDef>> fields(const OdbcTableName& table);
    // The primary key first (when there is one), then the unique indexes.
    std::vector<std::shared_ptr<IndexDef>> keys(const OdbcTableName& table);

    // Runs one statement with parameters; the rows it changed (-1 when the driver cannot tell).
    qint64 exec(const QString& sql, const QVariantList& params = {});
    // Server transactions: autocommit off until commit or rollback.
    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const { return m_inTransaction; }

    static QString quoteName(const QString& name);
    QString qualified(const OdbcTableName& table) const;

    // Raises the error of a failed call on handle, with its diagnostics.
    [[noreturn]] void raise(SQLSMALLINT type, SQLHANDLE handle, const QString& what);

private:
    QString defaultSchema();
    // A statement handle of the connection for a catalogue call; what names the call in its error.
    OdbcHandle newStatement(const QString& what);

    OdbcHandle m_env;
    OdbcHandle m_dbc;
    QString m_stored;
    QString m_target;
    QString m_password; // only to keep it out of the server's texts
    QString m_defaultSchema;
    bool m_defaultSchemaRead = false;
    bool m_connected = false;
    bool m_inTransaction = false;
    bool m_lost = false;
};

// A value of a row as the engine keeps it: yes/no as -1 or 0, a date as "yyyy-MM-dd HH:mm:ss",
// text as UTF-8. Read without a QVariant, QString or QDateTime per value.
struct OdbcCell {
    enum Kind { Null, Integer, Real, Text } kind = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray text;
};

// A statement with parameters and typed results.
class OdbcStatement {
public:
    OdbcStatement(OdbcConnection& connection, const QString& sql);
    // Binds and executes; the parameters' buffers are kept until the next execute.
    void execute(const QVariantList& params = {});
    bool fetch();
    // The rows the last execute changed; -1 when the driver cannot tell.
    qint64 rowCount() const;
    int columnCount() const { return int(m_types.size()); }
    QString columnName(int column) const { return m_names[size_t(column)]; }
    // A column of the current row into cell, whose text buffer is reused from row to row.
    void read(int column, OdbcCell& cell);
    SQLHSTMT handle() const { return m_stmt.get(); }

private:
    void describe();

    OdbcConnection& m_connection;
    QString m_sql;
    OdbcHandle m_stmt;
    std::vector<SQLSMALLINT> m_types;
    std::vector<QString> m_names;
    std::vector<std::vector<char>> m_buffers;
    std::vector<SQLLEN> m_lengths;
};
