// Opening arbitrary bytes as a database file: the engine either refuses the
// file with a numbered error and a description, or yields table definitions
// that can all be read, with their fields, indexes and rows.

#include "DBEngine.h"
#include "FuzzSupport.h"

namespace {

void expectDescribed(const RunTimeError& error)
{
    FUZZ_CHECK(error.number() != 0 && !error.description().isEmpty(), error.description());
}

void readTable(Database& db, TableDef& def)
{
    (void)def.Connect();
    (void)def.SourceTableName();
    for (const auto& field : def.fields())
        FUZZ_CHECK(field != nullptr, def.Name());
    for (const auto& index : def.indexes())
        FUZZ_CHECK(index != nullptr, def.Name());
    // Links would open whatever file the bytes name; only local tables are read.
    if ((def.Attributes() & dao::dbSkipMask) != 0)
        return;
    std::unique_ptr<Recordset> records = db.OpenRecordset(QStringLiteral("select * from [%1]").arg(def.Name()));
    const auto fields = def.fields();
    for (int row = 0; row < 16 && !records->EOF(); ++row) {
        for (const auto& field : fields)
            (void)records->value(field->Name);
        records->MoveNext();
    }
    records->Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::scratchPath(QStringLiteral("input.accdb"));
    fuzz::writeBytes(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    std::unique_ptr<Database> db;
    try {
        db = DbEngine().OpenDatabase(path);
    } catch (const RunTimeError& error) {
        expectDescribed(error);
        return 0;
    }
    try {
        TableDefCollection& defs = db->TableDefs();
        const int count = defs.Count();
        FUZZ_CHECK(count >= 0, QString::number(count));
        for (int i = 0; i < count; ++i) {
            try {
                std::shared_ptr<TableDef> def = defs.Item(i);
                FUZZ_CHECK(def != nullptr, QString::number(i));
                readTable(*db, *def);
            } catch (const RunTimeError& error) {
                expectDescribed(error);
            }
        }
    } catch (const RunTimeError& error) {
        expectDescribed(error);
    }
    try {
        db->Close();
    } catch (const RunTimeError& error) {
        expectDescribed(error);
    }
    return 0;
}
