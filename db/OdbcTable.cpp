// The zul_odbc virtual table: an ODBC link's server table inside SQLite's statements.
// Methods in the order SQLite calls them; no C++ exception crosses into SQLite.
// Built twice: into the engine, and into the loadable extension, where SQLite's
// calls go through the loading program's routines.

#ifdef DIVADEDADI_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#endif

#include "OdbcTable.h"

#include "Errors.h"
#include "OdbcConnection.h"
#ifndef DIVADEDADI_SQLITE_EXTENSION
#include "SqlDialect.h"
#endif

#include <QStringList>

#include <algorithm>
#include <map>
#include <optional>

namespace {

// The operators passed to the server, by SQLite's constraint code.
const char* serverOperator(unsigned char op)
{
    switch (op) {
    case SQLITE_INDEX_CONSTRAINT_EQ:
        return "=";
    case SQLITE_INDEX_CONSTRAINT_GT:
        return ">";
    case SQLITE_INDEX_CONSTRAINT_GE:
        return ">=";
    case SQLITE_INDEX_CONSTRAINT_LT:
        return "<";
    case SQLITE_INDEX_CONSTRAINT_LE:
        return "<=";
    default:
        return nullptr;
    }
}

thread_local std::optional<RunTimeError> lastError;

struct OdbcVtab {
    sqlite3_vtab base{}; // first: SQLite's part
    std::shared_ptr<OdbcConnection> server;
    OdbcTableName table;
    QString qualified;
    std::vector<std::shared_ptr<FieldDef>> fields;
    std::vector<int> keyColumns; // the columns that identify a row; none: read-only
    sqlite3_int64 nextRowid = 0;
    std::map<sqlite3_int64, QVariantList> keys; // rowid handed out -> the row's key values
    int openCursors = 0;
};

// The arguments of a link's table, given at registration (the extension's eponymous tables).
struct LinkArguments {
    QString connect;
    QString source;
    QString collation;
};

struct OdbcCursor {
    sqlite3_vtab_cursor base{};
    std::unique_ptr<OdbcStatement> statement;
    std::vector<OdbcCell> row; // the current row, its buffers kept from row to row
    bool eof = true;
    sqlite3_int64 rowid = 0;
};

int fail(OdbcVtab* vtab, const RunTimeError& error)
{
    lastError = error;
    sqlite3_free(vtab->base.zErrMsg);
    vtab->base.zErrMsg = sqlite3_mprintf("%s", error.description().toUtf8().constData());
    return error.number() == ErrorNumber::ReadOnlyObject ? SQLITE_READONLY : SQLITE_ERROR;
}

// An argument is "h" and hexadecimal digits: one token of SQL, whatever the text holds.
QString fromHex(const char* text)
{
    return QString::fromUtf8(QByteArray::fromHex(QByteArray(text).mid(1)));
}

QString declaredType(const FieldDef& field, const QString& collation)
{
    switch (field.Type) {
    case dao::dbText:
        return QStringLiteral("TEXT(%1) COLLATE %2").arg(field.Size).arg(collation);
    case dao::dbBoolean:
        return QStringLiteral("YESNO");
    case dao::dbLong:
        return QStringLiteral("INTEGER");
    case dao::dbDouble:
        return QStringLiteral("DOUBLE");
    case dao::dbDate:
        return QStringLiteral("DATETIME");
    default:
        return QStringLiteral("LONGTEXT COLLATE %1").arg(collation);
    }
}

bool isNumeric(int type)
{
    return type == dao::dbLong || type == dao::dbDouble;
}

// The columns of the table's first key (its primary key, else a unique index), by number; none
// when it has no key whose every column is among fields.
std::vector<int> keyColumnsOf(OdbcConnection& server, const OdbcTableName& table,
                              const std::vector<std::shared_ptr<FieldDef>>& fields)
{
    for (const auto& key : server.keys(table)) {
        std::vector<int> columns;
        for (const QString& name : key->Fields)
            for (size_t i = 0; i < fields.size(); ++i)
                if (fields[i]->Name == name)
                    columns.push_back(int(i));
        if (!columns.empty() && columns.size() == size_t(key->Fields.size()))
            return columns;
    }
    return {};
}

// An SQLite value as the server column of type takes it.
QVariant serverValue(sqlite3_value* value, int type)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        if (type == dao::dbBoolean)
            return QVariant(sqlite3_value_int64(value) != 0);
        if (type == dao::dbDouble)
            return QVariant(double(sqlite3_value_int64(value)));
        return QVariant(qint64(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_value_double(value));
    default: {
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(value)), sqlite3_value_bytes(value));
        if (type == dao::dbDate) {
            const QDateTime time = wallClockTime(text);
            if (time.isValid())
                return QVariant(time);
        }
        return QVariant(text);
    }
    }
}

