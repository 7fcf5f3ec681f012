// Importing arbitrary bytes as an Access-format file: the import either makes
// a target that the engine opens, or refuses with a numbered, described error
// and leaves no target. The library reads in a child process, so a file that
// crashes it must come back as such an error, never as a crash of the caller.

#include "AccessImport.h"
#include "DBEngine.h"
#include "FuzzSupport.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString source = fuzz::scratchPath(QStringLiteral("input.mdb"));
    const QString target = fuzz::scratchPath(QStringLiteral("target.accdb"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    fuzz::writeBytes(source, bytes);
    QFile::remove(target);
    try {
        accessdb::importFile(source, target, [](const QString&) {});
        std::unique_ptr<Database> db = DbEngine().OpenDatabase(target);
        FUZZ_CHECK(db->TableDefs().Count() > 0, target);
        db->Close();
    } catch (const RunTimeError& error) {
        FUZZ_CHECK(error.number() != 0 && error.description().contains(source), error.description());
        FUZZ_CHECK(!QFile::exists(target), error.description());
    }
    try {
        (void)accessdb::listTables(source);
    } catch (const RunTimeError& error) {
        FUZZ_CHECK(error.number() != 0 && !error.description().isEmpty(), error.description());
    }
    QFile file(source);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == bytes, QStringLiteral("the source was changed"));
    return 0;
}
