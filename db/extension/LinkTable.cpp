/*
** A linked table of a program file, read and changed in its data file.
**
** The extension's loader registers one module per link to a file, named after
** the link, as an eponymous-only virtual table: "SELECT * FROM Osoby" reads the
** data file's source table and INSERT, UPDATE and DELETE change it, without a
** CREATE VIRTUAL TABLE and without anything written to any schema:
**
**     linktable::registerLink(db, files, "Osoby", "/srv/data/ZUL_data.accdb", "Osoby",
**         "CREATE TABLE x(\"Id\" INTEGER, \"Jmeno\" TEXT(50) COLLATE ZUL_CZ)");
**
** Each link's settings come with its module, not from SQL:
**   path    the data file
**   table   the source table in the data file
**   schema  the columns as the link recorded them: the table's columns are
**           named after them, and text columns carry the program file's
**           collation
** The table takes no arguments; one given in SQL is refused.
**
** The table is connected, and its data file opened, at its first use, so
** loading costs little however many links there are, and a link whose file is
** missing, is no database or lacks its table fails when it is used, with a
** message naming the link, the file and the table; the other links keep
** working. The data file is opened once per connection and shared by all links
** into it; the engine's collations and length() are registered on it, so its
** own size and key rules hold. A change is committed to the data file at the
** connection's commit (its sync step: a data file that refuses fails the whole
** commit); savepoints and the rollback of a statement that failed half-way
** reach the data file.
**
** Constraints "column = value" (and rowid = value) are handed to the data file,
** so that a change of one row by its key reads one row.
*/
#include "LinkTable.h"

SQLITE_EXTENSION_INIT3

#include "Collation.h"
#include "TextLength.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace linktable {
namespace {

// The planner's contract: idxNum bits and the column number SQLite gives the rowid.
constexpr int kRowidColumn = -1;
constexpr int kPlanRowid = 0x1;   // one argument: the rowid
constexpr int kPlanColumns = 0x2; // idxStr lists the columns compared with the arguments, in order
constexpr double kFullScanCost = 1e6;
constexpr double kColumnLookupCost = 100;
constexpr double kRowidLookupCost = 1;
constexpr int kLockWaitMilliseconds = 4000;

// A data file opened by the connection's links; shared, and closed with the last link into it.
struct DataFile {
    std::string path;
    sqlite3* db = nullptr;
    int users = 0;   // link tables holding it
    int writers = 0; // link tables inside the current write transaction
    bool inTransaction = false;
    bool committed = false; // committed at the program file's sync, waiting for its commit
    int savepoints = 0;     // the data file's savepoints zul_s0 ... open, one per level of the connection's
};

} // namespace

// The data files open on one connection, by path; shared by its links and freed with the last.
struct SharedFiles {
    std::map<std::string, std::unique_ptr<DataFile>> files;
    int links = 0;
};