// A key value read from the server, as a parameter of the change that finds its row again.
QVariant keyValue(const OdbcCell& cell, int type)
{
    switch (cell.kind) {
    case OdbcCell::Null:
        return QVariant();
    case OdbcCell::Integer:
        return type == dao::dbBoolean ? QVariant(cell.integer != 0) : QVariant(cell.integer);
    case OdbcCell::Real:
        return QVariant(cell.real);
    case OdbcCell::Text:
        break;
    }
    const QString text = QString::fromUtf8(cell.text);
    const QDateTime time = type == dao::dbDate ? wallClockTime(text) : QDateTime();
    return time.isValid() ? QVariant(time) : QVariant(text);
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** error)
{
    // A link table of the extension has its arguments from registration; one the engine creates, in its statement.
    const auto* given = static_cast<const LinkArguments*>(aux);
    if (!given && argc != 6) {
        *error = sqlite3_mprintf("zul_odbc: expected 3 arguments (connect, source, collation)");
        return SQLITE_ERROR;
    }
    const LinkArguments arguments =
        given ? *given : LinkArguments{fromHex(argv[3]), fromHex(argv[4]), QString::fromUtf8(argv[5])};
    auto vtab = std::make_unique<OdbcVtab>();
    try {
        vtab->server = OdbcConnection::shared(arguments.connect);
        vtab->table = vtab->server->findTable(arguments.source);
        vtab->qualified = vtab->server->qualified(vtab->table);
        vtab->fields = vtab->server->fields(vtab->table);
        vtab->keyColumns = keyColumnsOf(*vtab->server, vtab->table, vtab->fields);
    } catch (const RunTimeError& e) {
        lastError = e;
        *error = sqlite3_mprintf("%s", e.description().toUtf8().constData());
        return SQLITE_ERROR;
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
    QStringList columns;
    for (const auto& field : vtab->fields)
        columns << OdbcConnection::quoteName(field->Name) + QLatin1Char(' ') +
                       declaredType(*field, arguments.collation);
    const QByteArray schema = QStringLiteral("CREATE TABLE x(%1)").arg(columns.join(QStringLiteral(", "))).toUtf8();
    const int rc = sqlite3_declare_vtab(db, schema.constData());
    if (rc != SQLITE_OK)
        return rc;
    *out = &vtab.release()->base;
    return SQLITE_OK;
}

// idxStr: the pushed conditions, "column:operator" separated by ";", in argv order.
int xBestIndex(sqlite3_vtab* base, sqlite3_index_info* info)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    QStringList pushed;
    size_t keyEqualities = 0;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        const char* op = serverOperator(constraint.op);
        if (!constraint.usable || !op || constraint.iColumn < 0 ||
            !isNumeric(vtab->fields[size_t(constraint.iColumn)]->Type))
            continue;
        pushed << QStringLiteral("%1:%2").arg(constraint.iColumn).arg(QString::fromLatin1(op));
        info->aConstraintUsage[i].argvIndex = int(pushed.size());
        // SQLite checks again: the server's comparison of a double may round differently.
        info->aConstraintUsage[i].omit = 0;
        if (constraint.op == SQLITE_INDEX_CONSTRAINT_EQ &&
            std::count(vtab->keyColumns.begin(), vtab->keyColumns.end(), constraint.iColumn) > 0)
            ++keyEqualities;
    }
    // A row by its whole key (a column given twice counts twice: then the estimate errs on the fast side).
    const bool keyEquality = !vtab->keyColumns.empty() && keyEqualities >= vtab->keyColumns.size();
    info->estimatedCost = keyEquality ? 10.0 : pushed.isEmpty() ? 1e6 : 1e4;
    info->estimatedRows = keyEquality ? 1 : pushed.isEmpty() ? 100000 : 1000;
    if (keyEquality)
        info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
    if (!pushed.isEmpty()) {
        info->idxStr = sqlite3_mprintf("%s", pushed.join(QLatin1Char(';')).toUtf8().constData());
        info->needToFreeIdxStr = 1;
    }
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* base)
{
    delete reinterpret_cast<OdbcVtab*>(base);
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab* base, sqlite3_vtab_cursor** out)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    // Rowids only mean something to the statement that read them.
    if (vtab->openCursors++ == 0)
        vtab->keys.clear();
    *out = &(new OdbcCursor)->base;
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* base)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base->pVtab);
    --vtab->openCursors;
    delete reinterpret_cast<OdbcCursor*>(base);
    return SQLITE_OK;
}

