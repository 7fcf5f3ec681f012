#include "MdbReader.h"

#include "DBEngine.h"
#include "Errors.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QUuid>

#include <mdbtools.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

namespace accessdb {
namespace {

// MSysObjects.Type and Flags values.
constexpr int typeTable = 1;
constexpr int typeOdbcLink = 4;
constexpr int typeQuery = 5;
constexpr int typeLink = 6;
constexpr int typeForm = -32768;
constexpr int typeMacro = -32766;
constexpr int typeReport = -32764;
constexpr int typeModule = -32761;
constexpr qint64 flagHidden = 0x8;
constexpr qint64 flagsSystem = 0x80000002;
// The row offset bits of a row pointer on a data page.
constexpr int offsetMask = 0x1fff;
// Values of a date column: the original engine's range, days from 1899-12-30.
constexpr double firstDay = -657434.0; // 100-01-01
constexpr double lastDay = 2958465.0;  // 9999-12-31

struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

QString fromUtf8(const char* text)
{
    return QString::fromUtf8(text, qsizetype(strnlen(text, MDB_MAX_OBJ_NAME + 1)));
}

// A column as read from the file, with how its values are decoded.
struct SourceColumn {
    MdbColumn* column = nullptr;
    Column target;
    bool lossy = false;
};

class TableReader {
public:
    TableReader(MdbHandle* mdb, MdbTableDef* table) : m_mdb(mdb), m_table(table) {}

    std::vector<SourceColumn> columns() const
    {
        std::vector<SourceColumn> result;
        for (unsigned i = 0; i < m_table->num_cols; ++i) {
            SourceColumn source;
            source.column = static_cast<MdbColumn*>(g_ptr_array_index(m_table->columns, i));
            source.target.name = fromUtf8(source.column->name);
            mapType(source);
            result.push_back(source);
        }
        return result;
    }

    // Hands take the values of each row that can be read, from the first.
    template <typename Take> void forEachRow(std::vector<SourceColumn>& columns, Take take)
    {
        QVariantList values;
        mdb_rewind_table(m_table);
        while (mdb_fetch_row(m_table))
            if (decodeRow(columns, values))
                take(values);
    }

private:
    // The values of the row that mdb_fetch_row has just read: the row is
    // taken apart again for the null flags, which the library does not keep.
    bool decodeRow(std::vector<SourceColumn>& columns, QVariantList& values)
    {
        const int row = int(m_table->cur_row) - 1;
        int start = 0;
        size_t length = 0;
        if (row < 0 || mdb_find_row(m_mdb, row, &start, &length) != 0 || length == 0)
            return false;
        std::vector<MdbField> fields(std::max<size_t>(m_table->num_cols, MDB_MAX_COLS));
        const int count = mdb_crack_row(m_table, start & offsetMask, length, fields.data());
        if (count < 0)
            return false;
        values = QVariantList(qsizetype(columns.size()));
        for (int k = 0; k < count && k < int(m_table->num_cols); ++k) {
            const MdbField& field = fields[size_t(k)];
            if (field.colnum < 0 || field.colnum >= int(columns.size()))
                continue;
            values[field.colnum] = decode(columns[size_t(field.colnum)], field);
        }
        return true;
    }

    void mapType(SourceColumn& source) const
    {
        Column& c = source.target;
        const bool jet3 = m_mdb->f->jet_version == MDB_VER_JET3;
        switch (source.column->col_type) {
        case MDB_BOOL:
            c.type = dao::dbBoolean;
            break;
        case MDB_BYTE:
        case MDB_INT:
        case MDB_LONGINT:
            c.type = dao::dbLong;
            break;
        case MDB_MONEY:
            c.type = dao::dbDouble;
            c.sourceType = QStringLiteral("měna");
            break;
        case MDB_NUMERIC:
            c.type = dao::dbDouble;
            c.sourceType = QStringLiteral("desetinné číslo");
            break;
        case MDB_FLOAT:
        case MDB_DOUBLE:
            c.type = dao::dbDouble;
            break;
        case MDB_DATETIME:
            c.type = dao::dbDate;
            c.sourceType = QStringLiteral("datum");
            break;
        case MDB_TEXT:
            c.type = dao::dbText;
            c.size = jet3 ? source.column->col_size : source.column->col_size / 2;
            if (c.size <= 0 || c.size > 255)
                c.size = 255;
            break;
        case MDB_MEMO:
            c.type = dao::dbMemo;
            break;
        case MDB_REPID:
            c.type = dao::dbText;
            c.size = 38;
            break;
        case MDB_OLE:
            c.sourceType = QStringLiteral("objekt OLE");
            break;
        case MDB_BINARY:
            c.sourceType = QStringLiteral("binární data");
            break;
        case MDB_COMPLEX:
            c.sourceType = QStringLiteral("příloha nebo pole s více hodnotami");
            break;
        default:
            c.sourceType = QStringLiteral("typ %1").arg(source.column->col_type);
            break;
        }
    }

