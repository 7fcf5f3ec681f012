#pragma once

// One SQLite connection as the engine uses it: the file checked before SQLite
// sees it, durable commits, a bounded wait for locks, the text collations, and
// SQLite's failures turned into the engine's numbered Czech errors.

#include "Collation.h"
#include "RunTimeError.h"

#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <memory>
#include <unordered_map>
#include <vector>

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Collation names written into the schema of text columns.
inline const QString czechCollation = QLatin1String(zulCzechCollationName);
inline const QString generalCollation = QLatin1String(zulGeneralCollationName);

// How long a lock held by another process is waited for.
constexpr int lockWaitMilliseconds = 4000;

// Raises the engine's error when path does not name a file that looks like an
// SQLite database. Reads at most the header; never writes.
void checkDatabaseFile(const QString& path);
QString absolutePathOf(const QString& path);
// The URI SQLite opens a file by; mode is "ro", "rw" or "rwc".
QString sqliteUri(const QString& absolutePath, const char* mode);

class Statement;

class Connection {
public:
    // Memory: a private database in memory, gone when the connection closes.
    enum class Mode { ReadWrite, ReadOnly, Create, Memory };
    // path is kept as given for messages; the file is opened by its absolute path.
    Connection(const QString& path, Mode mode);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db.get(); }
    const QString& path() const { return m_path; }
    const QString& absolutePath() const { return m_absolutePath; }
    // The file the connection has open, as the system names it.
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }

    // Runs statements without parameters.
    void exec(const QString& sql);
    // Opened for reading only: the file, its folder or its medium cannot be written, or it is write-protected.
    bool isReadOnly() const;
    // Raises when the file or its folder (where its journal is made) cannot be written.
    void checkWritable() const;
    // Before a write: raises when SQLite cancelled the caller's transaction and, outside a transaction,
    // switches a file still in the write-ahead-log mode to the rollback journal. Called by the writes
    // themselves (runWrite, Transaction, the caller's BeginTrans), not by their callers.
    void beginWrite();
    // Runs a statement that changes the file, after beginWrite.
    void runWrite(Statement& statement);
    // Raises when the caller's transaction (BeginTrans) was cancelled by SQLite after a failed write.
    void checkTransaction() const;
    int transactionLevel() const { return m_transactionLevel; }
    void setTransactionLevel(int level) { m_transactionLevel = level; }
    // The engine's error for a failed SQLite call on this connection.
    [[noreturn]] void raise(int rc, const QString& sql = QString()) const;

private:
    friend class Statement;
    // Opens the file with the URI mode and the open flags and sets the connection up.
    void open(const char* uriMode, int flags);
    // SQLite's result of the first read of the schema.
    int readSchema();
    void setDurability();
    void registerCollations();
    // The kept statement for sql, taken out of the cache; null when there is none.
    StatementHandle takeKept(const QString& sql);
    // Gives a reset statement back for the next Statement of the same text.
    void keep(const QString& sql, StatementHandle statement) noexcept;

    QString m_path;
    QString m_absolutePath;
    bool m_wal = false;       // the header asks for the write-ahead log
    bool m_immutable = false; // read as it stands, without locks (a log-mode file in a read-only place)
    int m_transactionLevel = 0;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    SqliteHandle m_db;
    // A quick hash of some of the text's characters: the kept texts are few and differ early
    // or in length, and a full hash of every text at every use showed in profiles.
    struct SqlHash {
        size_t operator()(const QString& sql) const noexcept;
    };
    // Prepared statements waiting for reuse, by SQL text; the slot of one in use is empty.
    // Declared after m_db: they are finalized before the connection closes.
    std::unordered_map<QString, StatementHandle, SqlHash> m_kept;
};

// A prepared statement with QVariant parameters and results. Yes/No values
// (bool) are stored as -1 and 0.
class Statement {
public:
    // Kept: the statement is prepared once per connection and SQL text and, when
    // this object ends, reset, unbound and kept for the next one. Meant for the
    // engine's own fixed texts that run once per table or per call.
    enum class Reuse { Fresh, Kept };
    Statement(Connection& connection, const QString& sql, Reuse reuse = Reuse::Fresh);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    void bind(int index, const QVariant& value); // 1-based
    void bindAll(const QVariantList& values);
    // Steps once; true while a row is there.
    bool step();
    // Steps to the end (a statement that returns no rows).
    void run();
    void reset();
    int columnCount() const;
    QString columnName(int column) const;
    QString columnDeclType(int column) const;
    QVariant column(int column) const;
    qint64 int64(int column) const { return sqlite3_column_int64(m_statement.get(), column); }
    QString text(int column) const;
    bool isNull(int column) const { return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL; }
    sqlite3_stmt* handle() const { return m_statement.get(); }

private:
    Connection& m_connection;
    QString m_sql;
    StatementHandle m_statement;
    bool m_kept = false;
    // Per column: 1 when its declared type is yes/no, 0 when not, -1 not yet asked (asked once, not per row).
    mutable std::vector<signed char> m_yesNo;
};

// BEGIN IMMEDIATE ... COMMIT (a savepoint inside an open transaction); rolled back
// when destroyed uncommitted.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    void commit();

private:
    Connection& m_connection;
    bool m_nested;
    bool m_open = false;
};

// The field type code of a declared SQL column type.
int fieldTypeOfDeclType(const QString& declType, int* size = nullptr);
bool isYesNoDeclType(const QString& declType);
