#include "Connection.h"

#include "Errors.h"
#include "SharedFiles.h"

#include "Collation.h"
#include "DBEngine.h"
#include "FileSystem.h"
#include "OdbcTable.h"
#include "SqlDialect.h"
#include "TextLength.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

QString absolutePathOf(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void checkDatabaseFile(const QString& path)
{
    if (path.isEmpty())
        throw Errors::fileNotFound(path);
    const QFileInfo info(absolutePathOf(path));
    if (!info.exists())
        throw Errors::fileNotFound(path);
    if (info.isDir())
        throw Errors::isFolder(path);
    // A FIFO, device or socket is refused before it is opened: its open or
    // its reads could hold the process for ever.
    SharedFiles::requireRegularFile(path);
    QFile file;
    const int fd = SharedFiles::openForRead(QFile::encodeName(info.absoluteFilePath()));
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw Errors::notReadable(path);
    }
    // SQLite would take an empty file for a new database; the smallest real one is one 512-byte page.
    static const QByteArray magic("SQLite format 3\0", 16);
    if (file.size() < 512 || file.read(16) != magic)
        throw Errors::unrecognizedFormat(path);
}

QString sqliteUri(const QString& absolutePath, const char* mode)
{
    return QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(absolutePath, "/")) +
           QStringLiteral("?mode=") + QString::fromLatin1(mode);
}

