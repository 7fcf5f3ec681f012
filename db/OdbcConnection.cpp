// Connections and statements over unixODBC, and ODBC's catalogue calls read as
// the engine's table definitions.

#include "OdbcConnection.h"

#include "Errors.h"

#include <QDateTime>
#include <QMutex>
#include <QRegularExpression>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

SQLWCHAR* wide(const QString& text)
{
    return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())));
}

QString fromWide(const SQLWCHAR* text, qsizetype length = -1)
{
    if (length < 0) {
        length = 0;
        while (text[length])
            ++length;
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

struct Diagnostic {
    QString state;
    QString text;
};

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<Diagnostic> result;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2048] = {};
        SQLSMALLINT length = 0;
        if (!succeeded(SQLGetDiagRecW(type, handle, record, state, &native, message, SQLSMALLINT(std::size(message)),
                                      &length)))
            break;
        // "[unixODBC][Driver Manager]..." and the driver's own brackets say who, not what.
        QString text = fromWide(message).trimmed();
        static const QRegularExpression vendor(QStringLiteral("^(\\[[^\\]]*\\])+"));
        text.remove(vendor);
        result.push_back({fromWide(state, 5), text.trimmed()});
    }
    return result;
}

// The ODBC type of a column read as the engine's field type and size.
void mapType(SQLSMALLINT dataType, const QString& typeName, int columnSize, FieldDef& field)
{
    switch (dataType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        // psqlODBC reports boolean columns as text unless told otherwise.
        if (typeName.compare(QLatin1String("bool"), Qt::CaseInsensitive) == 0) {
            field.Type = dao::dbBoolean;
        } else if (columnSize > 0 && columnSize <= 255) {
            field.Type = dao::dbText;
            field.Size = columnSize;
        } else {
            field.Type = dao::dbMemo;
        }
        break;
    case SQL_BIT:
        field.Type = dao::dbBoolean;
        break;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
        field.Type = dao::dbLong;
        break;
    case SQL_BIGINT:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        field.Type = dao::dbDouble;
        break;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
        field.Type = dao::dbDate;
        break;
    default:
        field.Type = dao::dbMemo;
        break;
    }
    if (field.Type == dao::dbText || field.Type == dao::dbMemo)
        field.AllowZeroLength = true;
}

QString escapedPattern(const QString& name)
{
    QString escaped;
    for (const QChar c : name) {
        if (c == QLatin1Char('_') || c == QLatin1Char('%') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

QMutex sharedLock;
std::map<QString, std::shared_ptr<OdbcConnection>>& sharedConnections()
{
    static std::map<QString, std::shared_ptr<OdbcConnection>> connections;
    return connections;
}

} // namespace

QDateTime wallClockTime(const QString& text)
{
    if (text.size() != 10 && text.size() != 19)
        return QDateTime();
    const QDate date = QDate::fromString(text.left(10), Qt::ISODate);
    const QTime time = text.size() == 10 ? QTime(0, 0) : QTime::fromString(text.mid(11), Qt::ISODate);
    if (!date.isValid() || !time.isValid() || (text.size() == 19 && text.at(10) != QLatin1Char(' ')))
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

OdbcTableName OdbcTableName::parse(const QString& source)
{
    const qsizetype dot = source.indexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {QString(), source};
    return {source.left(dot), source.mid(dot + 1)};
}

OdbcConnection::OdbcConnection(const QString& connect)
    : m_env(nullptr, OdbcHandleFree{SQL_HANDLE_ENV}), m_dbc(nullptr, OdbcHandleFree{SQL_HANDLE_DBC})
{
    const OdbcConnectString parsed = OdbcConnectString::parse(connect);
    m_stored = parsed.storedForm();
    m_target = parsed.target();
    const QString driverString = parsed.driverString();
    {
        // The password to keep out of texts: whatever follows PWD= in what the driver gets.
        static const QRegularExpression pwd(QStringLiteral("(?:^|;)PWD=(\\{(?:[^}]|\\}\\})*\\}|[^;]*)"));
        const auto match = pwd.match(driverString);
        if (match.hasMatch()) {
            m_password = match.captured(1);
            if (m_password.startsWith(QLatin1Char('{')))
                m_password = m_password.mid(1, m_password.size() - 2).replace(QLatin1String("}}"), QLatin1String("}"));
        }
    }
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw Errors::connectFailed(m_target, QStringLiteral("správce ovladačů ODBC nelze spustit"));
    m_env.reset(env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)))
        raise(SQL_HANDLE_ENV, env, QString());
    m_dbc.reset(dbc);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, wide(driverString), SQLSMALLINT(driverString.size()), nullptr,
                                           0, &outLength, SQL_DRIVER_NOPROMPT);
    if (!succeeded(rc)) {
        const auto found = diagnostics(SQL_HANDLE_DBC, dbc);
        const QString state = found.empty() ? QString() : found.front().state;
        // A DRIVER that odbcinst.ini does not list is taken for a library's file name, which is not there.
        const bool noLibrary = !found.empty() && found.front().text.contains(QLatin1String("Can't open lib"));
        if (state == QLatin1String("IM002") || state == QLatin1String("IM003") || noLibrary) {
            if (!parsed.value(QStringLiteral("DRIVER")).isEmpty())
                throw Errors::driverMissing(parsed.value(QStringLiteral("DRIVER")));
            throw Errors::dataSourceMissing(parsed.value(QStringLiteral("DSN")));
        }
        raise(SQL_HANDLE_DBC, dbc, QString());
    }
    m_connected = true;
}

