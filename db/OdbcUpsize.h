#pragma once

// Moving a data file's user tables to a database server through ODBC: each
// table created with its fields' types mapped (text with its size, memo, long,
// double, date, yes/no), its primary key and unique indexes, and all its rows,
// in one server transaction. A table of the same name already on the server
// refuses the whole move before anything is written.

#include "CopyProgress.h"

#include <QString>

#include <functional>
#include <vector>

struct UpsizeTable {
    QString name;
    qint64 rows = 0;
};

// Moves the tables; onTable is told of each table once its rows are on the
// server, onProgress now and then while rows go. Raises the engine's errors
// (the data file) and the server's (3151, 3146, 3010 for an existing table);
// then the server has none of the tables.
std::vector<UpsizeTable> upsize(const QString& dataPath, const QString& connect,
                                const std::function<void(const UpsizeTable&)>& onTable,
                                const CopyProgressCallback& onProgress);
