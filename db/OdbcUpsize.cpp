// zuldb upsize: a data file's tables, keys and rows to a server.

#include "OdbcUpsize.h"

#include "Connection.h"
#include "DBEngine.h"
#include "Errors.h"
#include "OdbcConnection.h"
#include "SqlDialect.h"


namespace {

// The server's column type of a field.
QString serverType(const FieldDef& field)
{
    switch (field.Type) {
    case dao::dbText:
        return QStringLiteral("varchar(%1)").arg(field.Size > 0 ? field.Size : 255);
    case dao::dbBoolean:
        return QStringLiteral("boolean");
    case dao::dbLong:
        return QStringLiteral("integer");
    case dao::dbDouble:
        return QStringLiteral("double precision");
    case dao::dbDate:
        return QStringLiteral("timestamp");
    default:
        return QStringLiteral("text");
    }
}

// A value of the data file as the field's type binds it for the server.
QVariant serverValue(const QVariant& value, int type)
{
    if (value.isNull() || !value.isValid())
        return QVariant();
    switch (type) {
    case dao::dbBoolean:
        return QVariant(value.toLongLong() != 0);
    case dao::dbLong:
        return QVariant(value.toLongLong());
    case dao::dbDouble:
        return QVariant(value.toDouble());
    case dao::dbDate: {
        const QString text = value.toString();
        const QDateTime time = wallClockTime(text);
        return time.isValid() ? QVariant(time) : QVariant(text);
    }
    default:
        return QVariant(value.toString());
    }
}

struct TablePlan {
    QString name;
    std::vector<std::shared_ptr<FieldDef>> fields;
    std::vector<std::shared_ptr<IndexDef>> indexes;
    qint64 rows = 0;
};

} // namespace

std::vector<UpsizeTable> upsize(const QString& dataPath, const QString& connect,
                                const std::function<void(const UpsizeTable&)>& onTable,
                                const CopyProgressCallback& onProgress)
{
    auto data = DbEngine().OpenDatabase(dataPath);
    Connection reader(dataPath, Connection::Mode::ReadOnly);
    std::vector<TablePlan> plans;
    CopyProgress progress;
    auto& defs = data->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
        const auto def = defs.Item(i);
        if (def->Attributes() & dao::dbSkipMask)
            continue;
        TablePlan plan{def->Name(), def->fields(), def->indexes(), 0};
        Statement count(reader, QStringLiteral("SELECT count(*) FROM %1").arg(quoteName(plan.name)));
        if (count.step())
            plan.rows = count.int64(0);
        progress.rowCount += plan.rows;
        plans.push_back(std::move(plan));
    }
    progress.tableCount = int(plans.size());

    OdbcConnection server(connect);
    // Every name is checked before anything is written: nothing on the server is overwritten.
    for (const TablePlan& plan : plans) {
        bool exists = true;
        try {
            server.findTable(plan.name);
        } catch (const RunTimeError& error) {
            if (error.number() != ErrorNumber::ObjectNotFound)
                throw;
            exists = false;
        }
        if (exists)
            throw Errors::serverTableExists(plan.name);
    }

    std::vector<UpsizeTable> done;
    server.beginTransaction();
    try {
        for (const TablePlan& plan : plans) {
            const QString table = OdbcConnection::quoteName(plan.name);
            QStringList columns;
            QStringList names;
            for (const auto& field : plan.fields) {
                columns << OdbcConnection::quoteName(field->Name) + QLatin1Char(' ') + serverType(*field);
                names << OdbcConnection::quoteName(field->Name);
            }
            for (const auto& index : plan.indexes) {
                if (!index->Primary)
                    continue;
                QStringList keyFields;
                for (const QString& field : index->Fields)
                    keyFields << OdbcConnection::quoteName(field);
                columns << QStringLiteral("PRIMARY KEY (%1)").arg(keyFields.join(QStringLiteral(", ")));
                break;
            }
            server.exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns.join(QStringLiteral(", "))));
            int uniqueNumber = 0;
            for (const auto& index : plan.indexes) {
                if (index->Primary || !index->Unique)
                    continue;
                QStringList keyFields;
                for (const QString& field : index->Fields)
                    keyFields << OdbcConnection::quoteName(field);
                // Index names are the schema's on the server, not the table's: prefixed with the table's.
                server.exec(
                    QStringLiteral("CREATE UNIQUE INDEX %1 ON %2 (%3)")
                        .arg(OdbcConnection::quoteName(QStringLiteral("%1_%2").arg(
                                 plan.name, index->Name.isEmpty() ? QString::number(++uniqueNumber) : index->Name)),
                             table, keyFields.join(QStringLiteral(", "))));
            }

            // Rows in batches of one statement each: a round trip per batch, not per row.
            const int width = std::max<int>(1, int(plan.fields.size()));
            const int batch = std::max(1, std::min(500, 30000 / width));
            const QString oneRow =
                QLatin1Char('(') + QStringList(width, QStringLiteral("?")).join(QLatin1Char(',')) + QLatin1Char(')');
            const QString head =
                QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, names.join(QStringLiteral(", ")));
            auto statementFor = [&](int rows) {
                return std::make_unique<OdbcStatement>(server, head + QStringList(rows, oneRow).join(QLatin1Char(',')));
            };
            std::unique_ptr<OdbcStatement> full;
            Statement rows(reader, QStringLiteral("SELECT * FROM %1").arg(quoteName(plan.name)));
            QVariantList values;
            values.reserve(batch * width);
            int pending = 0;
            qint64 copied = 0;
            auto flush = [&] {
                if (pending == 0)
                    return;
                if (pending == batch) {
                    if (!full)
                        full = statementFor(batch);
                    full->execute(values);
                } else {
                    statementFor(pending)->execute(values);
                }
                copied += pending;
                progress.rowsDone += pending;
                pending = 0;
                values.clear();
                if (onProgress)
                    onProgress(progress);
            };
            while (rows.step()) {
                for (int column = 0; column < int(plan.fields.size()); ++column)
                    values << serverValue(rows.column(column), plan.fields[size_t(column)]->Type);
                if (++pending == batch)
                    flush();
            }
            flush();
            ++progress.tablesDone;
            done.push_back({plan.name, copied});
            if (onProgress)
                onProgress(progress);
        }
        server.commit();
    } catch (...) {
        if (server.inTransaction())
            server.rollback();
        throw;
    }
    for (const UpsizeTable& table : done)
        if (onTable)
            onTable(table);
    return done;
}