int fetchRow(OdbcCursor* cursor)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(cursor->base.pVtab);
    try {
        cursor->eof = !cursor->statement->fetch();
        if (cursor->eof)
            return SQLITE_OK;
        cursor->row.resize(vtab->fields.size());
        for (int column = 0; column < int(vtab->fields.size()); ++column) {
            OdbcCell& cell = cursor->row[size_t(column)];
            cursor->statement->read(column, cell);
            // psqlODBC gives yes/no as the text "1" or "0": kept as the engine's -1 or 0, so
            // that every statement, sorted or not, reads it as yes/no.
            if (cell.kind == OdbcCell::Text && vtab->fields[size_t(column)]->Type == dao::dbBoolean) {
                cell.kind = OdbcCell::Integer;
                cell.integer = cell.text == "1" || cell.text == "t" || cell.text.toLower() == "true" ? -1 : 0;
            }
        }
        cursor->rowid = ++vtab->nextRowid;
    } catch (const RunTimeError& e) {
        return fail(vtab, e);
    }
    return SQLITE_OK;
}

int xFilter(sqlite3_vtab_cursor* base, int, const char* idxStr, int argc, sqlite3_value** argv)
{
    auto* cursor = reinterpret_cast<OdbcCursor*>(base);
    auto* vtab = reinterpret_cast<OdbcVtab*>(base->pVtab);
    QStringList names;
    for (const auto& field : vtab->fields)
        names << OdbcConnection::quoteName(field->Name);
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(names.join(QStringLiteral(", ")), vtab->qualified);
    QVariantList params;
    if (idxStr && argc > 0) {
        QStringList conditions;
        const QStringList pushed = QString::fromUtf8(idxStr).split(QLatin1Char(';'));
        for (int i = 0; i < argc && i < int(pushed.size()); ++i) {
            const int column = pushed[i].section(QLatin1Char(':'), 0, 0).toInt();
            conditions << names[column] + QLatin1Char(' ') + pushed[i].section(QLatin1Char(':'), 1) +
                              QStringLiteral(" ?");
            params << serverValue(argv[i], vtab->fields[size_t(column)]->Type);
        }
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    }
    try {
        cursor->statement = std::make_unique<OdbcStatement>(*vtab->server, sql);
        cursor->statement->execute(params);
    } catch (const RunTimeError& e) {
        return fail(vtab, e);
    }
    return fetchRow(cursor);
}

int xNext(sqlite3_vtab_cursor* base)
{
    return fetchRow(reinterpret_cast<OdbcCursor*>(base));
}

int xEof(sqlite3_vtab_cursor* base)
{
    return reinterpret_cast<OdbcCursor*>(base)->eof ? 1 : 0;
}

int xColumn(sqlite3_vtab_cursor* base, sqlite3_context* context, int column)
{
    auto* cursor = reinterpret_cast<OdbcCursor*>(base);
    const OdbcCell& cell = cursor->row[size_t(column)];
    switch (cell.kind) {
    case OdbcCell::Null:
        sqlite3_result_null(context);
        break;
    case OdbcCell::Integer:
        sqlite3_result_int64(context, cell.integer);
        break;
    case OdbcCell::Real:
        sqlite3_result_double(context, cell.real);
        break;
    case OdbcCell::Text:
        sqlite3_result_text(context, cell.text.constData(), int(cell.text.size()), SQLITE_TRANSIENT);
        break;
    }
    return SQLITE_OK;
}