    const unsigned char* bytes(const MdbField& field, int needed) const
    {
        if (field.start < 0 || field.siz < needed || field.start + needed > int(m_mdb->fmt->pg_size))
            return nullptr;
        return m_mdb->pg_buf + field.start;
    }

    QString text(const char* data, size_t length) const
    {
        if (length == 0)
            return QString();
        std::vector<char> out(length * 3 + 8);
        const int written = mdb_unicode2ascii(m_mdb, data, length, out.data(), out.size());
        return QString::fromUtf8(out.data(), std::max(0, written));
    }

    // A memo: inline, on one other page, or a chain of pages, bounded by its stated length.
    QVariant memo(const MdbField& field) const
    {
        const unsigned char* p = bytes(field, MDB_MEMO_OVERHEAD);
        if (!p)
            return QString();
        const quint32 header = quint32(mdb_get_int32(const_cast<unsigned char*>(p), 0));
        const size_t stated = header & 0x3fffffffu;
        if (header & 0x80000000u)
            return text(reinterpret_cast<const char*>(p) + MDB_MEMO_OVERHEAD, size_t(field.siz - MDB_MEMO_OVERHEAD));
        qint32 pageRow = qint32(mdb_get_int32(const_cast<unsigned char*>(p), 4));
        void* buffer = nullptr;
        int offset = 0;
        size_t length = 0;
        if (header & 0x40000000u) {
            if (mdb_find_pg_row(m_mdb, pageRow, &buffer, &offset, &length) != 0)
                return QVariant();
            return text(static_cast<const char*>(buffer) + offset, std::min(length, stated));
        }
        if (header & 0xff000000u)
            return QVariant();
        QByteArray collected;
        // Each page of the chain carries at least one byte; a longer chain loops.
        for (size_t pages = 0; pageRow != 0 && size_t(collected.size()) < stated && pages <= stated; ++pages) {
            if (mdb_find_pg_row(m_mdb, pageRow, &buffer, &offset, &length) != 0 || length < 4)
                break;
            const char* row = static_cast<const char*>(buffer) + offset;
            collected.append(row + 4, qsizetype(std::min(length - 4, stated - size_t(collected.size()))));
            pageRow = qint32(mdb_get_int32(const_cast<char*>(row), 0));
        }
        return text(collected.constData(), size_t(collected.size()));
    }

    static QVariant date(double days, bool& lossy)
    {
        if (!std::isfinite(days) || days < firstDay || days > lastDay + 1) {
            lossy = true;
            return QVariant();
        }
        // The whole part counts days from 1899-12-30, the fraction is the time of
        // that day also before 1899 (-1.25 is 1899-12-29 06:00).
        qint64 day = qint64(days);
        qint64 seconds = std::llround(std::fabs(days - double(day)) * 86400.0);
        if (seconds >= 86400) {
            seconds -= 86400;
            ++day;
        }
        // In UTC: a local time would move the wall-clock times that a change to summer time skips.
        return QDateTime(QDate(1899, 12, 30).addDays(day), QTime(0, 0).addSecs(int(seconds)), Qt::UTC);
    }

    static int significantDigits(const char* number)
    {
        QByteArray digits;
        for (const char* c = number; *c; ++c)
            if (*c >= '0' && *c <= '9')
                digits.append(*c);
        while (digits.startsWith('0'))
            digits.remove(0, 1);
        while (digits.endsWith('0'))
            digits.chop(1);
        return int(digits.size());
    }

