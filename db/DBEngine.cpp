#include "DBEngine.h"

#include "DatabaseCore.h"
#include "Errors.h"
#include "IgnoringFailures.h"
#include "OdbcConnectString.h"
#include "OdbcLinks.h"
#include "SqlDialect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <deque>

namespace {

void checkName(const QString& name)
{
    if (name.trimmed().isEmpty() || name.size() > 64 || name.startsWith(QLatin1Char(' ')))
        throw Errors::invalidTableName(name);
}

bool sameFields(const std::vector<std::shared_ptr<FieldDef>>& left, const std::vector<std::shared_ptr<FieldDef>>& right)
{
    return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](const auto& a, const auto& b) {
        return a->Name == b->Name && a->Type == b->Type && a->Size == b->Size;
    });
}

} // namespace

// ---------------------------------------------------------------- TableDef

class TableDefImpl {
public:
    std::shared_ptr<DbCore> core; // set once the definition is attached
    QString name;
    qint32 attributes = 0;
    QString connect;
    QString source;
    std::optional<QString> heldConnect; // set on an attached link, applied by RefreshLink
    std::vector<std::shared_ptr<FieldDef>> fields;
    std::vector<std::shared_ptr<IndexDef>> indexes;
    bool fieldsLoaded = false;
    bool indexesLoaded = false;

    bool attached() const { return core != nullptr; }
    bool isLink() const { return TableEntry::isLinkAttributes(attributes); }
    DbCore& openCore() const
    {
        if (!core || !core->isOpen())
            throw Errors::objectInvalid();
        return *core;
    }
    void loadFields()
    {
        if (!attached() || fieldsLoaded)
            return;
        DbCore& db = openCore();
        fields = isLink() ? db.catalog().linkFields(name) : db.localFields(name);
        fieldsLoaded = true;
    }
    void loadIndexes()
    {
        if (!attached() || indexesLoaded)
            return;
        DbCore& db = openCore();
        indexes = isLink() ? std::vector<std::shared_ptr<IndexDef>>() : db.localIndexes(name);
        indexesLoaded = true;
    }
};

TableDef::TableDef(std::unique_ptr<TableDefImpl> impl) : d(std::move(impl)) {}
TableDef::~TableDef() = default;

QString TableDef::Name() const
{
    if (d->attached())
        d->openCore();
    return d->name;
}

void TableDef::setName(const QString& name)
{
    if (!d->attached()) {
        d->name = name;
        return;
    }
    DbCore& db = d->openCore();
    checkName(name);
    if (name == d->name)
        return;
    const QString oldKey = nameKey(d->name);
    const QString newKey = nameKey(name);
    if (newKey != oldKey && db.findEntry(name))
        throw Errors::tableExists(name);
    Connection& c = db.connection();
    db.dropLinkView(d->name);
    Transaction transaction(c);
    if (!d->isLink())
        c.exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(quoteName(d->name), quoteName(name)));
    if (db.hasCatalog())
        db.catalog().rename(d->name, name);
    transaction.commit();
    db.invalidateEntries();
    d->name = name;
}

qint32 TableDef::Attributes() const
{
    if (d->attached())
        d->openCore();
    return d->attributes;
}

void TableDef::setAttributes(qint32 attributes)
{
    if (!d->attached()) {
        d->attributes = attributes;
        return;
    }
    DbCore& db = d->openCore();
    // Only the hidden flag can change on an attached definition.
    const qint32 wanted = (d->attributes & ~dao::dbHiddenObject) | (attributes & dao::dbHiddenObject);
    if (wanted == d->attributes)
        return;
    if (d->attributes & dao::dbSystemObject)
        throw Errors::systemTableProperties(d->name);
    db.ensureCatalog();
    Connection& c = db.connection();
    Transaction transaction(c);
    db.catalog().setAttributes(d->name, wanted);
    transaction.commit();
    db.invalidateEntries();
    d->attributes = wanted;
}

QString TableDef::Connect() const
{
    if (d->attached())
        d->openCore();
    return d->heldConnect.value_or(d->connect);
}

void TableDef::setConnect(const QString& connect)
{
    if (!d->attached()) {
        d->connect = connect;
        return;
    }
    d->openCore();
    if (!d->isLink())
        throw Errors::connectOnLocalTable(d->name);
    // A password is used for this process only, never held where it could be stored.
    d->heldConnect = withoutPassword(connect);
}