OdbcConnection::~OdbcConnection()
{
    if (m_connected) {
        if (m_inTransaction)
            SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), SQL_ROLLBACK);
        SQLDisconnect(m_dbc.get());
    }
}

std::shared_ptr<OdbcConnection> OdbcConnection::shared(const QString& connect)
{
    const QString stored = withoutPassword(connect);
    QMutexLocker lock(&sharedLock);
    auto& connections = sharedConnections();
    const auto found = connections.find(stored);
    if (found != connections.end() && !found->second->isLost()) {
        // A server restarted since leaves the kept connection dead, which drivers learn only by asking:
        // one catalogue call that every driver answers.
        SQLHANDLE probe = SQL_NULL_HANDLE;
        bool alive = false;
        if (succeeded(SQLAllocHandle(SQL_HANDLE_STMT, found->second->handle(), &probe))) {
            const QString none = QStringLiteral("zul_no_such_table");
            alive =
                succeeded(SQLTablesW(probe, nullptr, 0, nullptr, 0, wide(none), SQLSMALLINT(none.size()), nullptr, 0));
            SQLFreeHandle(SQL_HANDLE_STMT, probe);
        }
        if (alive)
            return found->second;
    }
    auto connection = std::make_shared<OdbcConnection>(connect);
    connections[stored] = connection;
    return connection;
}

void OdbcConnection::raise(SQLSMALLINT type, SQLHANDLE handle, const QString& what)
{
    QStringList texts;
    QString state;
    for (const Diagnostic& diagnostic : diagnostics(type, handle)) {
        if (state.isEmpty())
            state = diagnostic.state;
        QString text = diagnostic.text;
        if (!m_password.isEmpty())
            text.replace(m_password, QStringLiteral("***"));
        if (!text.isEmpty() && !texts.contains(text))
            texts << text;
    }
    // Class 08 is the connection's: a later use opens a new one.
    if (state.startsWith(QLatin1String("08")) || !m_connected)
        m_lost = true;
    const QString serverText = texts.join(QLatin1Char(' '));
    if (!m_connected || state.startsWith(QLatin1String("08")))
        throw Errors::connectFailed(m_target, serverText);
    if (state.startsWith(QLatin1String("23")))
        throw Errors::serverConstraint(serverText);
    throw Errors::callFailed(what, serverText);
}

QString OdbcConnection::defaultSchema()
{
    if (m_defaultSchemaRead)
        return m_defaultSchema;
    m_defaultSchemaRead = true;
    try {
        OdbcStatement statement(*this, QStringLiteral("SELECT current_schema()"));
        statement.execute();
        OdbcCell cell;
        if (statement.fetch()) {
            statement.read(0, cell);
            m_defaultSchema = QString::fromUtf8(cell.text);
        }
    } catch (const RunTimeError&) {
        // Not every server knows current_schema(): then every schema of the user is listed.
    }
    return m_defaultSchema;
}

OdbcHandle OdbcConnection::newStatement(const QString& what)
{
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc.get(), &raw)))
        raise(SQL_HANDLE_DBC, m_dbc.get(), what);
    return OdbcHandle(raw, OdbcHandleFree{SQL_HANDLE_STMT});
}