namespace {

// One link's settings: the aux data of its module.
struct LinkEntry {
    SharedFiles* shared = nullptr;
    std::string name;
    std::string path;
    std::string table;
    std::string schema;
    std::vector<std::string> columns;
};

struct LinkVtab {
    sqlite3_vtab base; // first: SQLite sees this
    SharedFiles* shared = nullptr;
    sqlite3* host = nullptr;
    std::string name;  // the link's name
    std::string path;  // the data file
    std::string table; // the source table
    std::vector<std::string> columns;
    DataFile* file = nullptr;            // once opened
    sqlite3_stmt* insert = nullptr;      // a new row, its rowid chosen by the data file
    sqlite3_stmt* insertRowid = nullptr; // a new row with the rowid the statement gave
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* remove = nullptr;
};

struct LinkCursor {
    sqlite3_vtab_cursor base; // first
    sqlite3_stmt* rows = nullptr;
    bool atEnd = true;
};

void setError(sqlite3_vtab* vtab, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_vmprintf(format, arguments);
    va_end(arguments);
}

// The data file's last error, on the table: the data file's message with the link, table and file named.
int fileError(LinkVtab* link, int rc)
{
    setError(&link->base, "%s (propojená tabulka '%s', zdrojová tabulka '%s' v souboru '%s')",
             link->file && link->file->db ? sqlite3_errmsg(link->file->db) : sqlite3_errstr(rc), link->name.c_str(),
             link->table.c_str(), link->path.c_str());
    return rc;
}

int execute(LinkVtab* link, const char* sql)
{
    const int rc = sqlite3_exec(link->file->db, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? rc : fileError(link, rc);
}

int prepare(LinkVtab* link, const std::string& sql, sqlite3_stmt** statement)
{
    const int rc = sqlite3_prepare_v2(link->file->db, sql.c_str(), int(sql.size()), statement, nullptr);
    return rc == SQLITE_OK ? rc : fileError(link, rc);
}

void releaseFile(LinkVtab* link)
{
    for (sqlite3_stmt** statement : {&link->insert, &link->insertRowid, &link->update, &link->remove}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    DataFile* file = link->file;
    link->file = nullptr;
    if (!file || --file->users > 0)
        return;
    sqlite3_close_v2(file->db);
    link->shared->files.erase(file->path);
}

// Opens the link's data file (or takes the connection's open one) and checks its source table.
int openFile(LinkVtab* link)
{
    if (link->file)
        return SQLITE_OK;
    struct stat status {};
    if (::stat(link->path.c_str(), &status) != 0) {
        setError(&link->base, "Propojenou tabulku '%s' nelze otevřít: soubor '%s' nebyl nalezen.", link->name.c_str(),
                 link->path.c_str());
        return SQLITE_CANTOPEN;
    }
    // A link into the program file itself would read its own catalogue's links: refused.
    const char* hostPath = sqlite3_db_filename(link->host, "main");
    struct stat hostStatus {};
    if (hostPath && *hostPath && ::stat(hostPath, &hostStatus) == 0 && hostStatus.st_dev == status.st_dev &&
        hostStatus.st_ino == status.st_ino) {
        setError(&link->base, "Propojená tabulka '%s' ukazuje na samotný soubor programu '%s'.", link->name.c_str(),
                 link->path.c_str());
        return SQLITE_ERROR;
    }
    auto& slot = link->shared->files[link->path];
    if (!slot) {
        auto file = std::make_unique<DataFile>();
        file->path = link->path;
        // A file without any write permission bit is read-only for everybody, as the engine has it.
        const int mode =
            (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
        int rc = sqlite3_open_v2(link->path.c_str(), &file->db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(file->db, 1);
            sqlite3_busy_timeout(file->db, kLockWaitMilliseconds);
            sqlite3_db_config(file->db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
            sqlite3_db_config(file->db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
            rc = registerZulCollations(file->db);
        }
        if (rc == SQLITE_OK)
            rc = textlength::registerUtf16Length(file->db);
        // Durable as the engine's own changes; the first statement also tells a database from other files.
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(file->db, "PRAGMA synchronous=EXTRA", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            if ((rc & 0xff) == SQLITE_NOTADB)
                setError(&link->base, "Propojenou tabulku '%s' nelze otevřít: soubor '%s' není databáze.",
                         link->name.c_str(), link->path.c_str());
            else
                setError(&link->base, "Propojenou tabulku '%s' nelze otevřít: soubor '%s': %s.", link->name.c_str(),
                         link->path.c_str(), file->db ? sqlite3_errmsg(file->db) : sqlite3_errstr(rc));
            sqlite3_close_v2(file->db);
            link->shared->files.erase(link->path);
            return rc;
        }
        slot = std::move(file);
    }
    link->file = slot.get();
    ++link->file->users;
    sqlite3_stmt* check = nullptr;
    std::string sql = "SELECT 1 FROM sqlite_master WHERE type IN ('table','view') AND name=?1 COLLATE NOCASE";
    int rc = prepare(link, sql, &check);
    if (rc != SQLITE_OK) {
        releaseFile(link);
        return rc;
    }
    sqlite3_bind_text(check, 1, link->table.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(check);
    sqlite3_finalize(check);
    if (rc != SQLITE_ROW) {
        if (rc == SQLITE_DONE) {
            setError(&link->base, "Zdrojová tabulka '%s' nebyla v souboru '%s' nalezena (propojená tabulka '%s').",
                     link->table.c_str(), link->path.c_str(), link->name.c_str());
            rc = SQLITE_ERROR;
        } else if ((rc & 0xff) == SQLITE_NOTADB) {
            setError(&link->base, "Propojenou tabulku '%s' nelze otevřít: soubor '%s' není databáze.",
                     link->name.c_str(), link->path.c_str());
        } else {
            fileError(link, rc);
        }
        releaseFile(link);
        return rc;
    }
    return SQLITE_OK;
}

std::string columnList(const LinkVtab* link)
{
    std::string list;
    for (const std::string& column : link->columns)
        list += (list.empty() ? "" : ", ") + quotedName(column);
    return list;
}

// The column names of a "CREATE TABLE x(...)" text: the first word or quoted name of each
// definition, definitions separated by commas outside parentheses and quotes.
std::vector<std::string> columnNames(const std::string& schema)
{
    std::vector<std::string> names;
    size_t i = schema.find('(');
    if (i == std::string::npos)
        return names;
    ++i;
    while (i < schema.size()) {
        while (i < schema.size() && (schema[i] == ' ' || schema[i] == '\n' || schema[i] == '\t'))
            ++i;
        std::string name;
        if (i < schema.size() && (schema[i] == '"' || schema[i] == '`' || schema[i] == '[')) {
            const char close = schema[i] == '[' ? ']' : schema[i];
            for (++i; i < schema.size(); ++i) {
                if (schema[i] == close) {
                    if (close != ']' && i + 1 < schema.size() && schema[i + 1] == close) {
                        name += close;
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                name += schema[i];
            }
        } else {
            while (i < schema.size() && schema[i] != ' ' && schema[i] != ',' && schema[i] != ')')
                name += schema[i++];
        }
        names.push_back(name);
        // On to the next definition.
        int depth = 0;
        char quote = 0;
        for (; i < schema.size(); ++i) {
            const char c = schema[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'' || c == '`') {
                quote = c;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (depth-- == 0)
                    return names;
            } else if (c == ',' && depth == 0) {
                ++i;
                break;
            }
        }
    }
    return names;
}

// ---------------------------------------------------------------- methods, in the order SQLite calls them

int linkConnect(sqlite3* db, void* aux, int argc, const char* const*, sqlite3_vtab** vtab, char** error)
{
    *vtab = nullptr;
    const auto* entry = static_cast<const LinkEntry*>(aux);
    try {
        // argv: the module's name, the schema, the table's name, then arguments, of which it takes none.
        if (argc > 3) {
            *error = sqlite3_mprintf("Propojená tabulka '%s' nepřijímá argumenty.", entry->name.c_str());
            return SQLITE_ERROR;
        }
        const int rc = sqlite3_declare_vtab(db, entry->schema.c_str());
        if (rc != SQLITE_OK) {
            *error = sqlite3_mprintf("Propojená tabulka '%s': neplatné schéma '%s'.", entry->name.c_str(),
                                     entry->schema.c_str());
            return rc;
        }
        // Direct-only: the table reaches a file, so no view or trigger of a schema someone else wrote may use it.
        sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
        auto link = std::make_unique<LinkVtab>();
        std::memset(&link->base, 0, sizeof(link->base));
        link->shared = entry->shared;
        link->host = db;
        link->name = entry->name;
        link->path = entry->path;
        link->table = entry->table;
        link->columns = entry->columns;
        *vtab = &link.release()->base;
        return SQLITE_OK;
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

int linkBestIndex(sqlite3_vtab*, sqlite3_index_info* info)
{
    int argument = 0;
    std::string columns;
    bool rowid = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (!constraint.usable || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ)
            continue;
        if (constraint.iColumn == kRowidColumn) {
            if (rowid)
                continue;
            rowid = true;
        }
        info->aConstraintUsage[i].argvIndex = ++argument;
        // The data file compares again with its own rules; SQLite checks the row as well.
        info->aConstraintUsage[i].omit = 0;
        columns += (columns.empty() ? "" : ",") + std::to_string(constraint.iColumn);
    }
    if (argument == 0) {
        info->estimatedCost = kFullScanCost;
        info->estimatedRows = sqlite3_int64(kFullScanCost);
        return SQLITE_OK;
    }
    info->idxNum = kPlanColumns | (rowid ? kPlanRowid : 0);
    info->idxStr = sqlite3_mprintf("%s", columns.c_str());
    info->needToFreeIdxStr = 1;
    info->estimatedCost = rowid ? kRowidLookupCost : kColumnLookupCost;
    info->estimatedRows = rowid ? 1 : 10;
    if (rowid)
        info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
    return SQLITE_OK;
}

int linkDisconnect(sqlite3_vtab* vtab)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    releaseFile(link);
    sqlite3_free(link->base.zErrMsg);
    delete link;
    return SQLITE_OK;
}

int linkOpen(sqlite3_vtab* vtab, sqlite3_vtab_cursor** cursor)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    const int rc = openFile(link);
    if (rc != SQLITE_OK)
        return rc;
    auto* opened = new (std::nothrow) LinkCursor();
    if (!opened)
        return SQLITE_NOMEM;
    *cursor = &opened->base;
    return SQLITE_OK;
}

int linkClose(sqlite3_vtab_cursor* cursor)
{
    auto* c = reinterpret_cast<LinkCursor*>(cursor);
    sqlite3_finalize(c->rows);
    delete c;
    return SQLITE_OK;
}

int linkNext(sqlite3_vtab_cursor* cursor)
{
    auto* c = reinterpret_cast<LinkCursor*>(cursor);
    const int rc = sqlite3_step(c->rows);
    c->atEnd = rc != SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return SQLITE_OK;
    return fileError(reinterpret_cast<LinkVtab*>(cursor->pVtab), rc);
}

int linkFilter(sqlite3_vtab_cursor* cursor, int plan, const char* planColumns, int argc, sqlite3_value** argv)
{
    auto* c = reinterpret_cast<LinkCursor*>(cursor);
    auto* link = reinterpret_cast<LinkVtab*>(cursor->pVtab);
    try {
        std::string sql = "SELECT rowid, " + columnList(link) + " FROM " + quotedName(link->table);
        if ((plan & kPlanColumns) && planColumns) {
            std::string where;
            const char* p = planColumns;
            int argument = 0;
            while (*p) {
                const int column = std::atoi(p);
                const bool known = column == kRowidColumn || (column >= 0 && size_t(column) < link->columns.size());
                if (!known)
                    return SQLITE_ERROR;
                where += (where.empty() ? " WHERE " : " AND ") +
                         (column == kRowidColumn ? std::string("rowid") : quotedName(link->columns[size_t(column)])) +
                         "=?" + std::to_string(++argument);
                p = std::strchr(p, ',');
                if (!p)
                    break;
                ++p;
            }
            sql += where;
        }
        sqlite3_finalize(c->rows);
        c->rows = nullptr;
        int rc = prepare(link, sql, &c->rows);
        if (rc != SQLITE_OK)
            return rc;
        for (int i = 0; i < argc; ++i)
            sqlite3_bind_value(c->rows, i + 1, argv[i]);
        return linkNext(cursor);
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

int linkEof(sqlite3_vtab_cursor* cursor)
{
    return reinterpret_cast<LinkCursor*>(cursor)->atEnd ? 1 : 0;
}

int linkColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column)
{
    auto* c = reinterpret_cast<LinkCursor*>(cursor);
    sqlite3_result_value(context, sqlite3_column_value(c->rows, column + 1));
    return SQLITE_OK;
}

int linkRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid)
{
    *rowid = sqlite3_column_int64(reinterpret_cast<LinkCursor*>(cursor)->rows, 0);
    return SQLITE_OK;
}

// The statements of a change, prepared at their first use and kept with the table.
int prepareChanges(LinkVtab* link)
{
    if (link->insert)
        return SQLITE_OK;
    // Parameters: ?1 the rowid, ?2... the columns in order. A key column may be the rowid itself,
    // so the rowid is named only where the statement gave one of its own.
    std::string marks, assignments;
    for (size_t i = 0; i < link->columns.size(); ++i) {
        marks += ", ?" + std::to_string(i + 2);
        assignments += (i ? ", " : "") + quotedName(link->columns[i]) + "=?" + std::to_string(i + 2);
    }
    const std::string table = quotedName(link->table);
    int rc = prepare(link, "INSERT INTO " + table + " (" + columnList(link) + ") VALUES (" + marks.substr(2) + ")",
                     &link->insert);
    if (rc == SQLITE_OK)
        rc = prepare(link, "INSERT INTO " + table + " (rowid, " + columnList(link) + ") VALUES (?1" + marks + ")",
                     &link->insertRowid);
    if (rc == SQLITE_OK)
        rc = prepare(link, "UPDATE " + table + " SET " + assignments + " WHERE rowid=?1", &link->update);
    if (rc == SQLITE_OK)
        rc = prepare(link, "DELETE FROM " + table + " WHERE rowid=?1", &link->remove);
    if (rc != SQLITE_OK) {
        for (sqlite3_stmt** statement : {&link->insert, &link->insertRowid, &link->update, &link->remove}) {
            sqlite3_finalize(*statement);
            *statement = nullptr;
        }
    }
    return rc;
}

int runChange(LinkVtab* link, sqlite3_stmt* statement)
{
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc == SQLITE_DONE ? SQLITE_OK : fileError(link, rc);
}

int linkUpdate(sqlite3_vtab* vtab, int argc, sqlite3_value** argv, sqlite3_int64* rowid)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    try {
        int rc = openFile(link);
        if (rc == SQLITE_OK)
            rc = prepareChanges(link);
        if (rc != SQLITE_OK)
            return rc;
        if (argc == 1) { // DELETE
            sqlite3_bind_value(link->remove, 1, argv[0]);
            return runChange(link, link->remove);
        }
        const int columns = int(link->columns.size());
        if (sqlite3_value_type(argv[0]) == SQLITE_NULL) { // INSERT: argv[1] is the new rowid or NULL
            sqlite3_stmt* insert = sqlite3_value_type(argv[1]) == SQLITE_NULL ? link->insert : link->insertRowid;
            sqlite3_bind_value(insert, 1, argv[1]);
            for (int i = 0; i < columns && i + 2 < argc; ++i)
                sqlite3_bind_value(insert, i + 2, argv[i + 2]);
            rc = runChange(link, insert);
            if (rc == SQLITE_OK)
                *rowid = sqlite3_last_insert_rowid(link->file->db);
            return rc;
        }
        // UPDATE: argv[0] the old rowid, argv[1] the new one; a key column that is the rowid
        // changes with the columns.
        if (sqlite3_value_int64(argv[0]) != sqlite3_value_int64(argv[1])) {
            setError(vtab, "Propojená tabulka '%s': rowid nelze měnit.", link->name.c_str());
            return SQLITE_CONSTRAINT;
        }
        sqlite3_bind_value(link->update, 1, argv[0]);
        for (int i = 0; i < columns && i + 2 < argc; ++i)
            sqlite3_bind_value(link->update, i + 2, argv[i + 2]);
        return runChange(link, link->update);
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

// Transactions: the data file's write transaction opens with the first link written and is
// committed at the program file's sync, so that a data file that refuses fails the whole commit.
int linkBegin(sqlite3_vtab* vtab)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    int rc = openFile(link);
    if (rc != SQLITE_OK)
        return rc;
    DataFile* file = link->file;
    if (!file->inTransaction) {
        if (sqlite3_db_readonly(file->db, "main") == 1) {
            setError(vtab, "Propojenou tabulku '%s' nelze měnit: do souboru '%s' nelze zapisovat.", link->name.c_str(),
                     link->path.c_str());
            return SQLITE_READONLY;
        }
        rc = execute(link, "BEGIN IMMEDIATE");
        if (rc != SQLITE_OK)
            return rc;
        file->inTransaction = true;
        file->committed = false;
    }
    ++file->writers;
    return SQLITE_OK;
}

int linkSync(sqlite3_vtab* vtab)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file || !file->inTransaction || file->committed)
        return SQLITE_OK;
    const int rc = execute(link, "COMMIT");
    if (rc == SQLITE_OK)
        file->committed = true;
    return rc;
}

void endTransaction(DataFile* file)
{
    if (file->writers > 0)
        --file->writers;
    if (file->writers == 0) {
        file->inTransaction = false;
        file->committed = false;
        file->savepoints = 0;
    }
}

int linkCommit(sqlite3_vtab* vtab)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file)
        return SQLITE_OK;
    int rc = SQLITE_OK;
    if (file->inTransaction && !file->committed) {
        rc = execute(link, "COMMIT");
        file->committed = rc == SQLITE_OK;
    }
    endTransaction(file);
    return rc;
}

int linkRollback(sqlite3_vtab* vtab)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file)
        return SQLITE_OK;
    if (file->inTransaction && !file->committed && sqlite3_get_autocommit(file->db) == 0) {
        sqlite3_exec(file->db, "ROLLBACK", nullptr, nullptr, nullptr);
        file->committed = true; // nothing left to end for the other links into the file
    }
    endTransaction(file);
    return SQLITE_OK;
}

// Savepoints: the connection's savepoint level n (its own, and the one around each statement that
// can fail half-way) is the data file's savepoint zul_s<n>, so that a statement or a savepoint rolled
// back takes back its rows in the data file too. The links into one file share its savepoints: each
// call acts on the level only where another link into the file has not done so already.
int linkSavepoint(sqlite3_vtab* vtab, int level)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file || !file->inTransaction)
        return SQLITE_OK;
    while (file->savepoints <= level) {
        const std::string sql = "SAVEPOINT zul_s" + std::to_string(file->savepoints);
        const int rc = execute(link, sql.c_str());
        if (rc != SQLITE_OK)
            return rc;
        ++file->savepoints;
    }
    return SQLITE_OK;
}