QString TableDef::SourceTableName() const
{
    if (d->attached())
        d->openCore();
    return d->source;
}

void TableDef::setSourceTableName(const QString& source)
{
    if (!d->attached()) {
        d->source = source;
        return;
    }
    d->openCore();
    throw Errors::sourceTableFixed(d->name);
}

void TableDef::RefreshLink()
{
    if (!d->attached())
        throw Errors::tableNotAppended(d->name);
    DbCore& db = d->openCore();
    if (!d->isLink())
        throw Errors::notALink(d->name);
    const QString connect = d->heldConnect.value_or(d->connect);
    const bool odbc = isOdbcConnect(connect);
    QString table = d->source.isEmpty() ? d->name : d->source;
    const auto fields = odbc ? odbcSourceFields(connect, &table) : db.sourceFields(linkedPath(connect), &table);
    const qint32 attributes =
        (d->attributes & dao::dbHiddenObject) | (odbc ? dao::dbAttachedODBC : dao::dbAttachedTable);
    Connection& c = db.connection();
    // Connect string and fields change together or not at all.
    Transaction transaction(c);
    Catalog catalog(c);
    // A server's names are case-sensitive: an ODBC link keeps the server's own spelling of its table.
    if (!catalog.repointLink(d->name, connect, attributes, odbc ? table : QString()))
        throw Errors::linkGone(d->name);
    // A link re-pointed to a file whose table has the same fields keeps its recorded ones.
    if (!sameFields(catalog.linkFields(d->name), fields))
        catalog.putLinkFields(d->name, fields);
    transaction.commit();
    db.dropLinkView(d->name);
    db.invalidateEntries();
    d->connect = connect;
    d->heldConnect.reset();
    d->attributes = attributes;
    if (odbc)
        d->source = table;
    d->fields = fields;
    d->fieldsLoaded = true;
}

std::shared_ptr<FieldDef> TableDef::CreateField(const QString& name, int type, int size)
{
    auto field = std::make_shared<FieldDef>();
    field->Name = name;
    field->Type = type;
    field->Size = type == dao::dbText ? (size > 0 ? size : 255) : size;
    return field;
}

void TableDef::appendField(const std::shared_ptr<FieldDef>& field)
{
    if (!field || field->Name.isEmpty())
        throw Errors::fieldWithoutName();
    d->loadFields();
    for (const auto& existing : d->fields)
        if (nameKey(existing->Name) == nameKey(field->Name))
            throw Errors::fieldExists(field->Name, d->name);
    if (d->attached()) {
        DbCore& db = d->openCore();
        if (d->isLink())
            throw Errors::linkFieldAppend(d->name);
        Connection& c = db.connection();
        Transaction transaction(c);
        c.exec(
            QStringLiteral("ALTER TABLE %1 ADD COLUMN %2")
                .arg(quoteName(d->name), fieldColumnSql(field->Name, field->Type, field->Size, true, db.collation())));
        transaction.commit();
    }
    d->fields.push_back(field);
}

std::shared_ptr<FieldDef> TableDef::field(const QString& name) const
{
    d->loadFields();
    for (const auto& field : d->fields)
        if (nameKey(field->Name) == nameKey(name))
            return field;
    throw Errors::itemNotFound();
}

std::vector<std::shared_ptr<FieldDef>> TableDef::fields() const
{
    d->loadFields();
    return d->fields;
}

void TableDef::refreshFields()
{
    if (!d->attached())
        return;
    d->openCore();
    d->fieldsLoaded = false;
    d->loadFields();
}

std::shared_ptr<IndexDef> TableDef::CreateIndex(const QString& name)
{
    auto index = std::make_shared<IndexDef>();
    index->Name = name;
    return index;
}

namespace {

QString indexSql(const QString& table, const IndexDef& index)
{
    QStringList columns;
    for (const QString& field : index.Fields)
        columns << quoteName(field);
    return QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
        .arg(index.Unique || index.Primary ? QStringLiteral("UNIQUE ") : QString(),
             quoteName(table + QLatin1Char(':') + index.Name), quoteName(table), columns.join(QStringLiteral(", ")));
}

} // namespace