QStringList OdbcConnection::userTables()
{
    const QString schema = defaultSchema();
    const OdbcHandle stmt = newStatement(QStringLiteral("seznam tabulek"));
    SQLHANDLE raw = stmt.get();
    const QString all = QStringLiteral("%");
    const QString types = QStringLiteral("TABLE");
    SQLRETURN rc = SQLTablesW(raw, nullptr, 0, schema.isEmpty() ? nullptr : wide(schema), SQLSMALLINT(schema.size()),
                              wide(all), SQLSMALLINT(all.size()), wide(types), SQLSMALLINT(types.size()));
    if (!succeeded(rc))
        raise(SQL_HANDLE_STMT, raw, QStringLiteral("seznam tabulek"));
    QStringList tables;
    SQLWCHAR name[1024];
    SQLLEN length = 0;
    while (succeeded(SQLFetch(raw))) {
        if (succeeded(SQLGetData(raw, 3, SQL_C_WCHAR, name, sizeof name, &length)) && length > 0)
            tables << fromWide(name, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
    }
    return tables;
}

OdbcTableName OdbcConnection::findTable(const QString& source)
{
    OdbcTableName name = OdbcTableName::parse(source);
    const QString schema = name.schema.isEmpty() ? defaultSchema() : name.schema;
    const OdbcHandle stmt = newStatement(QStringLiteral("seznam tabulek"));
    SQLHANDLE raw = stmt.get();
    // Every table of the schema, compared here: the server's names may differ in case from the link's.
    const QString all = QStringLiteral("%");
    if (!succeeded(SQLTablesW(raw, nullptr, 0, schema.isEmpty() ? nullptr : wide(schema), SQLSMALLINT(schema.size()),
                              wide(all), SQLSMALLINT(all.size()), nullptr, 0)))
        raise(SQL_HANDLE_STMT, raw, QStringLiteral("seznam tabulek"));
    QString folded;
    SQLWCHAR text[1024];
    SQLLEN length = 0;
    while (succeeded(SQLFetch(raw))) {
        // Tables and views; drivers differ in how they take a list of types, so the rows are filtered here.
        if (!succeeded(SQLGetData(raw, 4, SQL_C_WCHAR, text, sizeof text, &length)) || length <= 0)
            continue;
        const QString type = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        if (type != QLatin1String("TABLE") && type != QLatin1String("VIEW"))
            continue;
        if (!succeeded(SQLGetData(raw, 3, SQL_C_WCHAR, text, sizeof text, &length)) || length <= 0)
            continue;
        const QString table = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        if (table == name.table)
            return name;
        if (folded.isEmpty() && table.toCaseFolded() == name.table.toCaseFolded())
            folded = table;
    }
    if (folded.isEmpty())
        throw Errors::serverTableMissing(source, m_target);
    name.table = folded;
    return name;
}

std::vector<std::shared_ptr<FieldDef>> OdbcConnection::fields(const OdbcTableName& table)
{
    const QString schema = table.schema.isEmpty() ? defaultSchema() : table.schema;
    const OdbcHandle stmt = newStatement(QStringLiteral("sloupce tabulky"));
    SQLHANDLE raw = stmt.get();
    // The table's name is a pattern here: its "_" and "%" are escaped to stand for themselves.
    const QString pattern = escapedPattern(table.table);
    if (!succeeded(SQLColumnsW(raw, nullptr, 0, schema.isEmpty() ? nullptr : wide(schema), SQLSMALLINT(schema.size()),
                               wide(pattern), SQLSMALLINT(pattern.size()), nullptr, 0)))
        raise(SQL_HANDLE_STMT, raw, QStringLiteral("sloupce tabulky %1").arg(table.table));
    std::vector<std::shared_ptr<FieldDef>> fields;
    SQLWCHAR text[1024];
    SQLLEN length = 0;
    while (succeeded(SQLFetch(raw))) {
        auto field = std::make_shared<FieldDef>();
        if (succeeded(SQLGetData(raw, 4, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
            field->Name = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        SQLSMALLINT dataType = 0;
        SQLGetData(raw, 5, SQL_C_SSHORT, &dataType, 0, &length);
        QString typeName;
        if (succeeded(SQLGetData(raw, 6, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
            typeName = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        SQLINTEGER size = 0;
        if (!succeeded(SQLGetData(raw, 7, SQL_C_SLONG, &size, 0, &length)) || length == SQL_NULL_DATA)
            size = 0;
        mapType(dataType, typeName, int(size), *field);
        fields.push_back(field);
    }
    if (fields.empty())
        throw Errors::serverTableMissing(
            table.schema.isEmpty() ? table.table : table.schema + QLatin1Char('.') + table.table, m_target);
    return fields;
}

std::vector<std::shared_ptr<IndexDef>> OdbcConnection::keys(const OdbcTableName& table)
{
    const QString schema = table.schema.isEmpty() ? defaultSchema() : table.schema;
    std::vector<std::shared_ptr<IndexDef>> keys;
    SQLWCHAR text[1024];
    SQLLEN length = 0;
    {
        const OdbcHandle stmt = newStatement(QStringLiteral("klíče tabulky"));
        SQLHANDLE raw = stmt.get();
        if (!succeeded(SQLPrimaryKeysW(raw, nullptr, 0, schema.isEmpty() ? nullptr : wide(schema),
                                       SQLSMALLINT(schema.size()), wide(table.table), SQLSMALLINT(table.table.size()))))
            raise(SQL_HANDLE_STMT, raw, QStringLiteral("primární klíč tabulky %1").arg(table.table));
        std::map<int, QString> columns;
        QString keyName;
        while (succeeded(SQLFetch(raw))) {
            SQLSMALLINT position = 0;
            SQLGetData(raw, 5, SQL_C_SSHORT, &position, 0, &length);
            if (succeeded(SQLGetData(raw, 4, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
                columns[position] = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
            if (succeeded(SQLGetData(raw, 6, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
                keyName = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        }
        if (!columns.empty()) {
            auto key = std::make_shared<IndexDef>();
            key->Name = keyName.isEmpty() ? QStringLiteral("PrimaryKey") : keyName;
            key->Primary = key->Unique = true;
            for (const auto& [position, column] : columns)
                key->Fields << column;
            keys.push_back(key);
        }
    }
    const OdbcHandle stmt = newStatement(QStringLiteral("indexy tabulky"));
    SQLHANDLE raw = stmt.get();
    if (!succeeded(SQLStatisticsW(raw, nullptr, 0, schema.isEmpty() ? nullptr : wide(schema),
                                  SQLSMALLINT(schema.size()), wide(table.table), SQLSMALLINT(table.table.size()),
                                  SQL_INDEX_UNIQUE, SQL_QUICK)))
        raise(SQL_HANDLE_STMT, raw, QStringLiteral("indexy tabulky %1").arg(table.table));
    std::map<QString, std::map<int, QString>> unique;
    while (succeeded(SQLFetch(raw))) {
        SQLSMALLINT type = 0;
        SQLGetData(raw, 7, SQL_C_SSHORT, &type, 0, &length);
        if (type == SQL_TABLE_STAT)
            continue;
        QString index;
        if (succeeded(SQLGetData(raw, 6, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
            index = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
        SQLSMALLINT position = 0;
        SQLGetData(raw, 8, SQL_C_SSHORT, &position, 0, &length);
        if (succeeded(SQLGetData(raw, 9, SQL_C_WCHAR, text, sizeof text, &length)) && length > 0)
            unique[index][position] = fromWide(text, qsizetype(length / qsizetype(sizeof(SQLWCHAR))));
    }
    for (const auto& [index, columns] : unique) {
        QStringList fields;
        for (const auto& [position, column] : columns)
            fields << column;
        if (!keys.empty() && keys.front()->Primary && keys.front()->Fields == fields)
            continue; // the primary key's own index
        auto key = std::make_shared<IndexDef>();
        key->Name = index;
        key->Unique = true;
        key->Fields = fields;
        keys.push_back(key);
    }
    return keys;
}

qint64 OdbcConnection::exec(const QString& sql, const QVariantList& params)
{
    OdbcStatement statement(*this, sql);
    statement.execute(params);
    return statement.rowCount();
}

void OdbcConnection::beginTransaction()
{
    if (!succeeded(
            SQLSetConnectAttrW(m_dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
        raise(SQL_HANDLE_DBC, m_dbc.get(), QStringLiteral("začátek transakce"));
    m_inTransaction = true;
}

void OdbcConnection::commit()
{
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), SQL_COMMIT);
    if (!succeeded(rc)) {
        // The server kept nothing: the transaction is over either way.
        m_inTransaction = false;
        SQLSetConnectAttrW(m_dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        raise(SQL_HANDLE_DBC, m_dbc.get(), QStringLiteral("potvrzení transakce"));
    }
    m_inTransaction = false;
    SQLSetConnectAttrW(m_dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

void OdbcConnection::rollback()
{
    SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), SQL_ROLLBACK);
    m_inTransaction = false;
    SQLSetConnectAttrW(m_dbc.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

QString OdbcConnection::quoteName(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString OdbcConnection::qualified(const OdbcTableName& table) const
{
    return table.schema.isEmpty() ? quoteName(table.table)
                                  : quoteName(table.schema) + QLatin1Char('.') + quoteName(table.table);
}

// ---------------------------------------------------------------- OdbcStatement

OdbcStatement::OdbcStatement(OdbcConnection& connection, const QString& sql)
    : m_connection(connection), m_sql(sql), m_stmt(nullptr, OdbcHandleFree{SQL_HANDLE_STMT})
{
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection.handle(), &raw)))
        connection.raise(SQL_HANDLE_DBC, connection.handle(), sql);
    m_stmt.reset(raw);
    if (!succeeded(SQLPrepareW(raw, wide(sql), SQLINTEGER(sql.size()))))
        connection.raise(SQL_HANDLE_STMT, raw, sql);
}

void OdbcStatement::execute(const QVariantList& params)
{
    SQLHSTMT stmt = m_stmt.get();
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    m_buffers.assign(size_t(params.size()), {});
    m_lengths.assign(size_t(params.size()), 0);
    for (qsizetype i = 0; i < params.size(); ++i) {
        const QVariant& value = params[i];
        auto& buffer = m_buffers[size_t(i)];
        SQLLEN& length = m_lengths[size_t(i)];
        SQLSMALLINT cType = SQL_C_WCHAR;
        SQLSMALLINT sqlType = SQL_WVARCHAR;
        SQLULEN columnSize = 0;
        SQLSMALLINT digits = 0;
        if (!value.isValid() || value.isNull()) {
            buffer.resize(sizeof(SQLWCHAR));
            length = SQL_NULL_DATA;
            cType = SQL_C_WCHAR;
            sqlType = SQL_WVARCHAR;
            columnSize = 1;
        } else {
            switch (value.typeId()) {
            case QMetaType::Bool: {
                buffer.assign(1, value.toBool() ? 1 : 0);
                cType = SQL_C_BIT;
                sqlType = SQL_BIT;
                length = 1;
                break;
            }
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::LongLong:
            case QMetaType::ULongLong: {
                const qint64 number = value.toLongLong();
                buffer.resize(sizeof number);
                std::memcpy(buffer.data(), &number, sizeof number);
                const bool small = number >= INT32_MIN && number <= INT32_MAX;
                cType = SQL_C_SBIGINT;
                sqlType = small ? SQL_INTEGER : SQL_BIGINT;
                length = sizeof number;
                break;
            }
            case QMetaType::Double: {
                const double number = value.toDouble();
                buffer.resize(sizeof number);
                std::memcpy(buffer.data(), &number, sizeof number);
                cType = SQL_C_DOUBLE;
                sqlType = SQL_DOUBLE;
                length = sizeof number;
                break;
            }
            case QMetaType::QDate:
            case QMetaType::QDateTime: {
                const QDateTime time = value.typeId() == QMetaType::QDate
                                           ? QDateTime(value.toDate(), QTime(0, 0), Qt::UTC)
                                           : value.toDateTime();
                SQL_TIMESTAMP_STRUCT stamp{};
                stamp.year = SQLSMALLINT(time.date().year());
                stamp.month = SQLUSMALLINT(time.date().month());
                stamp.day = SQLUSMALLINT(time.date().day());
                stamp.hour = SQLUSMALLINT(time.time().hour());
                stamp.minute = SQLUSMALLINT(time.time().minute());
                stamp.second = SQLUSMALLINT(time.time().second());
                buffer.resize(sizeof stamp);
                std::memcpy(buffer.data(), &stamp, sizeof stamp);
                cType = SQL_C_TYPE_TIMESTAMP;
                sqlType = SQL_TYPE_TIMESTAMP;
                columnSize = 19;
                length = sizeof stamp;
                break;
            }
            default: {
                const QString text = value.toString();
                buffer.resize(size_t(text.size() + 1) * sizeof(SQLWCHAR));
                std::memcpy(buffer.data(), text.utf16(), size_t(text.size()) * sizeof(SQLWCHAR));
                length = SQLLEN(text.size()) * SQLLEN(sizeof(SQLWCHAR));
                columnSize = SQLULEN(std::max<qsizetype>(text.size(), 1));
                sqlType = text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
                break;
            }
            }
        }
        if (!succeeded(SQLBindParameter(stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, cType, sqlType, columnSize, digits,
                                        buffer.data(), SQLLEN(buffer.size()), &length)))
            m_connection.raise(SQL_HANDLE_STMT, stmt, m_sql);
    }
    const SQLRETURN rc = SQLExecute(stmt);
    if (!succeeded(rc) && rc != SQL_NO_DATA)
        m_connection.raise(SQL_HANDLE_STMT, stmt, m_sql);
    describe();
}

void OdbcStatement::describe()
{
    SQLSMALLINT count = 0;
    SQLNumResultCols(m_stmt.get(), &count);
    m_types.assign(size_t(count), 0);
    m_names.assign(size_t(count), QString());
    for (SQLSMALLINT column = 0; column < count; ++column) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        SQLDescribeColW(m_stmt.get(), SQLUSMALLINT(column + 1), name, SQLSMALLINT(std::size(name)), &nameLength, &type,
                        &size, &digits, &nullable);
        m_types[size_t(column)] = type;
        m_names[size_t(column)] = fromWide(name);
    }
}

qint64 OdbcStatement::rowCount() const
{
    SQLLEN rows = -1;
    return succeeded(SQLRowCount(m_stmt.get(), &rows)) ? qint64(rows) : -1;
}

bool OdbcStatement::fetch()
{
    const SQLRETURN rc = SQLFetch(m_stmt.get());
    if (rc == SQL_NO_DATA)
        return false;
    if (!succeeded(rc))
        m_connection.raise(SQL_HANDLE_STMT, m_stmt.get(), m_sql);
    return true;
}

void OdbcStatement::read(int column, OdbcCell& cell)
{
    SQLHSTMT stmt = m_stmt.get();
    const SQLUSMALLINT number = SQLUSMALLINT(column + 1);
    SQLLEN length = 0;
    const auto get = [&](SQLSMALLINT cType, void* target, SQLLEN size) {
        const SQLRETURN rc = SQLGetData(stmt, number, cType, target, size, &length);
        if (!succeeded(rc) && rc != SQL_NO_DATA)
            m_connection.raise(SQL_HANDLE_STMT, stmt, m_sql);
        return rc;
    };
    cell.kind = OdbcCell::Integer;
    switch (m_types[size_t(column)]) {
    case SQL_BIT: {
        unsigned char bit = 0;
        get(SQL_C_BIT, &bit, 0);
        cell.integer = bit != 0 ? -1 : 0;
        break;
    }
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        get(SQL_C_SBIGINT, &cell.integer, 0);
        break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        cell.kind = OdbcCell::Real;
        get(SQL_C_DOUBLE, &cell.real, 0);
        break;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT stamp{};
        get(SQL_C_TYPE_TIMESTAMP, &stamp, 0);
        cell.kind = OdbcCell::Text;
        cell.text.resize(19);
        // Digits written by hand: a formatted print per value costs more than the rest of the row.
        char* out = cell.text.data();
        const auto digits = [&out](int value, int count) {
            for (int i = count - 1; i >= 0; --i, value /= 10)
                out[i] = char('0' + value % 10);
            out += count;
        };
        const auto separated = [&](int value, int count, char separator) {
            digits(value, count);
            *out++ = separator;
        };
        separated(std::clamp<int>(stamp.year, 0, 9999), 4, '-');
        separated(stamp.month, 2, '-');
        separated(stamp.day, 2, ' ');
        separated(stamp.hour, 2, ':');
        separated(stamp.minute, 2, ':');
        digits(stamp.second, 2);
        break;
    }
    default: {
        // Text of any length, read in pieces and encoded as UTF-8 into the cell's own buffer.
        cell.kind = OdbcCell::Text;
        cell.text.resize(0);
        QStringEncoder utf8(QStringEncoder::Utf8);
        SQLWCHAR piece[2048];
        for (;;) {
            const SQLRETURN rc = get(SQL_C_WCHAR, piece, sizeof piece);
            if (rc == SQL_NO_DATA || length == SQL_NULL_DATA)
                break;
            const qsizetype room = qsizetype(std::size(piece)) - 1;
            const qsizetype got = length == SQL_NO_TOTAL || length / qsizetype(sizeof(SQLWCHAR)) > room
                                      ? room
                                      : qsizetype(length / qsizetype(sizeof(SQLWCHAR)));
            const QStringView view(reinterpret_cast<const char16_t*>(piece), got);
            const qsizetype used = cell.text.size();
            cell.text.resize(used + utf8.requiredSpace(got));
            cell.text.resize(utf8.appendToBuffer(cell.text.data() + used, view) - cell.text.constData());
            if (rc == SQL_SUCCESS)
                break;
        }
        break;
    }
    }
    if (length == SQL_NULL_DATA)
        cell.kind = OdbcCell::Null;
}
