#pragma once

// The state of one open database file, shared by the Database object and the
// table definitions and record sets made from it, so that they all see the
// moment it is closed.
//
// The file's table definitions are kept by its Catalog. A query that names a
// link attaches the linked file and reads it through a temporary view of the
// link's name.

#include "Catalog.h"
#include "Connection.h"
#include "DBEngine.h"

#include <QHash>

#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

class DbCore {
public:
    DbCore(const QString& name, std::unique_ptr<Connection> connection);
    ~DbCore();

    const QString& name() const { return m_name; }
    bool isOpen() const { return m_connection != nullptr; }
    // The connection; raises 3420 when closed.
    Connection& connection();
    // The file's catalogue on the connection; raises 3420 when closed.
    Catalog catalog() { return Catalog(connection()); }
    void close();
    QString collation() const;
    bool hasCatalog() const { return m_hasCatalog; }
    // Creates the catalog inside the caller's transaction when the file has none.
    void ensureCatalog(const QString& locale = dao::dbLangGeneral, int options = 0);

    // Transactions of the caller (BeginTrans, CommitTrans, Rollback): the outermost takes the
    // file's write lock, the inner ones are savepoints.
    void beginTrans();
    void commitTrans();
    void rollback();
    int transactionLevel() const { return m_connection ? m_connection->transactionLevel() : 0; }

    // Table definitions.
    std::optional<TableEntry> findEntry(const QString& name);
    const std::vector<TableEntry>& entries();
    void invalidateEntries() { m_entriesValid = false; }
    std::vector<std::shared_ptr<FieldDef>> localFields(const QString& table);
    std::vector<std::shared_ptr<IndexDef>> localIndexes(const QString& table);

    // Linked files: the fields of sourceTable in the file at path (opened once
    // per path and kept until close). Raises 3024, 3343 or 3011.
    std::vector<std::shared_ptr<FieldDef>> sourceFields(const QString& path, QString* sourceTable);

    // Makes every link among names readable by a statement on this connection.
    void prepareLinks(const QStringList& names);
    // The schema-qualified source table of a link prepared by prepareLinks, for a statement that
    // changes it; empty when name is no prepared link. Raises 3027 naming the data file when that
    // cannot be written.
    QString writableLinkTarget(const QString& name);
    // Raises 3027 naming the data file of a link among names when a failed write was refused
    // because that file is read-only; returns otherwise.
    void explainReadOnlyLink(const QString& name);
    // Forgets the view of a link that was changed or renamed.
    void dropLinkView(const QString& name);


private:
    struct SourceTable {
        QString name;
        QString sql; // its CREATE statement, which holds the rules of its fields
        std::optional<std::vector<std::shared_ptr<FieldDef>>> fields; // read at first use
    };
    struct Source {
        std::shared_ptr<Connection> connection; // its own, or that of another open database of the file
        quint64 device = 0;
        quint64 inode = 0;
        // The file's tables and views by name key, each list in the file's order. Read in one
        // pass and kept while the file's data and schema versions stay as they were then.
        std::unordered_map<QString, std::vector<SourceTable>> tables;
        bool tablesValid = false;
        qint64 dataVersion = -1;
        qint64 schemaVersion = -1;
    };
    struct Attachment {
        QString alias;
        QString absolutePath;
        bool durable = false; // synchronous=EXTRA set, which SQLite refuses inside a transaction
    };
    struct LinkView {
        QString name;
        QString alias;
        QString path;  // the data file as the connect string names it
        QString table; // the source table's own name there
        QString connect; // as the view was made: a changed link gets a new view
        QString source;
    };

    Source& source(const QString& path);
    // The table or view of the source named name as findTable would find it; null when there is none.
    SourceTable* findSourceTable(Source& source, const QString& name);
    QString attach(const QString& path, const QSet<QString>& keep);
    void makeDurable(Attachment& attachment);
    // Drops the views reading through alias and detaches it.
    void detach(const QString& alias);
    void loadCatalogState();
    // Forgets what a rolled back change may have left in the caches.
    void afterRollback();

    QString m_name;
    std::shared_ptr<Connection> m_connection;
    bool m_hasCatalog = false;
    bool m_czech = false;
    bool m_entriesValid = false;
    std::vector<TableEntry> m_entries;
    std::map<QString, Source> m_sources;
    QString m_lastSourcePath; // and its absolute path: the same data path comes once per table
    QString m_lastSourceAbsolute;
    std::vector<Attachment> m_attachments;
    int m_nextAlias = 0;
    QHash<QString, LinkView> m_views; // by name key
};