// SQLite asks for a row's rowid only to change the row (or when a statement names rowid): only
// then is its key kept, so that a plain read keeps nothing per row.
int xRowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid)
{
    auto* cursor = reinterpret_cast<OdbcCursor*>(base);
    auto* vtab = reinterpret_cast<OdbcVtab*>(base->pVtab);
    *rowid = cursor->rowid;
    if (!vtab->keyColumns.empty() && !vtab->keys.count(cursor->rowid)) {
        QVariantList& key = vtab->keys[cursor->rowid];
        for (const int column : vtab->keyColumns)
            key << keyValue(cursor->row[size_t(column)], vtab->fields[size_t(column)]->Type);
    }
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* base, int argc, sqlite3_value** argv, sqlite3_int64* rowid)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    try {
        if (vtab->keyColumns.empty())
            throw Errors::serverTableReadOnly(vtab->table.table);
        QStringList sameKey;
        for (const int column : vtab->keyColumns)
            sameKey << OdbcConnection::quoteName(vtab->fields[size_t(column)]->Name) + QStringLiteral(" = ?");
        const QString whereKey = sameKey.join(QStringLiteral(" AND "));
        const auto oldKey = [&]() -> QVariantList {
            const auto found = vtab->keys.find(sqlite3_value_int64(argv[0]));
            if (found == vtab->keys.end())
                throw Errors::callFailed(QStringLiteral("řádek tabulky %1").arg(vtab->table.table),
                                         QStringLiteral("řádek již nelze určit"));
            return found->second;
        };
        // A change by key that meets no row is refused, never taken for done.
        const auto byKey = [&](const QString& sql, const QVariantList& values) {
            if (vtab->server->exec(sql, values) == 0)
                throw Errors::serverRowGone(vtab->table.table);
        };
        if (argc == 1) {
            byKey(QStringLiteral("DELETE FROM %1 WHERE %2").arg(vtab->qualified, whereKey), oldKey());
            return SQLITE_OK;
        }
        QStringList names;
        QVariantList values;
        for (int column = 0; column < int(vtab->fields.size()); ++column) {
            names << OdbcConnection::quoteName(vtab->fields[size_t(column)]->Name);
            values << serverValue(argv[column + 2], vtab->fields[size_t(column)]->Type);
        }
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
            QStringList marks(names.size(), QStringLiteral("?"));
            vtab->server->exec(
                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(vtab->qualified, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
                values);
            *rowid = ++vtab->nextRowid;
            QVariantList& key = vtab->keys[*rowid];
            for (const int column : vtab->keyColumns)
                key << values[column];
            return SQLITE_OK;
        }
        QStringList assignments;
        for (const QString& name : names)
            assignments << name + QStringLiteral(" = ?");
        values << oldKey();
        byKey(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                  .arg(vtab->qualified, assignments.join(QStringLiteral(", ")), whereKey),
              values);
    } catch (const RunTimeError& e) {
        return fail(vtab, e);
    } catch (const std::exception&) {
        return SQLITE_NOMEM;
    }
    return SQLITE_OK;
}

int xBegin(sqlite3_vtab* base)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    try {
        if (!vtab->server->inTransaction())
            vtab->server->beginTransaction();
    } catch (const RunTimeError& e) {
        return fail(vtab, e);
    }
    return SQLITE_OK;
}

int xSync(sqlite3_vtab*)
{
    return SQLITE_OK;
}

int xCommit(sqlite3_vtab* base)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    try {
        if (vtab->server->inTransaction())
            vtab->server->commit();
    } catch (const RunTimeError& e) {
        return fail(vtab, e);
    }
    return SQLITE_OK;
}

int xRollback(sqlite3_vtab* base)
{
    auto* vtab = reinterpret_cast<OdbcVtab*>(base);
    if (vtab->server->inTransaction())
        vtab->server->rollback();
    return SQLITE_OK;
}

