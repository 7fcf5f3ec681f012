#include "CommitProbe.h"

#include "DBEngine.h"

#include <chrono>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& what)
{
    throw std::runtime_error(what.toStdString());
}

} // namespace

CommitProbe::CommitProbe(const QString& path, const char* journalMode)
{
    if (!journalMode)
        DbEngine().CreateDatabase(path, dao::dbLangCzech, dao::dbVersion120)->Close();
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("cannot open %1").arg(path));
    const QByteArray setup =
        (journalMode ? QByteArrayLiteral("PRAGMA journal_mode=") + journalMode + "; PRAGMA synchronous=FULL;"
                     : QByteArrayLiteral("PRAGMA synchronous=EXTRA;")) +
        "CREATE TABLE probe (id INTEGER PRIMARY KEY, v TEXT)";
    if (sqlite3_exec(m_db.get(), setup.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(QStringLiteral("cannot prepare %1: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(m_db.get()))));

    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(m_db.get(), "PRAGMA journal_mode", -1, &statement, nullptr);
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> mode(statement);
    if (mode && sqlite3_step(mode.get()) == SQLITE_ROW)
        m_journalMode = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));

    sqlite3_prepare_v2(m_db.get(), "INSERT INTO probe (v) VALUES (?1)", -1, &statement, nullptr);
    m_insert.reset(statement);
    if (!m_insert)
        fail(QStringLiteral("cannot prepare the insert into %1").arg(path));
    // The journal's first creation is not typical.
    for (int i = 0; i < 5; ++i)
        commit();
    m_count = 0;
    m_totalMs = 0;
}

CommitProbe::~CommitProbe() = default;

double CommitProbe::commit()
{
    const QByteArray value = QByteArray::number(++m_next);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_bind_text(m_insert.get(), 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(m_insert.get());
    sqlite3_reset(m_insert.get());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (rc != SQLITE_DONE)
        fail(QStringLiteral("a probe commit failed: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db.get()))));
    ++m_count;
    m_totalMs += ms;
    return ms;
}
