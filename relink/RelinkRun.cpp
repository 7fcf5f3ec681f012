#include "RelinkRun.h"

#include "Catalog.h"
#include "DBEngine.h"
#include "Errors.h"
#include "Globals.h"
#include "IgnoringFailures.h"
#include "ListFile.h"
#include "OdbcConnectString.h"
#include "Paths.h"
#include "RelinkLog.h"
#include "RunTimeError.h"
#include "Settings.h"

#include <QHash>

#include <memory>
#include <optional>

namespace {

const QString kRunTitle = QStringLiteral("DIVadedadi");
const QString kOutcomeTitle = QStringLiteral("Vindo-ZUL");
const QString kFailedText = QStringLiteral("V průběhu propojování databází se vyskytly chyby.");
const QString kCleanText = QStringLiteral("Propojení databází proběhlo v pořádku.");

// The step a refused log is reported under: the log is written with the settings.
constexpr int kLogStep = 45;

// Only one run at a time, even if a caller ignores the disabled button.
bool runInProgress = false;

// A reference the step needs; a missing one fails like an unset object variable.
template <typename T> T& need(T* object)
{
    if (!object)
        throw Errors::objectVariableNotSet();
    return *object;
}

const std::shared_ptr<TableDef>& need(const std::shared_ptr<TableDef>& def)
{
    if (!def)
        throw Errors::objectVariableNotSet();
    return def;
}

const QString& need(const std::optional<QString>& name)
{
    if (!name)
        throw Errors::objectVariableNotSet();
    return *name;
}

class RelinkRun {
public:
    RelinkRun(MainWindowView& window, DesktopServices& desktop) : m_window(window), m_desktop(desktop) {}

    RelinkReport exec()
    {
        ignoringFailures([&] { m_window.setRunInProgress(true); });
        // Cleared before the first guarded step, so a failure in the
        // preparation cannot be forgotten and end in "OK".
        gLinkFailed = false;
        prepare();
        openFiles();
        walkTables();
        return finish();
    }

private:
    // Runs one guarded step; a failure is reported and the run goes on.
    template <typename Action> bool step(int number, Action&& action)
    {
        try {
            action();
            return true;
        } catch (const RunTimeError& error) {
            report(number, error.description());
        } catch (const std::exception& error) {
            report(number, QString::fromLocal8Bit(error.what()));
        }
        return false;
    }

    void report(int number, const QString& description)
    {
        gLinkFailed = true;
        m_report.failures.append({number, m_reportTable, description, m_reportIndex});
        ignoringFailures([&] { m_desktop.setPointer(DesktopServices::Pointer::Default); });
        ignoringFailures([&] { m_desktop.beep(); });
        ignoringFailures([&] { m_desktop.messageBox(DesktopServices::Icon::Exclamation, kRunTitle, description); });
    }

    void prepare()
    {
        ComboBoxView& combo = m_window.dataCombo();
        step(1, [&] { m_window.setOnTop(true); });
        step(2, [&] { m_desktop.setPointer(DesktopServices::Pointer::Hourglass); });
        step(3, [&] { m_window.setLinkButtonEnabled(false); });
        step(4, [&] { m_window.setExitButtonEnabled(false); });
        step(5, [&] { m_window.focusMainPanel(); });
        step(6, [&] { gLinkFailed = !m_report.failures.isEmpty(); });
        step(7, [&] { m_tableCount = 0; });
        step(8, [&] { m_window.setDbCaption(QString()); });
        step(9, [&] { m_window.setTableCaption(QString()); });
        step(10, [&] { gProgramPath = m_window.programPathText(); });
        // A server's connect string is kept and shown without its password, which serves this process only.
        step(11, [&] { gDataPath = withoutPassword(combo.text()); });
        step(12, [&] { AddListPath(m_desktop, withoutPassword(combo.text())); });
        step(13, [&] { FillDataFileList(m_desktop, combo, withoutPassword(combo.text())); });
        step(14, [&] {
            WriteSetting(QStringLiteral("DIVadedadi"), QStringLiteral("LastDB"), withoutPassword(combo.text()));
        });
        step(15, [&] { m_connect = isOdbcConnect(gDataPath) ? gDataPath : dao::dbConnectPrefix + gDataPath; });
    }

    void openFiles()
    {
        // Until the run reaches its outcome a caller must read a failure: a run
        // that dies on the way never leaves an earlier "OK" behind.
        if (gShowMessage)
            WriteOutcome(QStringLiteral("ERROR"));

        const bool programOpened = step(16, [&] {
            m_programDb = DbEngine().OpenDatabase(gProgramPath);
            // The run changes the program file in one transaction, its write lock taken here once:
            // other programs see the old links until the commit, and a killed run leaves them all.
            // A file the run cannot lock or write counts as not opened.
            try {
                m_programDb->BeginTrans();
            } catch (...) {
                m_programDb.reset();
                throw;
            }
        });
        // Every later step that needs the program file would fail for this one
        // cause; it has been shown once and is recorded against each table.
        if (!programOpened)
            m_programCause = m_report.failures.last().description;
        step(17, [&] { m_dataDb = DbEngine().OpenDatabase(gDataPath); });
        step(18, [&] {
            m_window.setDbCaption(FolderOfPath(gProgramPath) + QStringLiteral(" -> ") +
                                  (isOdbcConnect(gDataPath) ? gDataPath : FolderOfPath(gDataPath)));
        });
        step(19, [&] { m_window.setProgressValue(0); });
        step(20, [&] { m_window.setProgressVisible(true); });
        step(21, [&] { m_window.setStatusPanelVisible(true); });
        step(22, [&] { m_desktop.doEvents(); });
        step(23, [&] { m_tableCount = need(m_dataDb.get()).TableDefs().Count(); });
        step(24, [&] { m_window.setProgressMax(m_tableCount); });
    }