Connection::Connection(const QString& path, Mode mode) : m_path(path), m_absolutePath(absolutePathOf(path))
{
    if (mode == Mode::Memory) {
        m_absolutePath = m_path;
        open("memory", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        return;
    }
    if (mode == Mode::Create) {
        open("rwc", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        setDurability();
        return;
    }
    checkDatabaseFile(path);
    m_wal = hasWalHeader(m_absolutePath);
    // A file without write permission is read-only for everybody; the system would let the superuser write it.
    if (mode == Mode::ReadWrite && isWriteProtected(m_absolutePath))
        mode = Mode::ReadOnly;
    // Where the file cannot be written SQLite opens it for reading only; a write then fails as read-only.
    if (mode == Mode::ReadOnly)
        open("ro", SQLITE_OPEN_READONLY);
    else
        open("rw", SQLITE_OPEN_READWRITE);
    // The first read of the schema tells a database from a file that only looks like one.
    int rc = readSchema();
    if (rc != SQLITE_OK && m_wal) {
        // A file in the write-ahead-log mode needs files beside it even to be read. Without a log
        // left to fold in, the file alone holds all its data and is read as it stands.
        const int kind = rc & 0xff;
        if (kind != SQLITE_CANTOPEN && kind != SQLITE_READONLY && kind != SQLITE_IOERR && kind != SQLITE_PERM)
            raise(rc);
        if (hasPendingWal(m_absolutePath))
            throw Errors::walUnreadable(m_path);
        m_immutable = true;
        open("ro&immutable=1", SQLITE_OPEN_READONLY);
        rc = readSchema();
    }
    if (rc != SQLITE_OK)
        raise(rc);
    setDurability();
}

void Connection::open(const char* uriMode, int flags)
{
    m_kept.clear();
    m_db.reset();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(sqliteUri(m_absolutePath, uriMode).toUtf8().constData(), &db,
                                   flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK) {
        if (!m_db)
            throw Errors::outOfMemory();
        raise(rc);
    }
    struct stat status {};
    if (::stat(QFile::encodeName(m_absolutePath).constData(), &status) == 0) {
        m_device = quint64(status.st_dev);
        m_inode = quint64(status.st_ino);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, lockWaitMilliseconds);
    // Files come from anywhere: their schema may not call functions with side effects
    // nor be written around the engine.
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    registerCollations();
    registerOdbcModule(db);
    textlength::registerUtf16Length(db);
}

void Connection::setDurability()
{
    // Every commit is on the disk when the call returns: in the rollback journal the commit is the
    // journal's removal, which lasts only once the folder is flushed as well. A transaction's changed
    // pages stay in memory until its commit, however many: written early they would cost flushes of
    // the journal in the middle of the transaction. (Both pragmas read the schema.)
    exec(QStringLiteral("PRAGMA synchronous=EXTRA; PRAGMA cache_spill=OFF"));
}

int Connection::readSchema()
{
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(m_db.get(), "SELECT count(*) FROM sqlite_master", -1, &raw, nullptr);
    const StatementHandle statement(raw);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(raw);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void Connection::checkWritable() const
{
    if (isReadOnly())
        throw Errors::readOnlyFile(m_path);
    if (::access(QFile::encodeName(QFileInfo(m_absolutePath).absolutePath()).constData(), W_OK) != 0)
        throw Errors::readOnlyFolder(m_path);
}

bool Connection::isReadOnly() const
{
    return m_immutable || sqlite3_db_readonly(m_db.get(), "main") == 1;
}

void Connection::checkTransaction() const
{
    if (m_transactionLevel > 0 && sqlite3_get_autocommit(m_db.get()) != 0)
        throw Errors::transactionAbandoned(m_path);
}

void Connection::beginWrite()
{
    checkTransaction();
    if (!m_wal || sqlite3_get_autocommit(m_db.get()) == 0)
        return;
    // A file left in the write-ahead-log mode goes over to the rollback journal at its first write.
    // That needs the file to itself: while another program has it open the write goes to the log.
    sqlite3_busy_timeout(m_db.get(), 0);
    const int rc = sqlite3_exec(m_db.get(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(m_db.get(), lockWaitMilliseconds);
    if (rc == SQLITE_OK)
        m_wal = hasWalHeader(m_absolutePath);
}

void Connection::runWrite(Statement& statement)
{
    beginWrite();
    statement.run();
}

Connection::~Connection() = default;

void Connection::registerCollations()
{
    const char* failedLocale = nullptr;
    const int rc = registerZulCollations(m_db.get(), &failedLocale);
    if (failedLocale)
        throw Errors::collationUnavailable(QString::fromLatin1(failedLocale));
    if (rc != SQLITE_OK)
        raise(rc);
}

void Connection::exec(const QString& sql)
{
    const int rc = sqlite3_exec(m_db.get(), sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        raise(rc, sql);
}

void Connection::raise(int rc, const QString& sql) const
{
    // A link to a server failed inside SQLite: its own error, with its number.
    int odbcNumber = 0;
    QString odbcText;
    if (takeOdbcError(&odbcNumber, &odbcText))
        throw RunTimeError(odbcNumber, odbcText);
    const int extended = m_db ? sqlite3_extended_errcode(m_db.get()) : rc;
    const QString message = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db.get())) : QString();
    const auto after = [&message](const QString& prefix) {
        return message.startsWith(prefix) ? message.mid(prefix.size()).trimmed() : message;
    };
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw Errors::fileLocked(m_path, lockWaitMilliseconds / 1000);
    case SQLITE_NOTADB:
        throw Errors::unrecognizedFormat(m_path);
    case SQLITE_CORRUPT:
        throw Errors::databaseCorrupt(m_path);
    case SQLITE_READONLY:
        if (extended == SQLITE_READONLY_DIRECTORY)
            throw Errors::readOnlyFolder(m_path);
        throw Errors::readOnlyFile(m_path);
    case SQLITE_FULL:
        throw Errors::diskFull(m_path);
    case SQLITE_IOERR:
        throw Errors::diskIo(m_path);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        throw Errors::cannotOpen(m_path);
    case SQLITE_CONSTRAINT:
        switch (extended) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY: {
            const QString columns = after(QStringLiteral("UNIQUE constraint failed:"));
            const QString table = columns.section(QLatin1Char('.'), 0, 0);
            throw Errors::duplicateValue(table);
        }
        case SQLITE_CONSTRAINT_CHECK: {
            // Size and zero-length rules are named "size:<n>:<field>" and "nonempty:<field>".
            const QString name = after(QStringLiteral("CHECK constraint failed:"));
            if (name.startsWith(QStringLiteral("size:")))
                throw Errors::fieldTooSmall(name.section(QLatin1Char(':'), 2, -1),
                                            name.section(QLatin1Char(':'), 1, 1).toInt());
            if (name.startsWith(QStringLiteral("nonempty:")))
                throw Errors::zeroLengthNotAllowed(name.section(QLatin1Char(':'), 1, -1));
            throw Errors::validationRule(name);
        }
        case SQLITE_CONSTRAINT_NOTNULL:
            throw Errors::fieldRequired(after(QStringLiteral("NOT NULL constraint failed:")));
        default:
            throw Errors::tableRule(message);
        }
    default:
        break;
    }
    // A linked table is a view of the connection: a change to it is refused as the original engine does.
    static const QRegularExpression viewChange(QStringLiteral("^cannot modify (.+) because it is a view$"));
    if (const QRegularExpressionMatch match = viewChange.match(message); match.hasMatch())
        throw Errors::linkNotChangeable(match.captured(1));
    if (message.startsWith(QStringLiteral("no such table:")))
        throw Errors::inputTableNotFound(after(QStringLiteral("no such table:")).section(QLatin1Char('.'), -1));
    if (!sql.isEmpty())
        throw Errors::sqlFailed(sql.simplified(), message);
    throw Errors::engineFailed(message);
}

size_t Connection::SqlHash::operator()(const QString& sql) const noexcept
{
    // FNV-1a over the length and at most 32 characters spread over the text.
    size_t hash = 14695981039346656037ull ^ size_t(sql.size());
    const qsizetype step = sql.size() / 32 + 1;
    for (qsizetype i = 0; i < sql.size(); i += step)
        hash = (hash ^ sql.at(i).unicode()) * 1099511628211ull;
    return hash;
}

StatementHandle Connection::takeKept(const QString& sql)
{
    // A taken statement leaves its slot empty rather than removed: no allocation per use.
    const auto kept = m_kept.find(sql);
    return kept == m_kept.end() ? nullptr : std::move(kept->second);
}

void Connection::keep(const QString& sql, StatementHandle statement) noexcept
{
    const auto slot = m_kept.find(sql);
    if (slot != m_kept.end()) {
        if (!slot->second)
            slot->second = std::move(statement);
        return;
    }
    // The engine has a few dozen fixed texts; the bound only guards against a caller that makes texts up.
    constexpr size_t limit = 64;
    if (m_kept.size() >= limit)
        return;
    try {
        m_kept.emplace(sql, std::move(statement));
    } catch (...) {
        // Not kept: the next Statement prepares its own.
    }
}

Statement::Statement(Connection& connection, const QString& sql, Reuse reuse) : m_connection(connection), m_sql(sql)
{
    if (reuse == Reuse::Kept) {
        m_statement = connection.takeKept(sql);
        m_kept = true;
        if (m_statement)
            return;
    }
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(connection.handle(), utf8.constData(), int(utf8.size()), &statement, &tail);
    m_statement.reset(statement);
    if (rc != SQLITE_OK)
        connection.raise(rc, sql);
    if (!m_statement)
        throw Errors::emptySql();
    // One statement per call: a second one would otherwise be skipped without a word.
    for (const SqlToken& token : tokenizeSql(QString::fromUtf8(tail, utf8.constData() + utf8.size() - tail)))
        if (token.kind != SqlToken::Space && token.text != QLatin1String(";"))
            throw Errors::severalStatements(sql.simplified());
}

Statement::~Statement()
{
    if (!m_kept || !m_statement)
        return;
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
    m_connection.keep(m_sql, std::move(m_statement));
}

void Statement::bind(int index, const QVariant& value)
{
    sqlite3_stmt* s = m_statement.get();
    int rc = SQLITE_OK;
    if (value.isNull() || !value.isValid()) {
        rc = sqlite3_bind_null(s, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Bool:
            rc = sqlite3_bind_int(s, index, value.toBool() ? -1 : 0);
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::UChar:
        case QMetaType::Long:
            rc = sqlite3_bind_int64(s, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(s, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(s, index, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QDateTime:
            rc = sqlite3_bind_text(
                s, index, value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8().constData(), -1,
                SQLITE_TRANSIENT);
            break;
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(s, index, text.constData(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                                     SQLITE_UTF8);
            break;
        }
        }
    }
    if (rc == SQLITE_RANGE)
        throw Errors::tooFewParameters(m_sql.simplified());
    if (rc != SQLITE_OK)
        m_connection.raise(rc, m_sql);
}

void Statement::bindAll(const QVariantList& values)
{
    const int expected = sqlite3_bind_parameter_count(m_statement.get());
    if (values.size() != expected)
        throw Errors::parameterCount(m_sql.simplified(), expected, int(values.size()));
    for (int i = 0; i < values.size(); ++i)
        bind(i + 1, values.at(i));
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_statement.get());
    m_connection.raise(rc, m_sql);
}

void Statement::run()
{
    while (step()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_statement.get());
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_statement.get(), column));
}

QString Statement::columnDeclType(int column) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_statement.get(), column));
}

