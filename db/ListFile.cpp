#include "ListFile.h"

#include "DBEngine.h"
#include "Globals.h"
#include "IgnoringFailures.h"
#include "OdbcConnectString.h"
#include "Paths.h"
#include "RunTimeError.h"
#include "Settings.h"
#include "SharedFiles.h"

#include <QFile>

#include <memory>

namespace {

const QString kTable = QStringLiteral("Databaze");
const QString kName = QStringLiteral("Jmeno");
const QString kPath = QStringLiteral("Cesta");
const QString kNew = QStringLiteral("NovaDB");
// Size of Cesta, in the program's 16-bit text units.
constexpr int kPathSize = 255;

// A null QString would reach the engine as "no value"; the list stores the
// empty path as the zero-length text instead.
QVariant pathValue(const QString& path)
{
    return QVariant(path.isNull() ? QString(QLatin1String("")) : path);
}

// The open list file and its record set, closed in the last step of every
// operation whatever happened before; failures while closing are ignored.
class ListSession {
public:
    ListSession() = default;
    ListSession(const ListSession&) = delete;
    ListSession& operator=(const ListSession&) = delete;
    ~ListSession() { close(); }

    void open() { m_db = DbEngine().OpenDatabase(gListDbPath); }
    // For a change: a link another user planted in a shared program folder is
    // not written through (see SharedFiles.h).
    void openForWriting()
    {
        SharedFiles::resolveForWrite(QFile::encodeName(gListDbPath));
        open();
    }
    void create() { m_db = DbEngine().CreateDatabase(gListDbPath, dao::dbLangCzech, dao::dbVersion120); }
    Database& db() { return *m_db; }
    Recordset& openRecordset(const QString& sql, const QVariantList& params = {})
    {
        m_records = m_db->OpenRecordset(sql, params, dao::dbOpenDynaset);
        return *m_records;
    }

    void close() noexcept
    {
        ignoringFailures([&] {
            if (m_records)
                m_records->Close();
        });
        ignoringFailures([&] {
            if (m_db)
                m_db->Close();
        });
        m_records.reset();
        m_db.reset();
    }

private:
    std::unique_ptr<Database> m_db;
    std::unique_ptr<Recordset> m_records;
};

// Runs one list operation: a failure is shown once with ShowError, then the
// session is closed. Nothing reaches the caller; the result says whether the
// body ran to its end.
template <typename Body> bool runListOperation(DesktopServices& desktop, Body&& body)
{
    ListSession session;
    bool done = false;
    try {
        body(session);
        done = true;
    } catch (const RunTimeError& error) {
        ShowError(desktop, error);
    } catch (const std::exception& error) {
        ShowError(desktop, RunTimeError(ErrorNumber::SyntaxError, QString::fromLocal8Bit(error.what())));
    }
    session.close();
    return done;
}

bool isEmpty(const Recordset& records)
{
    return records.BOF() && records.EOF();
}

void addRow(Recordset& records, const QString& path)
{
    records.AddNew();
    records.setValue(kNew, true);
    records.setValue(kPath, pathValue(path));
    records.Update();
}

} // namespace

void CreateListFile(DesktopServices& desktop)
{
    runListOperation(desktop, [](ListSession& session) {
        session.create();
        Database& db = session.db();
        std::shared_ptr<TableDef> table = db.CreateTableDef(kTable);

        table->appendField(table->CreateField(kName, dao::dbText, 50));
        table->appendField(table->CreateField(kPath, dao::dbText, kPathSize));
        table->appendField(table->CreateField(kNew, dao::dbBoolean));

        std::shared_ptr<IndexDef> index = table->CreateIndex(kPath);
        index->Unique = true;
        index->Fields.append(kPath);
        table->appendIndex(index);

        index = table->CreateIndex(kNew);
        index->Unique = false;
        index->Fields.append(kNew);
        table->appendIndex(index);

        table->refreshFields();
        table->field(kName)->AllowZeroLength = true;
        table->field(kPath)->AllowZeroLength = true;

        db.TableDefs().Append(table);
        db.TableDefs().Refresh();
    });
}

void AddListPath(DesktopServices& desktop, const QString& path)
{
    // An empty path names no data file; the list never gets an empty row.
    if (path.isEmpty())
        return;
    runListOperation(desktop, [&path](ListSession& session) {
        session.openForWriting();
        Recordset& records =
            session.openRecordset(QStringLiteral("select * from Databaze where Databaze.Cesta=?"), {pathValue(path)});
        if (isEmpty(records))
            addRow(records, path);
    });
}

void DeleteListPath(DesktopServices& desktop, const QString& path)
{
    runListOperation(desktop, [&path](ListSession& session) {
        session.openForWriting();
        session.db().Execute(QStringLiteral("delete * from Databaze where Databaze.Cesta=?"), {pathValue(path)});
    });
}

void FillDataFileList(DesktopServices& desktop, ComboBoxView& combo, const std::optional<QString>& current)
{
    const bool given = current.has_value();
    const QString currentText = current.value_or(QString());
    // What the box shows when the list cannot be read: the path the caller
    // gave, else the one typed before. It is never lost to a broken list.
    const QString kept = given && !currentText.isEmpty() ? currentText : combo.text();

    const bool filled = runListOperation(desktop, [&](ListSession& session) {
        combo.clear();
        session.open();
        Recordset& records = session.openRecordset(
            QStringLiteral("select * from Databaze where Databaze.Cesta Is Not Null order by Databaze.Cesta"));
        // The first row of an empty list is the path the caller shows. A path
        // the list cannot hold is reported once, by the add of the run that uses it.
        if (isEmpty(records) && given && !currentText.isEmpty() && currentText.size() <= kPathSize)
            addRow(records, currentText);
        records.Requery();

        if (!isEmpty(records)) {
            records.MoveLast();
            records.MoveFirst();
            while (!records.EOF()) {
                combo.addItem(records.value(kPath).toString());
                records.MoveNext();
                desktop.doEvents();
            }
        }

        const QString lastDb = ReadSetting(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB"));
        if (given && !currentText.isEmpty())
            combo.setText(currentText);
        if (combo.text().isEmpty() && !lastDb.isEmpty() && dataPathExists(lastDb))
            combo.setText(lastDb);
    });
    if (!filled && combo.text() != kept)
        combo.setText(kept);
}