void TableDef::appendIndex(const std::shared_ptr<IndexDef>& index)
{
    if (!index || index->Name.isEmpty())
        throw Errors::indexWithoutName();
    if (index->Fields.isEmpty())
        throw Errors::indexWithoutFields(index->Name);
    d->loadIndexes();
    for (const auto& existing : d->indexes)
        if (nameKey(existing->Name) == nameKey(index->Name))
            throw Errors::indexExists(index->Name, d->name);
    if (d->attached()) {
        DbCore& db = d->openCore();
        if (d->isLink())
            throw Errors::linkIndexAppend(d->name);
        Transaction transaction(db.connection());
        db.connection().exec(indexSql(d->name, *index));
        transaction.commit();
    }
    d->indexes.push_back(index);
}

std::vector<std::shared_ptr<IndexDef>> TableDef::indexes() const
{
    d->loadIndexes();
    return d->indexes;
}

bool TableDef::isAttached() const
{
    return d->attached();
}

// ---------------------------------------------------------------- Recordset

class RecordsetImpl {
public:
    std::shared_ptr<DbCore> core;
    QString sql;
    QVariantList params;
    QString table;
    QStringList columns;
    QStringList declTypes;
    // Every row's values one after the other, columns.size() per row: not a list per row, and
    // (a deque) never moved as rows are added.
    std::deque<QVariant> cells;
    int rowCount = 0;
    int position = 0;
    bool adding = false;
    std::vector<std::pair<QString, QVariant>> buffer;

    DbCore& openCore() const
    {
        if (!core || !core->isOpen())
            throw Errors::objectInvalid();
        return *core;
    }
    bool noRecord() const { return position < 0 || position >= rowCount; }
    int column(const QString& name) const
    {
        const QString wanted = nameKey(name.section(QLatin1Char('.'), -1));
        for (int i = 0; i < columns.size(); ++i)
            if (nameKey(columns.at(i)) == wanted)
                return i;
        throw Errors::itemNotFound();
    }
    void load()
    {
        DbCore& db = openCore();
        const RewrittenSql rewritten = rewriteSql(sql, db.collation());
        db.prepareLinks(rewritten.names);
        Statement statement(db.connection(), rewritten.sql);
        statement.bindAll(params);
        columns.clear();
        declTypes.clear();
        for (int i = 0; i < statement.columnCount(); ++i) {
            columns << statement.columnName(i);
            declTypes << statement.columnDeclType(i);
        }
        cells.clear();
        for (rowCount = 0; statement.step(); ++rowCount)
            for (int i = 0; i < columns.size(); ++i)
                cells.push_back(statement.column(i));
        table = rewritten.fromTable;
        position = 0;
    }
};

Recordset::Recordset(std::unique_ptr<RecordsetImpl> impl) : d(std::move(impl)) {}
Recordset::~Recordset() = default;

bool Recordset::BOF() const
{
    d->openCore();
    return d->rowCount == 0 || d->position < 0;
}

bool Recordset::EOF() const
{
    d->openCore();
    return d->position >= d->rowCount;
}

void Recordset::AddNew()
{
    d->openCore();
    d->adding = true;
    d->buffer.clear();
}

void Recordset::setValue(const QString& field, const QVariant& value)
{
    d->openCore();
    const int column = d->column(field);
    if (!d->adding)
        throw Errors::updateWithoutAddNew();
    QVariant stored = value;
    if (isYesNoDeclType(d->declTypes.at(column)) && value.isValid() && !value.isNull())
        stored = QVariant(value.toBool());
    for (auto& [name, held] : d->buffer) {
        if (name == d->columns.at(column)) {
            held = stored;
            return;
        }
    }
    d->buffer.emplace_back(d->columns.at(column), stored);
}

QVariant Recordset::value(const QString& field) const
{
    d->openCore();
    const int column = d->column(field);
    if (d->adding) {
        for (const auto& [name, held] : d->buffer)
            if (name == d->columns.at(column))
                return held;
        return QVariant();
    }
    if (d->noRecord())
        throw Errors::noCurrentRecord();
    return d->cells[size_t(d->position) * size_t(d->columns.size()) + size_t(column)];
}

