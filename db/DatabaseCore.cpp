#include "DatabaseCore.h"

#include "Errors.h"
#include "Globals.h"
#include "OdbcTable.h"
#include "SqlDialect.h"

#include "FileSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Equal under SQLite's NOCASE, which folds ASCII letters only.
bool equalNoCase(const QString& left, const QString& right)
{
    if (left.size() != right.size())
        return false;
    const auto fold = [](QChar c) {
        return c.unicode() >= 'A' && c.unicode() <= 'Z' ? char16_t(c.unicode() + ('a' - 'A')) : c.unicode();
    };
    for (qsizetype i = 0; i < left.size(); ++i)
        if (fold(left.at(i)) != fold(right.at(i)))
            return false;
    return true;
}

qint64 pragmaValue(Connection& connection, const QString& pragma)
{
    Statement statement(connection, pragma, Statement::Reuse::Kept);
    statement.step();
    return statement.int64(0);
}

} // namespace

DbCore::DbCore(const QString& name, std::unique_ptr<Connection> connection)
    : m_name(name), m_connection(std::move(connection))
{
    loadCatalogState();
    gOpenCores.push_back(this);
}

DbCore::~DbCore()
{
    std::erase(gOpenCores, this);
}

Connection& DbCore::connection()
{
    if (!m_connection)
        throw Errors::objectInvalid();
    return *m_connection;
}

void DbCore::close()
{
    m_views.clear();
    m_attachments.clear();
    m_sources.clear();
    m_entries.clear();
    m_entriesValid = false;
    m_connection.reset();
}

QString DbCore::collation() const
{
    return m_czech ? czechCollation : generalCollation;
}

void DbCore::loadCatalogState()
{
    Catalog catalog = this->catalog();
    m_hasCatalog = catalog.exists();
    catalog.checkShape(m_name);
    m_czech = catalog.locale().contains(QStringLiteral("LANGID=0x0405"), Qt::CaseInsensitive);
}

void DbCore::ensureCatalog(const QString& locale, int options)
{
    if (m_hasCatalog)
        return;
    Connection& c = connection();
    Transaction transaction(c);
    catalog().create(locale, options);
    transaction.commit();
    m_hasCatalog = true;
    m_czech = locale.contains(QStringLiteral("LANGID=0x0405"), Qt::CaseInsensitive);
    m_entriesValid = false;
}

namespace {

// Drops the temporary view that shows a linked table.
QString dropViewSql(const QString& name)
{
    return QStringLiteral("DROP VIEW IF EXISTS temp.%1").arg(quoteName(name));
}

QString savepointName(int level)
{
    return QStringLiteral("zul_trans%1").arg(level);
}

} // namespace

void DbCore::beginTrans()
{
    Connection& c = connection();
    const int level = c.transactionLevel();
    if (level == 0) {
        // Refused at once rather than at the first change: the caller's work would be in vain.
        c.checkWritable();
        c.beginWrite();
        Statement begin(c, QStringLiteral("BEGIN IMMEDIATE"), Statement::Reuse::Kept);
        begin.run();
    } else {
        c.checkTransaction();
        Statement savepoint(c, QStringLiteral("SAVEPOINT ") + savepointName(level), Statement::Reuse::Kept);
        savepoint.run();
    }
    c.setTransactionLevel(level + 1);
}

void DbCore::commitTrans()
{
    Connection& c = connection();
    const int level = c.transactionLevel();
    if (level == 0)
        throw Errors::notInTransaction();
    try {
        c.checkTransaction();
        if (level == 1) {
            Statement commit(c, QStringLiteral("COMMIT"), Statement::Reuse::Kept);
            commit.run();
        } else {
            Statement release(c, QStringLiteral("RELEASE ") + savepointName(level - 1), Statement::Reuse::Kept);
            release.run();
        }
    } catch (...) {
        // A commit that fails takes the whole transaction with it: the file stays as it was before it.
        if (level == 1 || sqlite3_get_autocommit(c.handle()) != 0) {
            if (sqlite3_get_autocommit(c.handle()) == 0)
                sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            c.setTransactionLevel(0);
            afterRollback();
        }
        throw;
    }
    c.setTransactionLevel(level - 1);
}

