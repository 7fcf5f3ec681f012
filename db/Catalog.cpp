#include "Catalog.h"

#include "CatalogSql.h"
#include "Errors.h"
#include "SqlDialect.h"

#include <QHash>

#include <map>

bool isAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127)
            return false;
    return true;
}

namespace {

// "name type notnull default pk" of every column of a table, in order.
QString columnsOf(sqlite3* db, const QString& table)
{
    QStringList columns;
    sqlite3_stmt* raw = nullptr;
    const QByteArray sql = QStringLiteral("PRAGMA table_info(%1)").arg(quoteName(table)).toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &raw, nullptr) != SQLITE_OK)
        return QString();
    StatementHandle statement(raw);
    const auto text = [&](int column) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, column)));
    };
    while (sqlite3_step(raw) == SQLITE_ROW)
        columns.append(QStringList{text(1), text(2), text(3), text(4), text(5)}.join(QLatin1Char(' ')));
    return columns.join(QLatin1Char(','));
}

// The catalogue's tables as catalogsql::create makes them.
const QHash<QString, QString>& catalogColumns()
{
    static const QHash<QString, QString> columns = [] {
        QHash<QString, QString> result;
        sqlite3* raw = nullptr;
        sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        SqliteHandle db(raw);
        sqlite3_exec(raw, catalogsql::create, nullptr, nullptr, nullptr);
        for (const char* table : catalogsql::tableNames)
            result.insert(QLatin1String(table), columnsOf(raw, QLatin1String(table)));
        return result;
    }();
    return columns;
}

// The entry a statement's row gives, its columns from first on in catalogsql::entryColumns' order.
TableEntry entryOf(const Statement& row, int first = 0)
{
    return TableEntry{row.text(first), qint32(row.int64(first + 1)), row.text(first + 2), row.text(first + 3)};
}

} // namespace

QString nameKey(const QString& name)
{
    return name.toCaseFolded();
}

LinkKind linkKindOf(const QString& connect)
{
    return isOdbcConnect(connect) ? LinkKind::Odbc : LinkKind::File;
}

QString linkedPath(const QString& connect)
{
    static const QString key = QStringLiteral("DATABASE=");
    const int at = int(connect.indexOf(key, 0, Qt::CaseInsensitive));
    if (at < 0 || (at > 0 && connect.at(at - 1) != QLatin1Char(';')))
        throw Errors::connectWithoutDatabase(connect);
    return connect.mid(at + key.size());
}

bool Catalog::isSystemName(const QString& name)
{
    const QString key = nameKey(name);
    return key == QLatin1String("msysobjects") || key == QLatin1String("msysfields") ||
           key == QLatin1String("msysinfo") || key.startsWith(QLatin1String("sqlite_"));
}

QString Catalog::findTable(const QString& name, bool views)
{
    const QString kinds = views ? QStringLiteral("('table','view')") : QStringLiteral("('table')");
    Statement exact(
        m_connection,
        QStringLiteral("SELECT name FROM sqlite_master WHERE type IN %1 AND name=?1 COLLATE NOCASE").arg(kinds),
        Statement::Reuse::Kept);
    exact.bind(1, name);
    const QString key = nameKey(name);
    while (exact.step()) {
        if (nameKey(exact.text(0)) == key)
            return exact.text(0);
    }
    if (isAscii(name))
        return QString();
    // SQLite folds only ASCII letters; other letters need the full comparison.
    Statement all(m_connection, QStringLiteral("SELECT name FROM sqlite_master WHERE type IN %1").arg(kinds),
                  Statement::Reuse::Kept);
    while (all.step()) {
        if (nameKey(all.text(0)) == key)
            return all.text(0);
    }
    return QString();
}

bool Catalog::exists()
{
    return !findTable(QStringLiteral("MSysObjects")).isEmpty();
}

