#include "AccessImport.h"

#include "DBEngine.h"
#include "Errors.h"
#include "SqlDialect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace accessdb {
namespace {

// The connect string of a link to another file: the stored path as it stands,
// without the stored options (a password among them).
QString fileConnect(const Link& link)
{
    QString path = link.database;
    if (path.isEmpty()) {
        const int at = int(link.connect.indexOf(QStringLiteral("DATABASE="), 0, Qt::CaseInsensitive));
        if (at >= 0)
            path = link.connect.mid(at + 9).section(QLatin1Char(';'), 0, 0);
    }
    return path.isEmpty() ? QString() : dao::dbConnectPrefix + path;
}

qint32 linkAttributes(const Link& link)
{
    return (link.odbc ? dao::dbAttachedODBC : dao::dbAttachedTable) | (link.hidden ? dao::dbHiddenObject : 0);
}

// Renames from to to unless to exists; the folder's entry made durable.
void renameNoReplace(const QString& from, const QString& to)
{
    const QByteArray a = QFile::encodeName(from), b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            throw Errors::importTargetExists(to);
        throw Errors::cannotCreate(to, QString::fromLocal8Bit(std::strerror(errno)));
    }
    const int folder = ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// Every import holds a lock on its reserved name (a hidden file beside the
// target holding kReserveMark) for as long as it runs. A reserved name whose
// lock can be taken belongs to an import that was killed: it is removed with
// the files of its unfinished target, so none are left for ever.
const QByteArray kReserveMark = QByteArrayLiteral("zuldb import\n");

void removeDatabaseFiles(const QString& path);

void removeAbandonedImports(const QString& folder)
{
    const QStringList hidden =
        QDir(folder).entryList(QStringList{QStringLiteral(".*-??????")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : hidden) {
        const QString path = folder + QLatin1Char('/') + name;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        char mark[32] = {};
        struct stat info {};
        const bool ours = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                          ::read(fd, mark, sizeof mark) == kReserveMark.size() &&
                          QByteArray(mark, int(kReserveMark.size())) == kReserveMark;
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            removeDatabaseFiles(path + QStringLiteral(".import"));
            ::unlink(QFile::encodeName(path).constData());
        }
        ::close(fd);
    }
}

void removeDatabaseFiles(const QString& path)
{
    QFile::remove(path);
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// Writes what the reader finds into the new file and reports each table and link.
class Writer : public Sink {
public:
    Writer(const QString& temporary, const std::function<void(const QString&)>& print,
           const CopyProgressCallback& onProgress, ImportResult& result)
        : m_temporary(temporary), m_print(print), m_onProgress(onProgress), m_result(result)
    {
    }

    Database& database() { return *m_db; }
    bool opened() const { return m_db != nullptr; }

    void info(const FileInfo& info) override
    {
        // The file keeps the original's text order: Czech for a Czech file, the general one otherwise.
        m_db = DbEngine().CreateDatabase(m_temporary, info.czech ? dao::dbLangCzech : dao::dbLangGeneral,
                                         dao::dbVersion120);
        m_db->BeginTrans();
        m_progress.tableCount = info.tables;
        m_progress.rowCount = info.rows;
    }

    void table(const Table& table) override
    {
        m_table = table;
        m_skip = false;
        m_rows = 0;
        m_failedRows = 0;
        m_firstRowError.clear();
        m_tableNotes.clear();
        m_insert.clear();
        QStringList names, marks;
        auto def = m_db->CreateTableDef(table.name);
        for (const Column& column : table.columns) {
            if (column.type < 0) {
                note(QStringLiteral("sloupec %1 (%2) nelze převést; vynechán").arg(column.name, column.sourceType));
                continue;
            }
            auto field = def->CreateField(column.name, column.type, column.size);
            field->AllowZeroLength = true;
            def->appendField(field);
            names << quoteName(column.name);
            marks << QStringLiteral("?");
        }
        if (names.isEmpty()) {
            note(QStringLiteral("žádný sloupec nelze převést; tabulka vynechána"));
            m_skip = true;
            return;
        }
        for (const Index& index : table.indexes) {
            // An index over a column that was left out cannot be made.
            bool whole = true;
            for (const QString& column : index.columns)
                whole = whole && names.contains(quoteName(column));
            if (!whole) {
                note(QStringLiteral("index %1 nelze vytvořit: obsahuje vynechaný sloupec").arg(index.name));
                continue;
            }
            auto made = def->CreateIndex(index.name);
            made->Primary = index.primary;
            made->Unique = true;
            made->Fields = index.columns;
            def->appendIndex(made);
        }
        if (table.hidden)
            def->setAttributes(dao::dbHiddenObject);
        try {
            m_db->TableDefs().Append(def);
        } catch (const RunTimeError& error) {
            note(QStringLiteral("tabulku nelze vytvořit: %1").arg(error.description()));
            m_skip = true;
            return;
        }
        m_insert = QStringLiteral("insert into %1 (%2) values (%3)")
                       .arg(quoteName(table.name), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    }

    void row(const QVariantList& values) override
    {
        if (m_skip)
            return;
        QVariantList kept;
        kept.reserve(values.size());
        for (int i = 0; i < values.size() && i < int(m_table.columns.size()); ++i)
            if (m_table.columns[size_t(i)].type >= 0)
                kept.append(values.at(i));
        try {
            m_db->Execute(m_insert, kept);
            ++m_rows;
            if (++m_progress.rowsDone % kRowsPerProgress == 0)
                progress();
            // The engine keeps a transaction's changed pages in memory until
            // its commit; the file is hidden until the final rename, so
            // committing now and then bounds the memory whatever the source's
            // size without ever showing a half-made target.
            if (++m_rowsSinceCommit >= kRowsPerCommit) {
                m_db->CommitTrans();
                m_db->BeginTrans();
                m_rowsSinceCommit = 0;
            }
        } catch (const RunTimeError& error) {
            if (m_failedRows++ == 0)
                m_firstRowError = error.description();
        }
    }

    void tableEnd(const QStringList& lossy) override
    {
        ++m_progress.tablesDone;
        progress();
        if (m_skip) {
            report(QStringLiteral("tabulka %1: nepřevedena").arg(m_table.name));
            return;
        }
        for (const QString& column : lossy)
            note(QStringLiteral("sloupec %1: některé hodnoty nelze uložit přesně (mimo rozsah nebo přesnost čísla)")
                     .arg(column));
        if (m_failedRows > 0)
            note(QStringLiteral("%1 nelze uložit (první chyba: %2)")
                     .arg(counted(m_failedRows, "řádek", "řádky", "řádků"), m_firstRowError));
        ++m_result.tables;
        m_result.rows += m_rows;
        report(QStringLiteral("tabulka %1%2: %3")
                   .arg(m_table.name, m_table.hidden ? QStringLiteral(" (skrytá)") : QString(),
                        counted(m_rows, "řádek", "řádky", "řádků")));
    }

    void link(const Link& link) override
    {
        m_tableNotes.clear();
        const QString connect = link.odbc ? link.connect : fileConnect(link);
        const QString what = link.odbc ? QStringLiteral("propojená tabulka ODBC") : QStringLiteral("propojená tabulka");
        if (connect.isEmpty()) {
            note(QStringLiteral("propojení neuvádí soubor; vynechána"));
            report(QStringLiteral("%1 %2: nepřevedena").arg(what, link.name));
            return;
        }
        auto def = m_db->CreateTableDef(link.name);
        def->setConnect(connect);
        def->setSourceTableName(link.foreignName);
        def->setAttributes(link.hidden ? dao::dbHiddenObject : 0);
        try {
            m_db->TableDefs().AppendUnrefreshed(def);
        } catch (const RunTimeError& error) {
            note(QStringLiteral("propojení nelze uložit: %1").arg(error.description()));
            report(QStringLiteral("%1 %2: nepřevedena").arg(what, link.name));
            return;
        }
        ++m_result.links;
        const QString target = link.odbc ? connect : connect.mid(dao::dbConnectPrefix.size());
        report(
            QStringLiteral("%1 %2%3: %4 (%5)")
                .arg(what, link.name, link.hidden ? QStringLiteral(" (skrytá)") : QString(), target, link.foreignName));
    }

    void objects(const Objects& objects) override { m_objects = objects; }

    const Objects& notImported() const { return m_objects; }

private:
    void progress()
    {
        if (m_onProgress)
            m_onProgress(m_progress);
    }
    void note(const QString& text)
    {
        m_tableNotes << text;
        ++m_result.notes;
    }
    void report(const QString& line)
    {
        m_print(line);
        for (const QString& text : m_tableNotes)
            m_print(QStringLiteral("  pozn.: ") + text);
        m_tableNotes.clear();
    }

    QString m_temporary;
    const std::function<void(const QString&)>& m_print;
    const CopyProgressCallback& m_onProgress;
    CopyProgress m_progress;
    static constexpr qint64 kRowsPerProgress = 1000;
    ImportResult& m_result;
    std::unique_ptr<Database> m_db;
    Table m_table;
    bool m_skip = false;
    QString m_insert;
    qint64 m_rows = 0;
    static constexpr qint64 kRowsPerCommit = 20000;
    qint64 m_rowsSinceCommit = 0;
    qint64 m_failedRows = 0;
    QString m_firstRowError;
    QStringList m_tableNotes;
    Objects m_objects;
};

QString summary(const ImportResult& result, const Objects& objects)
{
    QString line = QStringLiteral("Importováno: %1 (%2), %3")
                       .arg(counted(result.tables, "tabulka", "tabulky", "tabulek"),
                            counted(result.rows, "řádek", "řádky", "řádků"),
                            counted(result.links, "propojená tabulka", "propojené tabulky", "propojených tabulek"));
    QStringList others;
    if (objects.queries)
        others << counted(objects.queries, "dotaz", "dotazy", "dotazů");
    if (objects.forms)
        others << counted(objects.forms, "formulář", "formuláře", "formulářů");
    if (objects.reports)
        others << counted(objects.reports, "sestava", "sestavy", "sestav");
    if (objects.macros)
        others << counted(objects.macros, "makro", "makra", "maker");
    if (objects.modules)
        others << counted(objects.modules, "modul", "moduly", "modulů");
    if (!others.isEmpty())
        line += QStringLiteral("; neimportováno: ") + others.join(QStringLiteral(", "));
    if (result.notes)
        line += QStringLiteral("; ") + counted(result.notes, "poznámka", "poznámky", "poznámek");
    return line + QLatin1Char('.');
}

// The folder of target, checked before anything is read: missing, not writable, or target already there.
QString checkTarget(const QString& target)
{
    const QFileInfo info(target);
    if (info.exists() || info.isSymLink())
        throw Errors::importTargetExists(target);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir())
        throw Errors::folderMissing(folder);
    return folder;
}

} // namespace

QString counted(qint64 count, const char* one, const char* few, const char* many)
{
    const char* noun = count == 1 ? one : (count >= 2 && count <= 4) ? few : many;
    return QLocale(QLocale::Czech, QLocale::CzechRepublic).toString(count) + QLatin1Char(' ') + QString::fromUtf8(noun);
}

ImportResult importFile(const QString& source, const QString& target, const std::function<void(const QString&)>& print,
                        const CopyProgressCallback& onProgress)
{
    // 1. The target's folder, before the source is read.
    const QString folder = checkTarget(target);
    // 2. A free temporary name beside the target; the file stays hidden until the rename.
    QTemporaryFile reserve(folder + QStringLiteral("/.") + QFileInfo(target).fileName() + QStringLiteral("-XXXXXX"));
    if (!reserve.open())
        throw Errors::folderNotWritable(folder, target);
    // The reservation is marked and locked for the import's life; reservations
    // of killed imports are cleared first.
    if (reserve.write(kReserveMark) != kReserveMark.size() || !reserve.flush() ||
        ::flock(int(reserve.handle()), LOCK_EX | LOCK_NB) != 0)
        throw Errors::folderNotWritable(folder, target);
    removeAbandonedImports(folder);
    const QString temporary = reserve.fileName() + QStringLiteral(".import");
    ImportResult result;
    Writer writer(temporary, print, onProgress, result);
    try {
        // 3. The source read in a child process, each table and link written as it comes.
        read(source, writer, true);
        if (!writer.opened() || result.tables + result.links == 0)
            throw Errors::nothingToImport(source);
        // 4. One durable commit, then the file takes the target's name.
        writer.database().CommitTrans();
        writer.database().Close();
        renameNoReplace(temporary, target);
    } catch (...) {
        if (writer.opened())
            writer.database().Close();
        removeDatabaseFiles(temporary);
        throw;
    }
    print(summary(result, writer.notImported()));
    return result;
}

std::vector<ListedTable> listTables(const QString& source)
{
    class Lister : public Sink {
    public:
        std::vector<ListedTable> tables;
        void table(const Table& table) override
        {
            tables.push_back({table.name, table.hidden ? dao::dbHiddenObject : 0, QString(), QString()});
        }
        void link(const Link& link) override
        {
            tables.push_back(
                {link.name, linkAttributes(link), link.odbc ? link.connect : fileConnect(link), link.foreignName});
        }
    } lister;
    read(source, lister, false);
    return lister.tables;
}

} // namespace accessdb
