// The engine's side of ODBC links: server tables listed and read as table definitions.

#include "OdbcLinks.h"

#include "DatabaseCore.h"
#include "OdbcConnection.h"
#include "SqlDialect.h"

std::shared_ptr<DbCore> openServerCatalog(const QString& connect)
{
    const auto server = OdbcConnection::shared(connect);
    auto memory = std::make_unique<Connection>(server->storedConnect(), Connection::Mode::Memory);
    for (const QString& table : server->userTables()) {
        QStringList columns;
        for (const auto& field : server->fields(OdbcTableName{QString(), table}))
            columns << fieldColumnSql(field->Name, field->Type, field->Size, field->AllowZeroLength, generalCollation);
        if (columns.isEmpty())
            continue;
        memory->exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteName(table), columns.join(QStringLiteral(", "))));
    }
    return std::make_shared<DbCore>(server->storedConnect(), std::move(memory));
}

std::vector<std::shared_ptr<FieldDef>> odbcSourceFields(const QString& connect, QString* source)
{
    const auto server = OdbcConnection::shared(connect);
    const OdbcTableName table = server->findTable(*source);
    *source = table.schema.isEmpty() ? table.table : table.schema + QLatin1Char('.') + table.table;
    return server->fields(table);
}

bool odbcServerAnswers(const QString& connect)
{
    try {
        // A fresh connection: one kept from earlier says nothing about the server now.
        OdbcConnection connection(connect);
        return true;
    } catch (const RunTimeError&) {
        return false;
    }
}