void Recordset::Update()
{
    DbCore& db = d->openCore();
    if (!d->adding)
        throw Errors::updateWithoutAddNew();
    if (d->table.isEmpty())
        throw Errors::recordNotUpdatable();
    // A row added to a link goes into its source table in the data file.
    QString table = quoteName(d->table);
    if (const auto entry = db.findEntry(d->table); entry && entry->isLink()) {
        db.prepareLinks({entry->name});
        table = db.writableLinkTarget(entry->name);
    }
    QStringList names;
    QStringList marks;
    QVariantList values;
    for (const auto& [name, value] : d->buffer) {
        names << quoteName(name);
        marks << QStringLiteral("?");
        values << value;
    }
    const QString sql = names.isEmpty()
                            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                  .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    Statement insert(db.connection(), sql);
    insert.bindAll(values);
    db.connection().runWrite(insert);
    d->adding = false;
    d->buffer.clear();
}

void Recordset::Requery()
{
    d->adding = false;
    d->buffer.clear();
    d->load();
}

void Recordset::MoveFirst()
{
    d->openCore();
    if (d->rowCount == 0)
        throw Errors::noCurrentRecord();
    d->adding = false;
    d->position = 0;
}

void Recordset::MoveLast()
{
    d->openCore();
    if (d->rowCount == 0)
        throw Errors::noCurrentRecord();
    d->adding = false;
    d->position = d->rowCount - 1;
}

void Recordset::MoveNext()
{
    d->openCore();
    if (EOF())
        throw Errors::noCurrentRecord();
    d->adding = false;
    ++d->position;
}

QStringList Recordset::fieldNames() const
{
    d->openCore();
    return d->columns;
}

void Recordset::Close()
{
    // Closing twice, or after the database was closed, is harmless.
    d->core.reset();
    d->adding = false;
    d->buffer.clear();
    d->cells.clear();
    d->rowCount = 0;
}

// ---------------------------------------------------------------- Database

class DatabaseImpl {
public:
    explicit DatabaseImpl(std::shared_ptr<DbCore> database) : core(std::move(database)), tableDefs(this) {}
    std::shared_ptr<DbCore> core;
    TableDefCollection tableDefs;
    bool serverCatalog = false; // the table definitions of an ODBC data source, without rows

    DbCore& openCore() const
    {
        if (!core->isOpen())
            throw Errors::objectInvalid();
        return *core;
    }
    std::shared_ptr<TableDef> makeTableDef(const TableEntry& entry)
    {
        auto impl = std::make_unique<TableDefImpl>();
        impl->core = core;
        impl->name = entry.name;
        impl->attributes = entry.attributes;
        impl->connect = entry.connect;
        impl->source = entry.source;
        return std::shared_ptr<TableDef>(new TableDef(std::move(impl)));
    }
    void append(TableDefImpl& def, bool refresh = true);
    void appendLink(TableDefImpl& def, bool refresh);
    void appendLocal(TableDefImpl& def);
};

void DatabaseImpl::append(TableDefImpl& def, bool refresh)
{
    DbCore& db = openCore();
    if (def.attached())
        throw Errors::tableExists(def.name);
    checkName(def.name);
    if (db.findEntry(def.name))
        throw Errors::tableExists(def.name);
    if (def.connect.isEmpty())
        appendLocal(def);
    else
        appendLink(def, refresh);
    db.invalidateEntries();
    def.core = core;
}

void DatabaseImpl::appendLink(TableDefImpl& def, bool refresh)
{
    DbCore& db = openCore();
    std::vector<std::shared_ptr<FieldDef>> fields;
    TableEntry link{def.name, def.attributes & dao::dbHiddenObject, def.connect,
                    def.source.isEmpty() ? def.name : def.source};
    switch (linkKindOf(def.connect)) {
    case LinkKind::File: {
        QString table = link.source;
        if (refresh)
            fields = db.sourceFields(linkedPath(def.connect), &table);
        link.attributes |= dao::dbAttachedTable;
        break;
    }
    case LinkKind::Odbc:
        // Only the stored form is kept; the password serves this process's connections.
        if (refresh)
            fields = odbcSourceFields(def.connect, &link.source);
        link.connect = withoutPassword(def.connect);
        def.connect = link.connect;
        link.attributes |= dao::dbAttachedODBC;
        break;
    }
    db.ensureCatalog();
    Connection& c = db.connection();
    Transaction transaction(c);
    Catalog(c).putLink(link, fields);
    transaction.commit();
    def.attributes = link.attributes;
    def.source = link.source;
    def.fields = fields;
    def.fieldsLoaded = true;
    def.indexes.clear();
    def.indexesLoaded = true;
}