void Catalog::checkShape(const QString& fileName)
{
    // A catalogue whose tables differ from the engine's own (a key missing, say)
    // would let look-ups and listings disagree, and a run could end "clean"
    // with a table it cannot find: such a file counts as damaged.
    bool anyCatalogTable = false;
    for (auto it = catalogColumns().cbegin(); it != catalogColumns().cend(); ++it)
        anyCatalogTable = anyCatalogTable || !findTable(it.key()).isEmpty();
    if (!anyCatalogTable)
        return;
    for (auto it = catalogColumns().cbegin(); it != catalogColumns().cend(); ++it)
        if (columnsOf(m_connection.handle(), it.key()) != it.value())
            throw Errors::databaseCorrupt(fileName);
    // A damaged page or index of the catalogue (a row missing from the key on
    // names, say) lets a look-up miss a table the listing shows, or find one
    // twice: SQLite's own check of the catalogue's tables and their indexes,
    // a few milliseconds for thousands of links, refuses such a file too.
    for (const char* table : catalogsql::tableNames) {
        sqlite3_stmt* raw = nullptr;
        const QByteArray sql = QByteArrayLiteral("PRAGMA integrity_check(") + table + ')';
        if (sqlite3_prepare_v2(m_connection.handle(), sql.constData(), -1, &raw, nullptr) != SQLITE_OK)
            throw Errors::catalogCorrupt(fileName);
        StatementHandle statement(raw);
        const int rc = sqlite3_step(raw);
        if (rc != SQLITE_ROW || qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)), "ok") != 0)
            throw Errors::catalogCorrupt(fileName);
    }
}

QString Catalog::locale()
{
    if (findTable(QStringLiteral("MSysInfo")).isEmpty())
        return QString();
    Statement locale(m_connection, QString::fromLatin1(catalogsql::locale));
    return locale.step() ? locale.text(0) : QString();
}

void Catalog::create(const QString& locale, int options)
{
    m_connection.exec(QString::fromLatin1(catalogsql::create));
    Statement info(m_connection, QStringLiteral("INSERT INTO MSysInfo (Name, Value) VALUES (?1, ?2)"));
    info.bindAll({QStringLiteral("Locale"), locale});
    info.run();
    info.reset();
    info.bindAll({QStringLiteral("Options"), QString::number(options)});
    info.run();
}

std::optional<TableEntry> Catalog::row(const QString& name)
{
    Statement row(
        m_connection,
        QStringLiteral("SELECT %1 FROM MSysObjects WHERE NameKey=?1").arg(QLatin1String(catalogsql::entryColumns)),
        Statement::Reuse::Kept);
    row.bind(1, nameKey(name));
    if (!row.step())
        return std::nullopt;
    return entryOf(row);
}

std::optional<TableEntry> Catalog::entry(const QString& name, bool withCatalog)
{
    if (name.isEmpty())
        return std::nullopt;
    std::optional<TableEntry> own;
    if (withCatalog) {
        own = row(name);
        if (own && own->isLink())
            return own;
    }
    const QString table = findTable(name);
    if (table.isEmpty())
        return std::nullopt;
    TableEntry entry{table, 0, QString(), QString()};
    if (isSystemName(table))
        entry.attributes = dao::dbSystemObject;
    else if (own)
        entry.attributes = own->attributes & dao::dbHiddenObject;
    return entry;
}

std::vector<TableEntry> Catalog::entries(bool withCatalog)
{
    std::map<QString, TableEntry> byKey;
    Statement tables(m_connection, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"),
                     Statement::Reuse::Kept);
    while (tables.step()) {
        const QString name = tables.text(0);
        TableEntry entry{name, isSystemName(name) ? dao::dbSystemObject : 0, QString(), QString()};
        const QString key = nameKey(name);
        // Two tables whose names differ only in the case of letters beyond
        // ASCII (made by another program) are both listed, so that neither
        // vanishes: the second one right after the first.
        if (!byKey.try_emplace(key, entry).second)
            byKey.emplace(key + QChar(1) + name, std::move(entry));
    }
    if (withCatalog) {
        Statement rows(
            m_connection,
            QStringLiteral("SELECT NameKey, %1 FROM MSysObjects").arg(QLatin1String(catalogsql::entryColumns)),
            Statement::Reuse::Kept);
        while (rows.step()) {
            TableEntry entry = entryOf(rows, 1);
            const QString key = rows.text(0);
            if (entry.isLink()) {
                byKey[key] = std::move(entry);
            } else {
                auto local = byKey.find(key);
                if (local != byKey.end() && !isSystemName(local->second.name))
                    local->second.attributes |= entry.attributes & dao::dbHiddenObject;
            }
        }
    }
    std::vector<TableEntry> entries;
    entries.reserve(byKey.size());
    for (auto& [key, entry] : byKey)
        entries.push_back(std::move(entry));
    return entries;
}

std::optional<TableEntry> Catalog::link(const QString& name)
{
    std::optional<TableEntry> found = row(name);
    if (!found || found->connect.isEmpty())
        return std::nullopt;
    return found;
}