    void walkTables()
    {
        bool walkStarted = false;
        bool walkOver = false;
        std::shared_ptr<TableDef> current;
        m_reportTable.clear();

        walkStarted = step(25, [&] {
            TableDefCollection& defs = need(m_dataDb.get()).TableDefs();
            m_position = 0;
            if (defs.Count() == 0)
                walkOver = true;
            else
                current = defs.Item(0);
        });

        while (!walkOver) {
            // A walk that could not start has no table: its failures are the run's.
            const int failuresBefore = int(m_report.failures.size());
            m_reportIndex = -1;
            m_reportTable.clear();
            if (current) {
                ignoringFailures([&] { m_reportTable = current->Name(); });
                m_reportIndex = int(m_report.tables.size());
                m_report.tables.append({m_reportTable, RelinkReport::Outcome::Skipped});
            }
            const RelinkReport::Outcome outcome = linkTable(current.get());

            step(39, [&] { ++m_progress; });
            step(40, [&] { m_window.setProgressValue(m_progress); });
            step(41, [&] { m_desktop.doEvents(); });
            const bool moved = step(42, [&] {
                if (!walkStarted)
                    throw Errors::objectVariableNotSet();
                TableDefCollection& defs = need(m_dataDb.get()).TableDefs();
                current.reset();
                if (++m_position >= defs.Count())
                    walkOver = true;
                else
                    current = defs.Item(m_position);
            });
            if (m_reportIndex >= 0)
                m_report.tables[m_reportIndex].outcome =
                    int(m_report.failures.size()) != failuresBefore ? RelinkReport::Outcome::Failed : outcome;
            if (!moved)
                walkOver = true;
        }
        m_reportIndex = -1;
        m_reportTable.clear();
    }

    // Steps 26 to 38 for one table definition T of the data file. The
    // definition worked on belongs to this table alone. Returns what the
    // steps set out to do; the walk marks the table failed when a step failed.
    RelinkReport::Outcome linkTable(TableDef* data)
    {
        std::shared_ptr<TableDef> def;
        std::optional<QString> name;
        const int failuresBefore = int(m_report.failures.size());

        bool skip = false;
        if (!step(26, [&] { skip = (need(data).Attributes() & dao::dbSkipMask) != 0; }))
            skip = true;

        RelinkReport::Outcome outcome = RelinkReport::Outcome::Skipped;
        if (!skip) {
            // The table's changes are undone alone when any of its steps fails.
            const bool savepoint = beginTableSavepoint();
            step(27, [&] {
                m_tableName = need(data).Name();
                name = m_tableName;
            });
            // Names are the same without regard to case: a second table of
            // the data file under a name already linked in this run (made by
            // another program) is a failure of its own, not a second link.
            if (name) {
                const QString key = nameKey(*name);
                if (const auto first = m_linkedKeys.constFind(key); first != m_linkedKeys.cend()) {
                    report(27, Errors::sameNameFolded(*name, *first).description());
                    if (savepoint)
                        endTableSavepoint(false);
                    return RelinkReport::Outcome::Failed;
                }
                m_linkedKeys.insert(key, *name);
            }
            step(28, [&] { m_window.setTableCaption(m_tableName); });
            step(29, [&] { m_desktop.doEvents(); });
            if (m_programCause) {
                recordProgramCause();
                return RelinkReport::Outcome::Failed;
            }
            bool exists = false;
            step(30, [&] { exists = name && TableExists(m_programDb.get(), *name); });
            if (exists) {
                outcome = RelinkReport::Outcome::Repointed;
                step(31, [&] { def = need(m_programDb.get()).TableDefs().Item(*name); });
                step(32, [&] { need(def.get()).setConnect(m_connect); });
                step(33, [&] { need(def.get()).RefreshLink(); });
            } else {
                outcome = RelinkReport::Outcome::Created;
                step(34, [&] { def = need(m_programDb.get()).CreateTableDef(); });
                step(35, [&] { need(def.get()).setConnect(m_connect); });
                step(36, [&] { need(def.get()).setSourceTableName(need(name)); });
                step(37, [&] { need(def.get()).setName(need(name)); });
                step(38, [&] { need(m_programDb.get()).TableDefs().Append(need(def)); });
            }
            if (savepoint)
                endTableSavepoint(int(m_report.failures.size()) == failuresBefore);
        }
        return outcome;
    }

