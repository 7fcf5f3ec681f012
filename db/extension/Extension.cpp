/*
** zulsqlite: the program file's links and the engine's text rules for any
** SQLite program (Python's sqlite3, Qt's QSQLITE, the sqlite3 shell).
**
** Load it into a connection whose main database is a program file:
**
**     sqlite3 -cmd ".load /usr/lib/divadedadi/sqlite/zulsqlite" ZUL.accdr \
**         "SELECT Jmeno FROM Osoby ORDER BY Jmeno"
**
** (a program enables loading with sqlite3_db_config(db,
** SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, 0) first). Loading
**   - registers the collations ZUL_CZ (Czech: case-insensitive, accent-
**     sensitive, "ch" after "h") and ZUL_GEN, which the files' text columns
**     name, and length() counting 16-bit units as the engine does, so that the
**     files' size rules refuse here what the engine refuses;
**   - makes each link to a database file a table of the link's name (an
**     eponymous virtual table, see LinkTable.cpp) that reads and changes the
**     data file's source table. Nothing is written to any schema; the data
**     files are opened by the link tables themselves at their first use, not
**     attached: any number of them works, and loading stays quick;
**   - makes each ODBC link a table of the link's name over its server table
**     (the engine's own zul_odbc table, see OdbcTable.h): conditions on its
**     numeric columns go to the server, changes go to it by the table's key
**     and end with the statement's transaction. The server is reached at the
**     table's first use through the connect string and the data source's or
**     driver's own password (~/.pgpass for PostgreSQL), never a stored one.
** On a file without the engine's catalogue nothing but the functions is
** added. A link whose data file is missing, is no database or lacks its
** table fails when it is used, naming the file and the table; loading never
** fails because of one link. Links are read when the extension is loaded:
** a connection opened after a relink sees the new targets.
**
** No arguments. The entry point's name follows from the file name.
*/
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "CatalogSql.h"
#include "Collation.h"
#include "LinkTable.h"
#include "OdbcConnectString.h"
#include "OdbcTable.h"
#include "TextLength.h"

#include <map>
#include <string>
#include <vector>

namespace {

// Field type codes of the catalogue's MSysFields.Type.
constexpr int kBoolean = 1;
constexpr int kByte = 2;
constexpr int kInteger = 3;
constexpr int kLong = 4;
constexpr int kCurrency = 5;
constexpr int kSingle = 6;
constexpr int kDouble = 7;
constexpr int kDate = 8;
constexpr int kText = 10;
constexpr int kMemo = 12;

std::string text(sqlite3_stmt* statement, int column)
{
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value ? std::string(value, size_t(sqlite3_column_bytes(statement, column))) : std::string();
}

// The declared type of a recorded field, with the file's collation on text.
std::string columnType(int type, int size, const char* collation)
{
    switch (type) {
    case kText:
        return "TEXT(" + std::to_string(size > 0 ? size : 255) + ") COLLATE " + collation;
    case kMemo:
        return std::string("LONGTEXT COLLATE ") + collation;
    case kBoolean:
        return "YESNO";
    case kByte:
    case kInteger:
    case kLong:
        return "INTEGER";
    case kCurrency:
    case kSingle:
    case kDouble:
        return "DOUBLE";
    case kDate:
        return "DATETIME";
    default:
        return "";
    }
}

// The file a ";DATABASE=" connect string names; empty for any other kind of link.
std::string linkedPath(const std::string& connect)
{
    if (connect.size() >= 5 && sqlite3_strnicmp(connect.c_str(), "ODBC;", 5) == 0)
        return std::string();
    static const std::string key = "DATABASE=";
    for (size_t at = 0; at + key.size() <= connect.size(); ++at)
        if ((at == 0 || connect[at - 1] == ';') &&
            sqlite3_strnicmp(connect.c_str() + at, key.c_str(), int(key.size())) == 0)
            return connect.substr(at + key.size());
    return std::string();
}

bool hasCatalog(sqlite3* db)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT count(*) FROM main.sqlite_master WHERE type='table' AND "
                           "name IN ('MSysObjects','MSysFields','MSysInfo')",
                           -1, &statement, nullptr) != SQLITE_OK)
        return false;
    const bool all = sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_int(statement, 0) == 3;
    sqlite3_finalize(statement);
    return all;
}

struct Field {
    std::string name;
    int type;
    int size;
};

// Makes a table of each file link of the program file. A link that cannot be made is left out.
void makeLinkTables(sqlite3* db)
{
    if (!hasCatalog(db))
        return;
    const char* collation = zulGeneralCollationName;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, catalogsql::locale, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && text(statement, 0).find("LANGID=0x0405") != std::string::npos)
        collation = zulCzechCollationName;
    sqlite3_finalize(statement);

    std::map<std::string, std::vector<Field>> fields; // by name key
    if (sqlite3_prepare_v2(db, catalogsql::allLinkFields, -1, &statement, nullptr) == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW)
            fields[text(statement, 0)].push_back(
                {text(statement, 1), sqlite3_column_int(statement, 2), sqlite3_column_int(statement, 3)});
    sqlite3_finalize(statement);

    statement = nullptr;
    if (sqlite3_prepare_v2(db, catalogsql::allLinks, -1, &statement, nullptr) != SQLITE_OK)
        return;
    linktable::SharedFiles* shared = linktable::newSharedFiles();
    while (shared && sqlite3_step(statement) == SQLITE_ROW) {
        const std::string name = text(statement, 1);
        const std::string connect = text(statement, 3);
        const std::string path = linkedPath(connect);
        std::string source = text(statement, 4);
        if (!name.empty() && isOdbcConnect(QString::fromStdString(connect)))
            registerOdbcLinkTable(db, QString::fromStdString(name), QString::fromStdString(connect),
                                  QString::fromStdString(source), QString::fromLatin1(collation));
        if (path.empty() || name.empty())
            continue;
        if (source.empty())
            source = name;
        std::string schema;
        for (const Field& field : fields[text(statement, 0)]) {
            const std::string type = columnType(field.type, field.size, collation);
            schema +=
                (schema.empty() ? "" : ", ") + linktable::quotedName(field.name) + (type.empty() ? "" : " " + type);
        }
        // A link never refreshed has no recorded fields: it still gets its name, and fails when used.
        if (schema.empty())
            schema = linktable::quotedName("?");
        linktable::registerLink(db, shared, name, path, source, "CREATE TABLE x(" + schema + ")");
    }
    sqlite3_finalize(statement);
    linktable::releaseLoaderHold(shared);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_zulsqlite_init(sqlite3* db, char** errorMessage,
                                                                             const sqlite3_api_routines* api)
{
    SQLITE_EXTENSION_INIT2(api);
    try {
        const char* failedLocale = nullptr;
        int rc = registerZulCollations(db, &failedLocale);
        if (rc == SQLITE_OK)
            rc = textlength::registerUtf16Length(db);
        if (rc != SQLITE_OK) {
            if (errorMessage)
                *errorMessage =
                    failedLocale
                        ? sqlite3_mprintf("Nelze připravit porovnávání textu pro národní prostředí '%s'.", failedLocale)
                        : sqlite3_mprintf("%s", sqlite3_errmsg(db));
            return rc;
        }
        makeLinkTables(db);
        return SQLITE_OK;
    } catch (...) {
        return SQLITE_NOMEM;
    }
}
