#pragma once

// The database engine: the operations the program relies on, shaped like the
// original engine's Data Access Objects, over SQLite 3. Every database file,
// whatever its extension, is an SQLite 3 file. Failures throw RunTimeError
// with the original engine's well-known numbers and a Czech description.
//
// Durability: outside a transaction every call that changes a file has made
// the change durable (on the disk, journal removed) when it returns. Between
// Database::BeginTrans and the matching outermost CommitTrans nothing is
// durable and other processes see the file as it was; CommitTrans returns once
// all of it is on the disk. A process killed before that leaves the file as
// it was before BeginTrans.
//
// Files are kept in SQLite's rollback journal: they can be read in folders the
// user cannot write, on read-only media and on network file systems. A file a
// write-ahead log was left on by an earlier version is read as it is and
// switched to the journal at its first write.

#include "RunTimeError.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdio>
#include <memory>
#include <vector>

// Recordset::EOF shares its name with the C library's end-of-file macro.
#undef EOF

namespace dao {
// Table attributes.
constexpr qint32 dbSystemObject = qint32(0x80000002u);
constexpr qint32 dbHiddenObject = 0x00000001;
constexpr qint32 dbAttachedTable = 0x40000000;
constexpr qint32 dbAttachedODBC = 0x20000000;
// System objects, linked tables and ODBC links: the tables a relink skips.
constexpr qint32 dbSkipMask = qint32(0xE0000002u);

// Field types.
constexpr int dbBoolean = 1;
constexpr int dbLong = 4;
constexpr int dbDouble = 7;
constexpr int dbDate = 8;
constexpr int dbText = 10;
constexpr int dbMemo = 12;

constexpr int dbOpenDynaset = 2;
constexpr int dbVersion120 = 128; // the "Access 2007" format option of CreateDatabase

// Locale texts of CreateDatabase. Czech: case-insensitive, accent-sensitive,
// "ch" after "h". Any other locale uses the general order.
inline const QString dbLangCzech = QStringLiteral(";LANGID=0x0405;CP=1250;COUNTRY=0");
inline const QString dbLangGeneral = QStringLiteral(";LANGID=0x0409;CP=1252;COUNTRY=0");

// The connect string prefix of a link to another database file.
inline const QString dbConnectPrefix = QStringLiteral(";DATABASE=");
} // namespace dao

class DatabaseImpl;
class TableDefImpl;
class RecordsetImpl;

// A field of a table definition. Before the table is appended its settings
// are plain values; AllowZeroLength may be set until the table is appended.
struct FieldDef {
    QString Name;
    int Type = dao::dbText;
    int Size = 0; // characters, for text
    bool AllowZeroLength = false;
};

struct IndexDef {
    QString Name;
    bool Unique = false;
    bool Primary = false;
    QStringList Fields; // Index.Fields.Append
};

// A table definition: either attached to a database (one of its TableDefs) or
// new and unattached (from CreateTableDef) until TableDefs.Append.
//
// On an attached definition:
//  - Connect: on a link, the new connect string is held and takes effect,
//    together with the re-read fields, at RefreshLink in one durable step;
//    on a local table it raises.
//  - RefreshLink: opens the linked file, finds SourceTableName there and
//    records its fields; raises on a local table, a missing file, a file that
//    is not a database, or a missing source table. An ODBC link connects to
//    its server instead (3151 when it does not answer, 3011 when the table is
//    missing) and keeps the server's spelling of the table's name.
//  - An ODBC connect string is held and stored without its password (PWD=),
//    which serves this process's connections only.
//  - Name, Attributes (the hidden flag) are written at once.
//  - SourceTableName cannot be changed.
class TableDef {
public:
    ~TableDef();

    QString Name() const;
    void setName(const QString& name);
    qint32 Attributes() const;
    void setAttributes(qint32 attributes);
    QString Connect() const;
    void setConnect(const QString& connect);
    QString SourceTableName() const;
    void setSourceTableName(const QString& source);
    void RefreshLink();

    std::shared_ptr<FieldDef> CreateField(const QString& name, int type, int size = 0);
    void appendField(const std::shared_ptr<FieldDef>& field);   // Fields.Append
    std::shared_ptr<FieldDef> field(const QString& name) const; // Fields(name); raises 3265
    std::vector<std::shared_ptr<FieldDef>> fields() const;
    void refreshFields(); // Fields.Refresh

    std::shared_ptr<IndexDef> CreateIndex(const QString& name);
    void appendIndex(const std::shared_ptr<IndexDef>& index); // Indexes.Append
    std::vector<std::shared_ptr<IndexDef>> indexes() const;