const sqlite3_module odbcModule = {
    /* iVersion    */ 1,
    /* xCreate     */ xConnect, // nothing to create on the server
    /* xConnect    */ xConnect,
    /* xBestIndex  */ xBestIndex,
    /* xDisconnect */ xDisconnect,
    /* xDestroy    */ xDisconnect,
    /* xOpen       */ xOpen,
    /* xClose      */ xClose,
    /* xFilter     */ xFilter,
    /* xNext       */ xNext,
    /* xEof        */ xEof,
    /* xColumn     */ xColumn,
    /* xRowid      */ xRowid,
    /* xUpdate     */ xUpdate,
    /* xBegin      */ xBegin,
    /* xSync       */ xSync,
    /* xCommit     */ xCommit,
    /* xRollback   */ xRollback,
    /* xFindFunction */ nullptr,
    /* xRename     */ nullptr,
    /* xSavepoint  */ nullptr,
    /* xRelease    */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

// The same table as an eponymous-only one: no CREATE VIRTUAL TABLE makes it, its name alone is used.
sqlite3_module eponymousModule()
{
    sqlite3_module module = odbcModule;
    module.xCreate = nullptr;
    return module;
}
const sqlite3_module odbcLinkModule = eponymousModule();

} // namespace

int registerOdbcLinkTable(sqlite3* db, const QString& name, const QString& connect, const QString& source,
                          const QString& collation)
{
    return sqlite3_create_module_v2(db, name.toUtf8().constData(), &odbcLinkModule,
                                    new LinkArguments{connect, source.isEmpty() ? name : source, collation},
                                    [](void* arguments) { delete static_cast<LinkArguments*>(arguments); });
}

#ifndef DIVADEDADI_SQLITE_EXTENSION
void registerOdbcModule(sqlite3* db)
{
    sqlite3_create_module_v2(db, "zul_odbc", &odbcModule, nullptr, nullptr);
}

QString odbcLinkSql(const QString& name, const QString& table, const QString& connect, const QString& source,
                    const QString& collation)
{
    const auto server = OdbcConnection::shared(connect);
    const OdbcTableName found = server->findTable(source.isEmpty() ? name : source);
    const auto serverFields = server->fields(found);
    QStringList fields;
    for (const auto& field : serverFields)
        fields << field->Name;
    QStringList keyFields;
    for (const int column : keyColumnsOf(*server, found, serverFields))
        keyFields << fields[column];
    const QString view = quoteName(name);
    const QString target = quoteName(table);
    QStringList columns;
    QStringList newValues;
    QStringList assignments;
    for (const QString& field : fields) {
        columns << quoteName(field);
        newValues << QStringLiteral("NEW.") + quoteName(field);
        assignments << quoteName(field) + QStringLiteral(" = NEW.") + quoteName(field);
    }
    // A row is found again by its key, which the server looks up by its index; a table without
    // one is read-only and refuses the change at its first row.
    QStringList sameRow;
    for (const QString& field : keyFields.isEmpty() ? fields : keyFields)
        sameRow << quoteName(field) + (keyFields.isEmpty() ? QStringLiteral(" IS OLD.") : QStringLiteral(" = OLD.")) +
                       quoteName(field);
    const QString where = sameRow.join(QStringLiteral(" AND "));
    return QStringLiteral("CREATE VIRTUAL TABLE temp.%1 USING zul_odbc(%2, %3, %4);"
                          "CREATE TEMP VIEW %5 AS SELECT * FROM temp.%1;"
                          "CREATE TEMP TRIGGER %6 INSTEAD OF INSERT ON %5 BEGIN INSERT INTO %1 (%7) VALUES (%8); END;"
                          "CREATE TEMP TRIGGER %9 INSTEAD OF UPDATE ON %5 BEGIN UPDATE %1 SET %10 WHERE %11; END;"
                          "CREATE TEMP TRIGGER %12 INSTEAD OF DELETE ON %5 BEGIN DELETE FROM %1 WHERE %11; END;")
        .arg(target, QStringLiteral("h") + QString::fromLatin1(connect.toUtf8().toHex()),
             QStringLiteral("h") + QString::fromLatin1((source.isEmpty() ? name : source).toUtf8().toHex()), collation,
             view, quoteName(table + QStringLiteral("_insert")), columns.join(QStringLiteral(", ")),
             newValues.join(QStringLiteral(", ")), quoteName(table + QStringLiteral("_update")))
        .arg(assignments.join(QStringLiteral(", ")), where, quoteName(table + QStringLiteral("_delete")));
}

bool takeOdbcError(int* number, QString* description)
{
    if (!lastError)
        return false;
    *number = lastError->number();
    *description = lastError->description();
    lastError.reset();
    return true;
}
#endif