void DatabaseImpl::appendLocal(TableDefImpl& def)
{
    DbCore& db = openCore();
    if (def.fields.empty())
        throw Errors::tableWithoutFields(def.name);
    const qint32 hidden = def.attributes & dao::dbHiddenObject;
    if (hidden)
        db.ensureCatalog();
    QStringList columns;
    for (const auto& field : def.fields)
        columns << fieldColumnSql(field->Name, field->Type, field->Size, field->AllowZeroLength, db.collation());
    // SQLite takes a primary key only in the table's own definition.
    const IndexDef* primary = nullptr;
    for (const auto& index : def.indexes) {
        if (!index->Primary || primary)
            continue;
        primary = index.get();
        QStringList keyFields;
        for (const QString& field : index->Fields)
            keyFields << quoteName(field);
        columns << QStringLiteral("CONSTRAINT %1 PRIMARY KEY (%2)")
                       .arg(quoteName(index->Name), keyFields.join(QStringLiteral(", ")));
    }
    Connection& c = db.connection();
    Transaction transaction(c);
    c.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteName(def.name), columns.join(QStringLiteral(", "))));
    for (const auto& index : def.indexes)
        if (index.get() != primary)
            c.exec(indexSql(def.name, *index));
    if (db.hasCatalog())
        Catalog(c).putLocal(def.name, hidden);
    transaction.commit();
    def.attributes = hidden;
    def.connect.clear();
    def.fieldsLoaded = false;
    def.indexesLoaded = false;
}

Database::Database(std::unique_ptr<DatabaseImpl> impl) : d(std::move(impl)) {}

Database::~Database()
{
    ignoringFailures([&] { Close(); });
}

QString Database::Name() const
{
    return d->openCore().name();
}

TableDefCollection& Database::TableDefs()
{
    d->openCore();
    return d->tableDefs;
}

std::shared_ptr<TableDef> Database::CreateTableDef(const QString& name)
{
    d->openCore();
    auto impl = std::make_unique<TableDefImpl>();
    impl->name = name;
    return std::shared_ptr<TableDef>(new TableDef(std::move(impl)));
}

void Database::Execute(const QString& sql, const QVariantList& params)
{
    DbCore& db = d->openCore();
    if (d->serverCatalog)
        throw Errors::serverNotQueryable(db.name());
    const QString dropped = droppedTable(sql);
    if (!dropped.isEmpty() && db.hasCatalog()) {
        // Dropping a link removes its definition; dropping a local table also forgets its attributes.
        const auto entry = db.findEntry(dropped);
        if (entry && (entry->attributes & dao::dbSystemObject) == dao::dbSystemObject)
            throw Errors::systemTableDelete(entry->name);
        Connection& c = db.connection();
        if (entry && entry->isLink())
            db.dropLinkView(entry->name);
        Transaction transaction(c);
        if (!entry || !entry->isLink()) {
            Statement drop(c, rewriteSql(sql, db.collation()).sql);
            drop.bindAll(params);
            drop.run();
        }
        Catalog(c).forget(dropped);
        transaction.commit();
        db.invalidateEntries();
        return;
    }
    // A linked table's definition is its link alone: the original engine refuses to change it.
    if (const QString redefined = redefinedTable(sql); !redefined.isEmpty() && db.hasCatalog()) {
        const auto entry = db.findEntry(redefined);
        if (entry && entry->isLink())
            throw Errors::linkNotChangeable(entry->name);
    }
    // Names are the same without regard to case for every letter; SQLite
    // folds only ASCII ones, so "účty" beside "Účty" is refused here.
    bool ifNotExists = false;
    if (const QString created = createdTable(sql, &ifNotExists); !created.isEmpty() && !isAscii(created)) {
        const QString existing = Catalog(db.connection()).findTable(created, true);
        if (!existing.isEmpty() && existing != created) {
            if (ifNotExists)
                return;
            throw Errors::tableExists(created);
        }
    }
    const RewrittenSql rewritten = rewriteSql(sql, db.collation());
    db.prepareLinks(rewritten.names);
    QString text = rewritten.sql;
    // A change of a link changes its source table in the data file, under the link's name.
    QString target;
    if (!rewritten.target.isEmpty())
        target = db.writableLinkTarget(rewritten.target);
    if (!target.isEmpty())
        text = text.left(rewritten.targetStart) + target + QStringLiteral(" AS ") + quoteName(rewritten.target) +
               text.mid(rewritten.targetStart + rewritten.targetLength);
    Statement statement(db.connection(), text);
    statement.bindAll(params);
    if (sqlite3_stmt_readonly(statement.handle())) {
        statement.run();
        return;
    }
    try {
        db.connection().runWrite(statement);
    } catch (const RunTimeError& error) {
        if (error.number() == ErrorNumber::ReadOnly && !target.isEmpty())
            db.explainReadOnlyLink(rewritten.target);
        throw;
    }
    db.invalidateEntries();
}

