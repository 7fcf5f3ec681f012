#pragma once

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <memory>

// Durable one-row commits on a file of its own: each insert is its own
// transaction, the engine's promise that a change is on the disk when the call
// returns. Without a journal mode the file is made by the engine and keeps its
// journal and flush settings (synchronous=EXTRA); with one, synchronous=FULL.
class CommitProbe {
public:
    explicit CommitProbe(const QString& path, const char* journalMode = nullptr);
    ~CommitProbe();
    CommitProbe(const CommitProbe&) = delete;
    CommitProbe& operator=(const CommitProbe&) = delete;

    // One commit; returns its milliseconds and adds them to the mean.
    double commit();
    const QByteArray& journalMode() const { return m_journalMode; }
    // The mean of the commits after the constructor's warm-up.
    double meanMs() const { return m_count ? m_totalMs / m_count : 0; }

private:
    struct SqliteCloser {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    struct StatementFinalizer {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    std::unique_ptr<sqlite3, SqliteCloser> m_db;
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> m_insert;
    QByteArray m_journalMode;
    int m_next = 0;
    int m_count = 0;
    double m_totalMs = 0;
};