int linkRelease(sqlite3_vtab* vtab, int level)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file || !file->inTransaction || file->savepoints <= level)
        return SQLITE_OK;
    const std::string sql = "RELEASE zul_s" + std::to_string(level);
    file->savepoints = level;
    return execute(link, sql.c_str());
}

int linkRollbackTo(sqlite3_vtab* vtab, int level)
{
    auto* link = reinterpret_cast<LinkVtab*>(vtab);
    DataFile* file = link->file;
    if (!file || !file->inTransaction || file->savepoints <= level)
        return SQLITE_OK;
    // The savepoint stays open after ROLLBACK TO, as the connection's does; inner ones end.
    const std::string sql = "ROLLBACK TO zul_s" + std::to_string(level);
    file->savepoints = level + 1;
    return execute(link, sql.c_str());
}

void releaseShared(SharedFiles* shared)
{
    for (auto& [path, file] : shared->files)
        sqlite3_close_v2(file->db);
    delete shared;
}

// SQLite drops a link's module when the connection closes (or its name is registered again).
void destroyEntry(void* aux)
{
    auto* entry = static_cast<LinkEntry*>(aux);
    if (--entry->shared->links == 0)
        releaseShared(entry->shared);
    delete entry;
}

sqlite3_module linkModule = {
    /* iVersion    */ 2,       // with savepoints
    /* xCreate     */ nullptr, // eponymous only: no CREATE VIRTUAL TABLE can name a file through it
    /* xConnect    */ linkConnect,
    /* xBestIndex  */ linkBestIndex,
    /* xDisconnect */ linkDisconnect,
    /* xDestroy    */ linkDisconnect,
    /* xOpen       */ linkOpen,
    /* xClose      */ linkClose,
    /* xFilter     */ linkFilter,
    /* xNext       */ linkNext,
    /* xEof        */ linkEof,
    /* xColumn     */ linkColumn,
    /* xRowid      */ linkRowid,
    /* xUpdate     */ linkUpdate,
    /* xBegin      */ linkBegin,
    /* xSync       */ linkSync,
    /* xCommit     */ linkCommit,
    /* xRollback   */ linkRollback,
    /* xFindMethod */ nullptr,
    /* xRename     */ nullptr, // a link is renamed in the program file's catalogue, not here
    /* xSavepoint  */ linkSavepoint,
    /* xRelease    */ linkRelease,
    /* xRollbackTo */ linkRollbackTo,
    /* xShadowName */ nullptr,
#if SQLITE_VERSION_NUMBER >= 3044000
    /* xIntegrity  */ nullptr,
#endif
};

} // namespace

SharedFiles* newSharedFiles()
{
    SharedFiles* shared = new (std::nothrow) SharedFiles();
    if (shared)
        shared->links = 1; // the loader's own hold, until releaseLoaderHold
    return shared;
}

void releaseLoaderHold(SharedFiles* shared)
{
    if (shared && --shared->links == 0)
        releaseShared(shared);
}

int registerLink(sqlite3* db, SharedFiles* shared, const std::string& name, const std::string& path,
                 const std::string& table, const std::string& schema)
{
    LinkEntry* entry = nullptr;
    try {
        entry = new LinkEntry{shared, name, path, table, schema, columnNames(schema)};
    } catch (...) {
        delete entry;
        return SQLITE_NOMEM;
    }
    ++shared->links;
    // sqlite3_create_module_v2 calls destroyEntry itself when it fails.
    return sqlite3_create_module_v2(db, name.c_str(), &linkModule, entry, destroyEntry);
}

std::string quotedName(const std::string& name)
{
    std::string result = "\"";
    for (const char c : name) {
        if (c == '"')
            result += '"';
        result += c;
    }
    return result + '"';
}

} // namespace linktable