    bool isAttached() const;

private:
    friend class Database;
    friend class DatabaseImpl;
    friend class TableDefCollection;
    explicit TableDef(std::unique_ptr<TableDefImpl> impl);
    std::unique_ptr<TableDefImpl> d;
};

// Database.TableDefs. Enumeration order: the engine's, by name (case-
// insensitive), system tables included. Count and Item(index) go over the
// definitions as read at their first use; changes made by other programs
// show after Refresh, changes made through this Database at once (positions
// may then move). Item(name) finds the definition as the file holds it now.
class TableDefCollection {
public:
    int Count() const;
    std::shared_ptr<TableDef> Item(int index) const;           // raises 3265 out of range
    std::shared_ptr<TableDef> Item(const QString& name) const; // raises 3265 when missing
    // A definition with fields becomes a local table; one with a Connect
    // string becomes a link (the linked file or server table is opened and
    // checked first).
    void Append(const std::shared_ptr<TableDef>& def);
    // Stores a link as it stands without opening the linked file, for links
    // brought from another system whose file is not there; no fields are
    // recorded until RefreshLink. A definition without Connect is appended.
    void AppendUnrefreshed(const std::shared_ptr<TableDef>& def);
    void Refresh();

private:
    friend class DatabaseImpl;
    explicit TableDefCollection(DatabaseImpl* db) : m_db(db) {}
    DatabaseImpl* m_db;
};

// An updatable record set over a query, in the query's order.
class Recordset {
public:
    ~Recordset();
    bool BOF() const;
    bool EOF() const;
    void AddNew();
    void setValue(const QString& field, const QVariant& value); // field assignment by name
    QVariant value(const QString& field) const;                 // Fields(name).Value
    void Update();
    void Requery();
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void Close();
    // The names of the record set's fields, in the query's order.
    QStringList fieldNames() const;

private:
    friend class Database;
    friend class DatabaseImpl;
    explicit Recordset(std::unique_ptr<RecordsetImpl> impl);
    std::unique_ptr<RecordsetImpl> d;
};

class Database {
public:
    ~Database();          // closes, ignoring failures
    QString Name() const; // the path it was opened with
    TableDefCollection& TableDefs();
    std::shared_ptr<TableDef> CreateTableDef(const QString& name = QString());
    // Runs one statement. The engine's own dialect is accepted ("delete * from",
    // "text(50)", "yesno"); "?" placeholders take params in order.
    void Execute(const QString& sql, const QVariantList& params = {});
    std::unique_ptr<Recordset> OpenRecordset(const QString& sql, const QVariantList& params = {},
                                             int type = dao::dbOpenDynaset);
    void Close();
    bool isOpen() const;

    // Transactions, as the original engine's workspace has them.
    //  - BeginTrans: the outermost one takes the file's write lock, waiting up
    //    to the engine's lock wait (error 3045), and refuses a file that cannot
    //    be written (3051); others may still read. An inner one marks a point
    //    that Rollback returns to.
    //  - CommitTrans: an inner one keeps its changes in the outer transaction;
    //    the outermost makes them durable and releases the lock. When that
    //    fails the whole transaction is rolled back and the error raised.
    //  - Rollback: undoes the changes since the matching BeginTrans.
    //  CommitTrans and Rollback without a transaction raise 3034. A write that
    //  SQLite had to answer by cancelling the whole transaction makes every
    //  later call of the transaction raise, CommitTrans included. Closing the
    //  database rolls an open transaction back.
    void BeginTrans();
    void CommitTrans();
    void Rollback();
    int transactionLevel() const; // open BeginTrans levels; 0 outside a transaction

private:
    friend class DBEngine;
    explicit Database(std::unique_ptr<DatabaseImpl> impl);
    std::unique_ptr<DatabaseImpl> d;
};

class DBEngine {
public:
    DBEngine();
    ~DBEngine();
    // Shared; read-write where the file can be written, otherwise for reading
    // only (a write then raises 3051 naming the file). A file without any write
    // permission bit is opened for reading only, also for the superuser. A
    // relative path is resolved against the current folder.
    // An ODBC connect string ("ODBC;DSN=..." or "ODBC;DRIVER={...};...") opens
    // the data source: its TableDefs are the user tables of the server's
    // default schema as local tables with their fields, for linking; queries
    // on it raise (rows are read through links). Raises 3151 when the server
    // does not answer.
    std::unique_ptr<Database> OpenDatabase(const QString& path);
    // Refuses an existing file.
    std::unique_ptr<Database> CreateDatabase(const QString& path, const QString& locale, int options = 0);
};

// The engine object of the process, created by the first operation that
// needs it and kept until the process ends.
DBEngine& DbEngine();