void DbCore::rollback()
{
    Connection& c = connection();
    const int level = c.transactionLevel();
    if (level == 0)
        throw Errors::notInTransaction();
    c.setTransactionLevel(level - 1);
    // SQLite may already have ended the transaction after a failed write.
    if (sqlite3_get_autocommit(c.handle()) != 0) {
        c.setTransactionLevel(0);
    } else if (level == 1) {
        c.exec(QStringLiteral("ROLLBACK"));
    } else {
        const QString name = savepointName(level - 1);
        c.exec(QStringLiteral("ROLLBACK TO %1; RELEASE %1").arg(name));
    }
    afterRollback();
}

void DbCore::afterRollback()
{
    m_entriesValid = false;
    // Temporary views made inside the transaction are gone with it; the others are made again when needed.
    if (m_connection)
        for (const LinkView& view : std::as_const(m_views))
            sqlite3_exec(m_connection->handle(), dropViewSql(view.name).toUtf8().constData(), nullptr, nullptr,
                         nullptr);
    m_views.clear();
    try {
        if (m_connection)
            loadCatalogState();
    } catch (...) {
        // A damaged catalog is reported by the next call that reads it.
    }
}

std::optional<TableEntry> DbCore::findEntry(const QString& name)
{
    return catalog().entry(name, m_hasCatalog);
}

const std::vector<TableEntry>& DbCore::entries()
{
    connection();
    // Read once and kept: a walk by position must not shift when another program changes the file.
    if (!m_entriesValid) {
        m_entries = catalog().entries(m_hasCatalog);
        m_entriesValid = true;
    }
    return m_entries;
}

namespace {

// The fields of table (its exact name); createSql is its CREATE statement.
std::vector<std::shared_ptr<FieldDef>> tableFields(Connection& c, const QString& table, const QString& createSql)
{
    std::vector<std::shared_ptr<FieldDef>> fields;
    // One prepared statement for every table, rather than a pragma text per table.
    Statement info(c, QStringLiteral("SELECT name, type FROM pragma_table_info(?1)"), Statement::Reuse::Kept);
    info.bind(1, table);
    while (info.step()) {
        auto field = std::make_shared<FieldDef>();
        field->Name = info.text(0);
        field->Type = fieldTypeOfDeclType(info.text(1), &field->Size);
        const bool text = field->Type == dao::dbText || field->Type == dao::dbMemo;
        field->AllowZeroLength = text && !createSql.contains(quoteName(QStringLiteral("nonempty:") + field->Name));
        fields.push_back(field);
    }
    return fields;
}

} // namespace

std::vector<std::shared_ptr<FieldDef>> DbCore::localFields(const QString& table)
{
    Connection& c = connection();
    QString createSql;
    {
        Statement sql(c, QStringLiteral("SELECT sql FROM sqlite_master WHERE type IN ('table','view') AND name=?1"),
                      Statement::Reuse::Kept);
        sql.bind(1, table);
        if (sql.step())
            createSql = sql.text(0);
    }
    return tableFields(c, table, createSql);
}