QString Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement.get(), column));
    return QString::fromUtf8(data, sqlite3_column_bytes(m_statement.get(), column));
}

QVariant Statement::column(int column) const
{
    sqlite3_stmt* s = m_statement.get();
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER: {
        const qint64 value = sqlite3_column_int64(s, column);
        if (m_yesNo.empty())
            m_yesNo.assign(size_t(sqlite3_column_count(s)), -1);
        signed char& yesNo = m_yesNo[size_t(column)];
        if (yesNo < 0)
            yesNo = isYesNoDeclType(columnDeclType(column)) ? 1 : 0;
        if (yesNo == 1)
            return QVariant(value != 0);
        if (value >= INT_MIN && value <= INT_MAX)
            return QVariant(int(value));
        return QVariant(qlonglong(value));
    }
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(s, column));
    case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s, column));
        return QVariant(QByteArray(data, sqlite3_column_bytes(s, column)));
    }
    default:
        return QVariant(text(column));
    }
}

Transaction::Transaction(Connection& connection)
    : m_connection(connection), m_nested(sqlite3_get_autocommit(connection.handle()) == 0)
{
    if (!m_nested)
        connection.beginWrite();
    // Inside a transaction the caller began with Execute("begin") a savepoint keeps the step whole.
    Statement begin(connection, m_nested ? QStringLiteral("SAVEPOINT zul_step") : QStringLiteral("BEGIN IMMEDIATE"),
                    Statement::Reuse::Kept);
    begin.run();
    m_open = true;
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    if (m_nested)
        sqlite3_exec(m_connection.handle(), "ROLLBACK TO zul_step; RELEASE zul_step", nullptr, nullptr, nullptr);
    else
        sqlite3_exec(m_connection.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    Statement end(m_connection, m_nested ? QStringLiteral("RELEASE zul_step") : QStringLiteral("COMMIT"),
                  Statement::Reuse::Kept);
    end.run();
    m_open = false;
}

bool isYesNoDeclType(const QString& declType)
{
    const QString type = declType.trimmed().toUpper();
    return type == QLatin1String("YESNO") || type == QLatin1String("BOOLEAN") || type == QLatin1String("BOOL") ||
           type == QLatin1String("BIT") || type == QLatin1String("LOGICAL");
}

namespace {

int fieldTypeOfDeclTypeText(const QString& declType, int* size)
{
    const QString type = declType.trimmed().toUpper();
    const int open = type.indexOf(QLatin1Char('('));
    const QString base = (open < 0 ? type : type.left(open)).trimmed();
    int length = 0;
    if (open >= 0)
        length = type.mid(open + 1).section(QLatin1Char(')'), 0, 0).section(QLatin1Char(','), 0, 0).trimmed().toInt();
    if (size)
        *size = 0;
    if (isYesNoDeclType(base))
        return dao::dbBoolean;
    if (base.contains(QLatin1String("INT")))
        return dao::dbLong;
    if (base.contains(QLatin1String("CHAR")) || base.contains(QLatin1String("TEXT")) ||
        base.contains(QLatin1String("CLOB"))) {
        if (length > 0 && base != QLatin1String("LONGTEXT")) {
            if (size)
                *size = length;
            return dao::dbText;
        }
        return dao::dbMemo;
    }
    if (base.contains(QLatin1String("REAL")) || base.contains(QLatin1String("FLOA")) ||
        base.contains(QLatin1String("DOUB")) || base.contains(QLatin1String("NUM")) ||
        base.contains(QLatin1String("DEC")) || base.contains(QLatin1String("CURRENCY")))
        return dao::dbDouble;
    if (base.contains(QLatin1String("DATE")) || base.contains(QLatin1String("TIME")))
        return dao::dbDate;
    return dao::dbMemo;
}

} // namespace

int fieldTypeOfDeclType(const QString& declType, int* size)
{
    // Files use few distinct declared types; each is worked out once.
    thread_local QHash<QString, std::pair<int, int>> known;
    const auto found = known.constFind(declType);
    if (found != known.constEnd()) {
        if (size)
            *size = found->second;
        return found->first;
    }
    int length = 0;
    const int type = fieldTypeOfDeclTypeText(declType, &length);
    if (known.size() < 256)
        known.insert(declType, {type, length});
    if (size)
        *size = length;
    return type;
}