std::unique_ptr<Recordset> Database::OpenRecordset(const QString& sql, const QVariantList& params, int)
{
    if (d->serverCatalog)
        throw Errors::serverNotQueryable(d->openCore().name());
    auto impl = std::make_unique<RecordsetImpl>();
    impl->core = d->core;
    impl->sql = sql;
    impl->params = params;
    impl->load();
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

void Database::Close()
{
    d->core->close();
}

bool Database::isOpen() const
{
    return d->core->isOpen();
}

void Database::BeginTrans()
{
    d->openCore().beginTrans();
}

void Database::CommitTrans()
{
    d->openCore().commitTrans();
}

void Database::Rollback()
{
    d->openCore().rollback();
}

int Database::transactionLevel() const
{
    return d->core->transactionLevel();
}

// ---------------------------------------------------------------- TableDefs

int TableDefCollection::Count() const
{
    return int(m_db->openCore().entries().size());
}

std::shared_ptr<TableDef> TableDefCollection::Item(int index) const
{
    const auto& entries = m_db->openCore().entries();
    if (index < 0 || index >= int(entries.size()))
        throw Errors::itemNotFound();
    return m_db->makeTableDef(entries[size_t(index)]);
}

std::shared_ptr<TableDef> TableDefCollection::Item(const QString& name) const
{
    const auto entry = m_db->openCore().findEntry(name);
    if (!entry)
        throw Errors::itemNotFound();
    return m_db->makeTableDef(*entry);
}

void TableDefCollection::Append(const std::shared_ptr<TableDef>& def)
{
    if (!def)
        throw Errors::objectVariableNotSet();
    m_db->append(*def->d);
}

void TableDefCollection::AppendUnrefreshed(const std::shared_ptr<TableDef>& def)
{
    if (!def)
        throw Errors::objectVariableNotSet();
    m_db->append(*def->d, false);
}

void TableDefCollection::Refresh()
{
    m_db->openCore().invalidateEntries();
}

// ---------------------------------------------------------------- DBEngine

DBEngine::DBEngine()
{
    // SQLite's memory statistics take a global lock around every allocation; the engine reads none.
    // Refused without harm when SQLite was already started.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}
DBEngine::~DBEngine() = default;

std::unique_ptr<Database> DBEngine::OpenDatabase(const QString& path)
{
    if (isOdbcConnect(path)) {
        auto impl = std::make_unique<DatabaseImpl>(openServerCatalog(path));
        impl->serverCatalog = true;
        return std::unique_ptr<Database>(new Database(std::move(impl)));
    }
    auto connection = std::make_unique<Connection>(path, Connection::Mode::ReadWrite);
    auto core = std::make_shared<DbCore>(path, std::move(connection));
    return std::unique_ptr<Database>(new Database(std::make_unique<DatabaseImpl>(core)));
}

std::unique_ptr<Database> DBEngine::CreateDatabase(const QString& path, const QString& locale, int options)
{
    if (path.isEmpty())
        throw Errors::emptyFileName();
    const QFileInfo info(absolutePathOf(path));
    if (info.exists() || info.isSymLink())
        throw Errors::databaseExists(path);
    if (!info.dir().exists())
        throw Errors::folderMissing(info.dir().path());
    std::shared_ptr<DbCore> core;
    try {
        auto connection = std::make_unique<Connection>(path, Connection::Mode::Create);
        core = std::make_shared<DbCore>(path, std::move(connection));
        core->ensureCatalog(locale.isEmpty() ? dao::dbLangGeneral : locale, options);
    } catch (...) {
        // A half-made file is no database: remove what this call created.
        if (core)
            core->close();
        QFile::remove(info.absoluteFilePath());
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QFile::remove(info.absoluteFilePath() + QString::fromLatin1(suffix));
        throw;
    }
    return std::unique_ptr<Database>(new Database(std::make_unique<DatabaseImpl>(core)));
}

DBEngine& DbEngine()
{
    static DBEngine engine;
    return engine;
}
