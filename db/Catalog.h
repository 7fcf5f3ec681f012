#pragma once

// The catalogue of one database file, and the only code that reads or writes
// it: which tables the file defines, which of them are links and where they
// point, the fields a link had at its last refresh, and the file's locale.
//
// System tables (no custom collation, so that the stock shell can check them):
//   MSysObjects: one row per link, and per local table with attributes of its own;
//                NameKey is the case-folded name.
//   MSysFields:  the fields of each link as seen at its last refresh.
//   MSysInfo:    the locale and the creation options.
// Local tables are plain SQLite tables; links have no SQLite table of their own.
//
// The column layout and the SQL texts other SQLite programs need to follow the
// links (the loadable extension) are in CatalogSql.h, free of Qt.

#include "Connection.h"
#include "DBEngine.h"
#include "OdbcConnectString.h" // isOdbcConnect

#include <optional>
#include <vector>

QString nameKey(const QString& name);
// No letter beyond ASCII: SQLite's NOCASE then compares as nameKey does.
bool isAscii(const QString& text);

// What a connect string points at. A new kind of link adds a value here and a
// room of its own that reads its rows; the catalogue stores every kind alike.
enum class LinkKind { File, Odbc };
LinkKind linkKindOf(const QString& connect);
// The file a ";DATABASE=" connect string names; raises when it names none.
QString linkedPath(const QString& connect);

// One table definition as the catalogue and the file's schema give it.
struct TableEntry {
    QString name;
    qint32 attributes = 0;
    QString connect;
    QString source;
    bool isLink() const { return isLinkAttributes(attributes); }
    static bool isLinkAttributes(qint32 attributes)
    {
        return (attributes & (dao::dbAttachedTable | dao::dbAttachedODBC)) != 0;
    }
};

class Catalog {
public:
    explicit Catalog(Connection& connection) : m_connection(connection) {}

    // The catalogue's tables are there (MSysObjects at least).
    bool exists();
    // Raises 3049 naming fileName when some of the catalogue's tables are there
    // with other columns than the engine's own.
    void checkShape(const QString& fileName);
    // The locale stored at creation; empty when the file has none.
    QString locale();
    // Makes the catalogue's tables inside the caller's transaction.
    void create(const QString& locale, int options);

    // A table (or also a view) of the file whose name equals name without regard
    // to case; empty when there is none.
    QString findTable(const QString& name, bool views = false);
    static bool isSystemName(const QString& name);

    // The definition of name as the file holds it now: a link, or a local table
    // with its hidden flag; none when neither exists. withCatalog: the file has one.
    std::optional<TableEntry> entry(const QString& name, bool withCatalog);
    // Every definition, ordered by name key.
    std::vector<TableEntry> entries(bool withCatalog);
    // The link called name; none when name is no link.
    std::optional<TableEntry> link(const QString& name);

    // Stores a link (replacing a row a dropped table may have left) with its fields.
    void putLink(const TableEntry& link, const std::vector<std::shared_ptr<FieldDef>>& fields);
    // Points an existing link elsewhere; false when the catalogue has no such link any more.
    // A source given (not empty) replaces the stored source table's name as well.
    bool repointLink(const QString& name, const QString& connect, qint32 attributes, const QString& source = QString());
    std::vector<std::shared_ptr<FieldDef>> linkFields(const QString& name);
    void putLinkFields(const QString& name, const std::vector<std::shared_ptr<FieldDef>>& fields);
    // Records the attributes (the hidden flag) of a table.
    void setAttributes(const QString& name, qint32 attributes);
    // Records a new local table: its hidden flag when set, nothing otherwise.
    void putLocal(const QString& name, qint32 hidden);
    void rename(const QString& oldName, const QString& newName);
    // Forgets every row about name, its recorded fields included.
    void forget(const QString& name);

private:
    // The row of MSysObjects for name (exact key); none when there is none.
    std::optional<TableEntry> row(const QString& name);

    Connection& m_connection;
};