    QVariant decode(SourceColumn& source, const MdbField& field)
    {
        MdbColumn* column = source.column;
        // A yes/no value is the null flag itself.
        if (column->col_type == MDB_BOOL)
            return QVariant(!field.is_null);
        if (field.is_null || source.target.type < 0)
            return QVariant();
        const auto* p = bytes(field, 0);
        if (!p)
            return QVariant();
        auto* raw = const_cast<unsigned char*>(p);
        switch (column->col_type) {
        case MDB_BYTE:
            return bytes(field, 1) ? QVariant(int(p[0])) : QVariant();
        case MDB_INT:
            return bytes(field, 2) ? QVariant(int(qint16(mdb_get_int16(raw, 0)))) : QVariant();
        case MDB_LONGINT:
            return bytes(field, 4) ? QVariant(int(qint32(mdb_get_int32(raw, 0)))) : QVariant();
        case MDB_FLOAT: {
            if (!bytes(field, 4))
                return QVariant();
            // The shortest text that gives back the single, as the original engine shows it.
            const float value = mdb_get_single(raw, 0);
            if (!std::isfinite(value))
                return QVariant();
            char text[32];
            const auto end = std::to_chars(text, text + sizeof(text) - 1, value).ptr;
            *end = '\0';
            return QVariant(std::strtod(text, nullptr));
        }
        case MDB_DOUBLE:
            return bytes(field, 8) ? QVariant(mdb_get_double(raw, 0)) : QVariant();
        case MDB_MONEY: {
            if (!bytes(field, 8))
                return QVariant();
            qint64 units = 0;
            std::memcpy(&units, p, 8);
            if (units >= 1000000000000000LL || units <= -1000000000000000LL)
                source.lossy = true;
            return QVariant(double(units) / 10000.0);
        }
        case MDB_NUMERIC: {
            if (!bytes(field, 17))
                return QVariant();
            char* text = mdb_numeric_to_string(m_mdb, field.start, column->col_scale, column->col_prec);
            if (!text)
                return QVariant();
            if (significantDigits(text) > 15)
                source.lossy = true;
            const double value = std::strtod(text, nullptr);
            g_free(text);
            return QVariant(value);
        }
        case MDB_DATETIME:
            return bytes(field, 8) ? date(mdb_get_double(raw, 0), source.lossy) : QVariant();
        case MDB_TEXT:
            return text(reinterpret_cast<const char*>(p), size_t(field.siz));
        case MDB_MEMO:
            return memo(field);
        case MDB_REPID: {
            if (!bytes(field, 16))
                return QVariant();
            const QUuid id(quint32(mdb_get_int32(raw, 0)), quint16(mdb_get_int16(raw, 4)),
                           quint16(mdb_get_int16(raw, 6)), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
            return id.toString(QUuid::WithBraces).toUpper();
        }
        default:
            return QVariant();
        }
    }

    MdbHandle* m_mdb;
    MdbTableDef* m_table;
};

struct ObjectRow {
    QString name;
    int type = 0;
    qint64 flags = 0;
    QString database;
    QString foreignName;
    QString connect;
};

MdbCatalogEntry* findTableEntry(MdbHandle* mdb, const QString& name)
{
    const QByteArray wanted = name.toUtf8();
    for (unsigned i = 0; mdb->catalog && i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && wanted == entry->object_name)
            return entry;
    }
    return nullptr;
}

using TableHandle = std::unique_ptr<MdbTableDef, TableFreer>;

TableHandle openTable(MdbCatalogEntry* entry, const QString& path)
{
    TableHandle table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()))
        throw Errors::accessDamaged(
            path, QStringLiteral("definici tabulky '%1' nelze přečíst.").arg(fromUtf8(entry->object_name)));
    return table;
}

std::vector<ObjectRow> readObjects(MdbHandle* mdb, const QString& path)
{
    MdbCatalogEntry* entry = findTableEntry(mdb, QStringLiteral("MSysObjects"));
    if (!entry)
        throw Errors::accessDamaged(path, QStringLiteral("chybí seznam objektů (MSysObjects)."));
    TableHandle table = openTable(entry, path);
    TableReader reader(mdb, table.get());
    std::vector<SourceColumn> columns = reader.columns();
    auto at = [&](const char* name) {
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i].target.name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    };
    const int name = at("Name"), type = at("Type"), flags = at("Flags");
    const int database = at("Database"), foreign = at("ForeignName"), connect = at("Connect");
    if (name < 0 || type < 0 || flags < 0)
        throw Errors::accessDamaged(path, QStringLiteral("seznam objektů (MSysObjects) nemá očekávané sloupce."));
    auto textAt = [](const QVariantList& values, int column) {
        return column < 0 ? QString() : values.at(column).toString();
    };
    std::vector<ObjectRow> rows;
    reader.forEachRow(columns, [&](const QVariantList& values) {
        ObjectRow row;
        row.name = values.at(name).toString();
        row.type = values.at(type).toInt();
        row.flags = values.at(flags).toLongLong();
        row.database = textAt(values, database);
        row.foreignName = textAt(values, foreign);
        row.connect = textAt(values, connect);
        rows.push_back(row);
    });
    return rows;
}