    // The table fails for the reason the program file could not be opened;
    // that reason has had its box, the table gets none of its own.
    void recordProgramCause()
    {
        gLinkFailed = true;
        m_report.failures.append({16, m_reportTable, *m_programCause, m_reportIndex});
    }

    bool beginTableSavepoint()
    {
        if (!m_programDb || m_programDb->transactionLevel() == 0)
            return false;
        try {
            m_programDb->BeginTrans();
            return true;
        } catch (...) {
            // The table's steps meet the same fault and report it.
            return false;
        }
    }

    void endTableSavepoint(bool keep)
    {
        ignoringFailures([&] {
            if (keep)
                m_programDb->CommitTrans();
            else
                m_programDb->Rollback();
        });
    }

    // Step 43 begins with the run's one commit, reported like a failed step: then
    // nothing of the run reached the file and no table counts as linked.
    void commitProgramFile()
    {
        const bool committed = step(43, [&] {
            if (m_programDb && m_programDb->transactionLevel() > 0)
                m_programDb->CommitTrans();
        });
        if (committed)
            return;
        for (RelinkReport::Table& table : m_report.tables)
            if (table.outcome == RelinkReport::Outcome::Repointed || table.outcome == RelinkReport::Outcome::Created)
                table.outcome = RelinkReport::Outcome::Failed;
    }

    RelinkReport finish()
    {
        commitProgramFile();
        // From here on failures are ignored without a report.
        ignoringFailures([&] {
            if (m_programDb)
                m_programDb->Close();
        });
        ignoringFailures([&] {
            if (m_dataDb)
                m_dataDb->Close();
        });
        m_programDb.reset();
        m_dataDb.reset();
        ignoringFailures([] { SaveDataPath(); });
        // The log is there before any box can hold the run.
        m_report.failed = gLinkFailed;
        // A log another user planted a link for, or a pipe in its place, is
        // refused; the refusal is reported and the outcome is ERROR.
        try {
            WriteRelinkLog(gIniPath, m_report, gProgramPath, gDataPath);
        } catch (const RunTimeError& error) {
            report(kLogStep, error.description());
            m_report.failed = true;
        } catch (...) {
        }
        ignoringFailures([&] { m_desktop.setPointer(DesktopServices::Pointer::Default); });
        ignoringFailures([&] { m_desktop.doEvents(); });
        ignoringFailures([&] { m_desktop.beep(); });

        // The box first, the key after the user has closed it.
        if (gLinkFailed) {
            ignoringFailures(
                [&] { m_desktop.messageBox(DesktopServices::Icon::Exclamation, kOutcomeTitle, kFailedText); });
            ignoringFailures([] { WriteOutcome(QStringLiteral("ERROR")); });
        } else if (gShowMessage) {
            ignoringFailures(
                [&] { m_desktop.messageBox(DesktopServices::Icon::Information, kOutcomeTitle, kCleanText); });
            ignoringFailures([] { WriteOutcome(QStringLiteral("OK")); });
        }

        ignoringFailures([&] { m_window.setRunInProgress(false); });
        ignoringFailures([&] { m_window.setLinkButtonEnabled(true); });
        ignoringFailures([&] { m_window.setExitButtonEnabled(true); });
        ignoringFailures([&] { m_window.focusExitButton(); });
        ignoringFailures([&] { m_window.setStatusPanelVisible(false); });
        ignoringFailures([&] { m_window.setProgressVisible(false); });
        ignoringFailures([&] { m_desktop.doEvents(); });

        m_report.failed = gLinkFailed;
        if (gAutoBrowse) {
            m_report.endedProcess = true;
            ignoringFailures([&] { m_window.unloadAndEndProcess(); });
            return m_report;
        }
        ignoringFailures([&] { m_window.setOnTop(false); });
        return m_report;
    }

    MainWindowView& m_window;
    DesktopServices& m_desktop;
    RelinkReport m_report;
    std::unique_ptr<Database> m_programDb;
    std::unique_ptr<Database> m_dataDb;
    QString m_connect;
    QHash<QString, QString> m_linkedKeys; // folded name -> name of every table the walk linked
    QString m_tableName;                  // not cleared between tables
    QString m_reportTable;                // the table the report entries belong to
    int m_reportIndex = -1;               // its entry in the report's tables
    int m_tableCount = 0;                 // the progress maximum
    int m_progress = 0;
    int m_position = 0;
    // Why the program file could not be opened; empty while it is open.
    std::optional<QString> m_programCause;
};

} // namespace

bool TableExists(Database* db, const QString& name) noexcept
{
    try {
        if (!db || !db->isOpen())
            return false;
        std::shared_ptr<TableDef> def = db->TableDefs().Item(name);
        if (!def)
            return false;
        (void)def->Name();
        return true;
    } catch (...) {
        return false;
    }
}

RelinkReport RunRelink(MainWindowView& window, DesktopServices& desktop)
{
    if (runInProgress)
        return {};
    runInProgress = true;
    struct Release {
        ~Release() { runInProgress = false; }
    } release;
    return RelinkRun(window, desktop).exec();
}