void Catalog::putLink(const TableEntry& link, const std::vector<std::shared_ptr<FieldDef>>& fields)
{
    // A row left by a table that another tool dropped is replaced.
    Statement insert(m_connection,
                     QStringLiteral("INSERT OR REPLACE INTO MSysObjects (NameKey, %1) VALUES (?1, ?2, ?3, ?4, ?5)")
                         .arg(QLatin1String(catalogsql::entryColumns)),
                     Statement::Reuse::Kept);
    insert.bindAll({nameKey(link.name), link.name, link.attributes, link.connect, link.source});
    insert.run();
    putLinkFields(link.name, fields);
}

bool Catalog::repointLink(const QString& name, const QString& connect, qint32 attributes, const QString& source)
{
    Statement update(m_connection,
                     QStringLiteral("UPDATE MSysObjects SET Connect=?1, Attributes=?2, "
                                    "SourceTableName=coalesce(?4, SourceTableName) WHERE NameKey=?3"),
                     Statement::Reuse::Kept);
    update.bindAll({connect, attributes, nameKey(name), source.isEmpty() ? QVariant() : QVariant(source)});
    update.run();
    return sqlite3_changes(m_connection.handle()) == 1;
}

std::vector<std::shared_ptr<FieldDef>> Catalog::linkFields(const QString& name)
{
    std::vector<std::shared_ptr<FieldDef>> fields;
    Statement rows(m_connection,
                   QStringLiteral("SELECT Name, Type, Size FROM MSysFields WHERE NameKey=?1 ORDER BY Position"),
                   Statement::Reuse::Kept);
    rows.bind(1, nameKey(name));
    while (rows.step()) {
        auto field = std::make_shared<FieldDef>();
        field->Name = rows.text(0);
        field->Type = int(rows.int64(1));
        field->Size = int(rows.int64(2));
        field->AllowZeroLength = field->Type == dao::dbText || field->Type == dao::dbMemo;
        fields.push_back(field);
    }
    return fields;
}

void Catalog::putLinkFields(const QString& name, const std::vector<std::shared_ptr<FieldDef>>& fields)
{
    const QString key = nameKey(name);
    Statement remove(m_connection, QStringLiteral("DELETE FROM MSysFields WHERE NameKey=?1"), Statement::Reuse::Kept);
    remove.bind(1, key);
    remove.run();
    Statement insert(m_connection,
                     QStringLiteral("INSERT INTO MSysFields (NameKey, Position, Name, Type, Size) "
                                    "VALUES (?1, ?2, ?3, ?4, ?5)"),
                     Statement::Reuse::Kept);
    int position = 0;
    for (const auto& field : fields) {
        insert.reset();
        insert.bindAll({key, ++position, field->Name, field->Type, field->Size});
        insert.run();
    }
}

void Catalog::setAttributes(const QString& name, qint32 attributes)
{
    Statement upsert(m_connection,
                     QStringLiteral("INSERT INTO MSysObjects (NameKey, Name, Attributes) VALUES (?1, ?2, ?3) "
                                    "ON CONFLICT(NameKey) DO UPDATE SET Attributes=excluded.Attributes"));
    upsert.bindAll({nameKey(name), name, attributes});
    upsert.run();
}

void Catalog::putLocal(const QString& name, qint32 hidden)
{
    Statement forget(m_connection, QStringLiteral("DELETE FROM MSysObjects WHERE NameKey=?1"));
    forget.bind(1, nameKey(name));
    forget.run();
    if (!hidden)
        return;
    Statement insert(m_connection,
                     QStringLiteral("INSERT INTO MSysObjects (NameKey, Name, Attributes) VALUES (?1, ?2, ?3)"));
    insert.bindAll({nameKey(name), name, hidden});
    insert.run();
}

void Catalog::rename(const QString& oldName, const QString& newName)
{
    const QString oldKey = nameKey(oldName);
    const QString newKey = nameKey(newName);
    Statement object(m_connection, QStringLiteral("UPDATE MSysObjects SET NameKey=?1, Name=?2 WHERE NameKey=?3"));
    object.bindAll({newKey, newName, oldKey});
    object.run();
    Statement fields(m_connection, QStringLiteral("UPDATE MSysFields SET NameKey=?1 WHERE NameKey=?2"));
    fields.bindAll({newKey, oldKey});
    fields.run();
}

void Catalog::forget(const QString& name)
{
    for (const char* table : {"MSysObjects", "MSysFields"}) {
        Statement forget(m_connection, QStringLiteral("DELETE FROM %1 WHERE NameKey=?1").arg(QLatin1String(table)));
        forget.bind(1, nameKey(name));
        forget.run();
    }
}
