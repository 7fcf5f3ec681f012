#pragma once

// What an Access-format file (.mdb of the 97 and 2000-2003 engines, .accdb)
// holds, as the import needs it: local tables with their columns, keys and
// rows, linked tables, and the count of the objects that are not imported.
// The file is read through mdbtools' libmdb, only ever for reading, and in a
// child process: a file that makes the library crash gives an error, not a
// crash of the caller.

#include "RunTimeError.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

namespace accessdb {

struct Column {
    QString name;
    int type = -1;      // the engine's field type; -1 when the engine cannot hold the column
    int size = 0;       // characters, for text
    QString sourceType; // the original type, for notes ("OLE objekt", "měna", ...)
};

struct Index {
    QString name;
    bool primary = false;
    QStringList columns;
};

struct Table {
    QString name;
    bool hidden = false;
    std::vector<Column> columns;
    std::vector<Index> indexes; // the primary key and the unique indexes
};

struct Link {
    QString name;
    bool odbc = false;
    bool hidden = false;
    QString database;    // the stored path of the linked file (file links)
    QString foreignName; // the source table
    QString connect;     // the stored connect options, passwords included; ODBC: the whole string
};

// Saved queries, forms, reports, macros and modules: not imported.
struct Objects {
    int queries = 0;
    int forms = 0;
    int reports = 0;
    int macros = 0;
    int modules = 0;
};

struct FileInfo {
    QString format;     // "Access 97", "Access 2000-2003", "Access 2007", "Access 2010", ...
    bool czech = false; // the file's sort order is Czech
    int tables = 0;     // the user tables to come
    qint64 rows = 0;    // their rows as their definitions count them (for progress only)
};

// Receives what the reader finds, in the file's order: info, then each table
// followed by its rows and its end, then the links, then the objects. A sink
// overrides what it needs; the rest is dropped.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void info(const FileInfo&) {}
    virtual void table(const Table&) {}
    // One value per column, null for the columns the engine cannot hold.
    virtual void row(const QVariantList&) {}
    // lossy: the columns some of whose values a double could not hold exactly.
    virtual void tableEnd(const QStringList&) {}
    virtual void link(const Link&) {}
    virtual void objects(const Objects&) {}
};

// Reads the file at path into sink; rows only when withRows. Raises a
// numbered Czech error naming the file when it cannot be read: missing, not
// an Access-format file, of a newer format, damaged, truncated or encrypted,
// or when the reading process crashed on it. The file is opened read-only.
void read(const QString& path, Sink& sink, bool withRows);

// Runs reader in a child process and hands what it sends on to sink. A reader
// that raises gives its error; one that crashes or is stopped gives error 3049
// naming path.
void readInChild(const QString& path, Sink& sink, const std::function<void(Sink&)>& reader);

// True when the file at path starts like an Access-format file.
bool looksLikeAccessFile(const QString& path);

} // namespace accessdb
