#pragma once

// `zuldb import SOURCE TARGET`: a new database file of the engine made from an
// Access-format file. Local tables come with their fields, rows, primary key
// and unique indexes; linked tables become links of the engine with the
// stored path as it stands (";DATABASE=" + the Windows path) and no password;
// ODBC links keep their connect string. Saved queries, forms, reports, macros
// and modules are counted, not imported.
//
// TARGET is written under a temporary name in its own folder and renamed at
// the end: a failure leaves no TARGET behind, an existing TARGET is refused,
// SOURCE is only read.

#include "AccessFile.h"
#include "CopyProgress.h"

#include <functional>

namespace accessdb {

struct ImportResult {
    int tables = 0;
    int links = 0;
    qint64 rows = 0;
    int notes = 0; // columns, values, rows or tables that did not come over whole
    // 0 when everything came over, 2 when something came with notes.
    int exitCode() const { return notes > 0 ? 2 : 0; }
};

// Makes target from source; every line of the report goes to print as it is
// made (tables, links, notes, summary), and onProgress is told how far the
// rows have come now and then and after each table. Raises a numbered Czech
// error naming the file when nothing could be imported.
ImportResult importFile(const QString& source, const QString& target, const std::function<void(const QString&)>& print,
                        const CopyProgressCallback& onProgress = {});

// Each table and link of an Access-format file as the table definition list
// shows it: attributes as the engine gives them, connect string as the import
// makes it.
struct ListedTable {
    QString name;
    qint32 attributes = 0;
    QString connect;
    QString sourceTable;
};
std::vector<ListedTable> listTables(const QString& source);

// "1 234 řádků": a count with the Czech plural of its noun.
QString counted(qint64 count, const char* one, const char* few, const char* many);

} // namespace accessdb