namespace {

// The name a primary key was given as a table constraint ("CONSTRAINT "name" PRIMARY KEY").
QString primaryKeyName(Connection& c, const QString& table)
{
    Statement sql(c, QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name=?1"));
    sql.bind(1, table);
    if (sql.step()) {
        static const QRegularExpression constraint(
            QStringLiteral("CONSTRAINT\\s+\"((?:[^\"]|\"\")*)\"\\s+PRIMARY\\s+KEY"),
            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = constraint.match(sql.text(0));
        if (match.hasMatch())
            return match.captured(1).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return QStringLiteral("PrimaryKey");
}

} // namespace

std::vector<std::shared_ptr<IndexDef>> DbCore::localIndexes(const QString& table)
{
    Connection& c = connection();
    std::vector<std::shared_ptr<IndexDef>> indexes;
    Statement list(c, QStringLiteral("PRAGMA index_list(%1)").arg(quoteName(table)));
    struct Found {
        QString name;
        bool unique;
        bool primary;
    };
    std::vector<Found> found;
    while (list.step())
        found.push_back({list.text(1), list.int64(2) != 0, list.text(3) == QLatin1String("pk")});
    // index_list gives the newest first.
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        auto index = std::make_shared<IndexDef>();
        const QString prefix = table + QLatin1Char(':');
        index->Name = it->name.startsWith(prefix) ? it->name.mid(prefix.size()) : it->name;
        index->Unique = it->unique;
        index->Primary = it->primary;
        if (it->primary)
            index->Name = primaryKeyName(c, table);
        Statement columns(c, QStringLiteral("PRAGMA index_info(%1)").arg(quoteName(it->name)));
        while (columns.step())
            index->Fields << columns.text(2);
        indexes.push_back(index);
    }
    return indexes;
}

DbCore::Source& DbCore::source(const QString& path)
{
    connection();
    if (path != m_lastSourcePath) {
        m_lastSourceAbsolute = absolutePathOf(path);
        m_lastSourcePath = path;
    }
    const QString& absolute = m_lastSourceAbsolute;
    struct stat status {};
    if (::stat(QFile::encodeName(absolute).constData(), &status) != 0)
        throw Errors::fileNotFound(path);
    const auto it = m_sources.find(absolute);
    // The same file as before; one put in its place is looked at afresh.
    if (it != m_sources.end() && it->second.device == quint64(status.st_dev) &&
        it->second.inode == quint64(status.st_ino))
        return it->second;
    if (it != m_sources.end())
        m_sources.erase(it);
    checkDatabaseFile(path);
    Source source;
    source.device = quint64(status.st_dev);
    source.inode = quint64(status.st_ino);
    for (DbCore* other : gOpenCores)
        if (other->m_connection && other->m_connection->absolutePath() == absolute &&
            other->m_connection->device() == source.device && other->m_connection->inode() == source.inode)
            source.connection = other->m_connection;
    // Read-write although only read: the last connection to close a file an earlier version left in the
    // write-ahead log folds the log back, which a read-only one cannot do.
    if (!source.connection)
        source.connection = std::make_shared<Connection>(path, Connection::Mode::ReadWrite);
    return m_sources.emplace(absolute, std::move(source)).first->second;
}

DbCore::SourceTable* DbCore::findSourceTable(Source& source, const QString& name)
{
    Connection& c = *source.connection;
    // Another connection's commit moves data_version; a change of the schema also moves schema_version.
    const qint64 dataVersion = pragmaValue(c, QStringLiteral("PRAGMA data_version"));
    const qint64 schemaVersion = pragmaValue(c, QStringLiteral("PRAGMA schema_version"));
    if (!source.tablesValid || dataVersion != source.dataVersion || schemaVersion != source.schemaVersion) {
        source.tables.clear();
        source.tablesValid = false;
        Statement all(c, QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type IN ('table','view')"),
                      Statement::Reuse::Kept);
        while (all.step()) {
            const QString table = all.text(0);
            source.tables[nameKey(table)].push_back(SourceTable{table, all.text(1), std::nullopt});
        }
        source.tablesValid = true;
        source.dataVersion = dataVersion;
        source.schemaVersion = schemaVersion;
    }
    const auto found = source.tables.find(nameKey(name));
    if (found == source.tables.end())
        return nullptr;
    // As findTable: the first whose name SQLite itself takes for name, else for a name beyond
    // ASCII the first with the same case-folded name.
    for (SourceTable& table : found->second)
        if (equalNoCase(table.name, name))
            return &table;
    return isAscii(name) ? nullptr : &found->second.front();
}

std::vector<std::shared_ptr<FieldDef>> DbCore::sourceFields(const QString& path, QString* sourceTable)
{
    Source& s = source(path);
    SourceTable* table = findSourceTable(s, *sourceTable);
    if (!table)
        throw Errors::sourceTableMissing(*sourceTable, path);
    if (s.device == m_connection->device() && s.inode == m_connection->inode())
        throw Errors::linkToItself(*sourceTable, path);
    *sourceTable = table->name;
    if (!table->fields)
        table->fields = tableFields(*s.connection, table->name, table->sql);
    // Copies: the caller's definitions are its own to change.
    std::vector<std::shared_ptr<FieldDef>> fields;
    fields.reserve(table->fields->size());
    for (const auto& field : *table->fields)
        fields.push_back(std::make_shared<FieldDef>(*field));
    return fields;
}

QString DbCore::attach(const QString& path, const QSet<QString>& keep)
{
    Connection& c = connection();
    const QString absolute = absolutePathOf(path);
    for (const Attachment& attachment : m_attachments)
        if (attachment.absolutePath == absolute)
            return attachment.alias;
    const int limit = sqlite3_limit(c.handle(), SQLITE_LIMIT_ATTACHED, -1);
    while (int(m_attachments.size()) >= limit) {
        // Make room: let go of a file this statement does not need.
        auto unused = std::find_if(m_attachments.begin(), m_attachments.end(),
                                   [&keep](const Attachment& a) { return !keep.contains(a.alias); });
        if (unused == m_attachments.end())
            throw Errors::tooManyLinkedFiles(limit);
        detach(unused->alias);
        m_attachments.erase(unused);
    }
    const QString alias = QStringLiteral("zul_link%1").arg(++m_nextAlias);
    Statement attach(c, QStringLiteral("ATTACH DATABASE ?1 AS %1").arg(alias));
    // A file without write permission is read-only for everybody, as the engine opens such files.
    attach.bind(1, sqliteUri(absolute, isWriteProtected(absolute) ? "ro" : "rw"));
    attach.run();
    m_attachments.push_back({alias, absolute});
    // A transaction over several files commits them all or none, which SQLite gives only to files in
    // the rollback journal.
    if (hasWalHeader(absolute) && sqlite3_db_readonly(c.handle(), alias.toUtf8().constData()) == 0)
        sqlite3_exec(c.handle(), QStringLiteral("PRAGMA %1.journal_mode=DELETE").arg(alias).toUtf8().constData(),
                     nullptr, nullptr, nullptr);
    makeDurable(m_attachments.back());
    return alias;
}

void DbCore::makeDurable(Attachment& attachment)
{
    // Changes through links are as durable as the program file's own. Inside a transaction SQLite
    // keeps its default (FULL: the journal's removal not yet flushed) until the next statement after it.
    if (attachment.durable || sqlite3_get_autocommit(m_connection->handle()) == 0)
        return;
    m_connection->exec(QStringLiteral("PRAGMA %1.synchronous=EXTRA").arg(attachment.alias));
    attachment.durable = true;
}

void DbCore::prepareLinks(const QStringList& names)
{
    if (m_attachments.empty() && (!m_hasCatalog || names.isEmpty()))
        return;
    Connection& c = connection();
    std::vector<TableEntry> needed;
    QSet<QString> keep;
    if (m_hasCatalog) {
        Catalog catalog(c);
        for (const QString& name : names) {
            const QString key = nameKey(name);
            std::optional<TableEntry> found = catalog.link(name);
            if (!found)
                continue;
            TableEntry link = std::move(*found);
            const auto view = m_views.constFind(key);
            if (view != m_views.constEnd() && view->connect == link.connect && view->source == link.source &&
                view->name == link.name) {
                keep.insert(view->alias);
                continue;
            }
            if (!isOdbcConnect(link.connect)) {
                const QString absolute = absolutePathOf(linkedPath(link.connect));
                for (const Attachment& attachment : m_attachments)
                    if (attachment.absolutePath == absolute)
                        keep.insert(attachment.alias);
            }
            needed.push_back(std::move(link));
        }
    }
    // Files this statement does not read are let go, so that their own tables
    // cannot stand in for names of the program file (not possible inside a transaction).
    const bool inTransaction = sqlite3_get_autocommit(c.handle()) == 0;
    for (auto attachment = m_attachments.begin(); attachment != m_attachments.end();) {
        if (inTransaction || keep.contains(attachment->alias)) {
            makeDurable(*attachment);
            ++attachment;
            continue;
        }
        detach(attachment->alias);
        attachment = m_attachments.erase(attachment);
    }
    for (const TableEntry& link : needed) {
        if (isOdbcConnect(link.connect)) {
            // A server table: a view of the link's name over the table that forwards to the server.
            const QString table = QStringLiteral("zul_odbc%1").arg(++m_nextAlias);
            c.exec(dropViewSql(link.name));
            c.exec(odbcLinkSql(link.name, table, link.connect, link.source, collation()));
            m_views.insert(nameKey(link.name),
                           LinkView{link.name, table, QString(), QString(), link.connect, link.source});
            continue;
        }
        const QString path = linkedPath(link.connect);
        QString table = link.source.isEmpty() ? link.name : link.source;
        Source& data = source(path);
        // A link into this very file would stand for one of its own tables: refused, as no loop can come of it.
        if (data.device == c.device() && data.inode == c.inode())
            throw Errors::linkToItself(link.name, path);
        const SourceTable* match = findSourceTable(data, table);
        if (!match)
            throw Errors::sourceTableMissing(table, path);
        const QString found = match->name;
        const QString alias = attach(path, keep);
        keep.insert(alias);
        c.exec(dropViewSql(link.name));
        c.exec(QStringLiteral("CREATE TEMP VIEW %1 AS SELECT * FROM %2.%3")
                   .arg(quoteName(link.name), alias, quoteName(found)));
        m_views.insert(nameKey(link.name), LinkView{link.name, alias, path, found, link.connect, link.source});
    }
}

QString DbCore::writableLinkTarget(const QString& name)
{
    const auto view = m_views.constFind(nameKey(name));
    if (view == m_views.constEnd())
        return QString();
    // A server table's view reads its forwarding table, which takes the changes (or refuses them).
    if (view->path.isEmpty())
        return QStringLiteral("temp.") + quoteName(view->alias);
    Connection& c = connection();
    const QString folder = QFileInfo(absolutePathOf(view->path)).absolutePath();
    if (sqlite3_db_readonly(c.handle(), view->alias.toUtf8().constData()) == 1 ||
        ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        throw Errors::linkReadOnly(view->name, view->path);
    return view->alias + QLatin1Char('.') + quoteName(view->table);
}

void DbCore::explainReadOnlyLink(const QString& name)
{
    const auto view = m_views.constFind(nameKey(name));
    if (view != m_views.constEnd() && m_connection && !view->path.isEmpty() &&
        sqlite3_db_readonly(m_connection->handle(), view->alias.toUtf8().constData()) != 0)
        throw Errors::linkReadOnly(view->name, view->path);
}

void DbCore::detach(const QString& alias)
{
    Connection& c = connection();
    for (auto view = m_views.begin(); view != m_views.end();) {
        if (view->alias == alias) {
            c.exec(dropViewSql(view->name));
            view = m_views.erase(view);
        } else {
            ++view;
        }
    }
    c.exec(QStringLiteral("DETACH DATABASE %1").arg(alias));
}

void DbCore::dropLinkView(const QString& name)
{
    const auto view = m_views.find(nameKey(name));
    if (view == m_views.end())
        return;
    const QString viewName = view->name;
    m_views.erase(view);
    connection().exec(dropViewSql(viewName));
}