void readTable(MdbHandle* mdb, MdbCatalogEntry* entry, const ObjectRow& object, Sink& sink, bool withRows,
               const QString& path)
{
    TableHandle table = openTable(entry, path);
    TableReader reader(mdb, table.get());
    std::vector<SourceColumn> columns = reader.columns();
    Table description;
    description.name = object.name;
    description.hidden = (object.flags & flagHidden) != 0;
    for (const SourceColumn& column : columns)
        description.columns.push_back(column.target);
    // The library keeps the indexes in the table; what it returns tells nothing.
    mdb_read_indices(table.get());
    if (table->indices) {
        for (unsigned i = 0; i < table->indices->len; ++i) {
            const auto* index = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, i));
            const bool primary = index->index_type == 1;
            if (!primary && !(index->flags & MDB_IDX_UNIQUE))
                continue;
            Index wanted;
            wanted.name = fromUtf8(index->name);
            wanted.primary = primary;
            for (unsigned k = 0; k < index->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
                const int column = index->key_col_num[k] - 1;
                if (column >= 0 && column < int(columns.size()))
                    wanted.columns << columns[size_t(column)].target.name;
            }
            if (!wanted.columns.isEmpty() && wanted.columns.size() == int(index->num_keys))
                description.indexes.push_back(wanted);
        }
    }
    sink.table(description);
    if (withRows)
        reader.forEachRow(columns, [&](const QVariantList& values) { sink.row(values); });
    QStringList lossy;
    for (const SourceColumn& column : columns)
        if (column.lossy)
            lossy << column.target.name;
    sink.tableEnd(lossy);
}

QString formatName(guint32 version)
{
    switch (version) {
    case MDB_VER_JET3:
        return QStringLiteral("Access 97");
    case MDB_VER_JET4:
        return QStringLiteral("Access 2000-2003");
    case MDB_VER_ACCDB_2007:
        return QStringLiteral("Access 2007");
    case MDB_VER_ACCDB_2010:
        return QStringLiteral("Access 2010");
    case MDB_VER_ACCDB_2013:
        return QStringLiteral("Access 2013");
    case MDB_VER_ACCDB_2016:
        return QStringLiteral("Access 2016");
    default:
        return QStringLiteral("Access 2019");
    }
}

} // namespace

void readWithLibmdb(const QString& path, Sink& sink, bool withRows)
{
    std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(path.toLocal8Bit().constData(), MDB_NOFLAGS));
    if (!mdb)
        throw Errors::accessDamaged(path, QStringLiteral("záhlaví souboru nelze přečíst."));
    GPtrArray* catalog = mdb_read_catalog(mdb.get(), MDB_ANY);
    if (!catalog || catalog->len == 0)
        throw Errors::accessCatalogUnreadable(path);
    FileInfo info;
    info.format = formatName(mdb->f->jet_version);
    info.czech = mdb->f->lang_id == 0x405;
    const std::vector<ObjectRow> objects = readObjects(mdb.get(), path);
    const auto userTable = [](const ObjectRow& object) {
        return object.type == typeTable && (object.flags & flagsSystem) == 0 &&
               !object.name.startsWith(QLatin1String("MSys"), Qt::CaseInsensitive);
    };
    for (const ObjectRow& object : objects)
        if (userTable(object)) {
            ++info.tables;
            // The count in the table's definition: enough to tell how far the import has come.
            if (MdbCatalogEntry* entry = findTableEntry(mdb.get(), object.name))
                if (const TableHandle table{mdb_read_table(entry)})
                    info.rows += table->num_rows;
        }
    sink.info(info);

    Objects others;
    std::vector<Link> links;
    for (const ObjectRow& object : objects) {
        switch (object.type) {
        case typeTable: {
            if (!userTable(object))
                break;
            MdbCatalogEntry* entry = findTableEntry(mdb.get(), object.name);
            if (!entry)
                throw Errors::accessDamaged(path, QStringLiteral("tabulka '%1' chybí v katalogu.").arg(object.name));
            readTable(mdb.get(), entry, object, sink, withRows, path);
            break;
        }
        case typeLink:
        case typeOdbcLink: {
            Link link;
            link.name = object.name;
            link.odbc = object.type == typeOdbcLink;
            link.hidden = (object.flags & flagHidden) != 0;
            link.database = object.database;
            link.foreignName = object.foreignName.isEmpty() ? object.name : object.foreignName;
            link.connect = object.connect;
            links.push_back(link);
            break;
        }
        case typeQuery:
            // Queries whose names start with "~" are the hidden record sources of forms and reports.
            if (!object.name.startsWith(QLatin1Char('~')))
                ++others.queries;
            break;
        case typeForm:
            ++others.forms;
            break;
        case typeReport:
            ++others.reports;
            break;
        case typeMacro:
            ++others.macros;
            break;
        case typeModule:
            ++others.modules;
            break;
        default:
            break;
        }
    }
    for (const Link& link : links)
        sink.link(link);
    sink.objects(others);
}

} // namespace accessdb
