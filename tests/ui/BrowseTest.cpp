#include "Browse.h"

#include "frmDir.h"
#include "Globals.h"
#include "ListFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

class FakeCombo : public ComboBoxView {
public:
    QStringList items;
    QString edit;
    int changes = 0;
    void clear() override
    {
        items.clear();
        edit.clear();
        ++changes;
    }
    void addItem(const QString& item) override
    {
        items.append(item);
        ++changes;
    }
    QString text() const override { return edit; }
    void setText(const QString& text) override
    {
        edit = text;
        ++changes;
    }
};

// The main window as browsing sees it; records focus and relink requests.
class FakeHost : public BrowseHost {
public:
    QWidget window;
    QString text1;
    FakeCombo combo;
    QStringList log;

    QWidget* hostWindow() override { return &window; }
    QString programPathText() const override { return text1; }
    void setProgramPathText(const QString& text) override { text1 = text; }
    ComboBoxView& dataCombo() override { return combo; }
    QString browseTag(int index) const override
    {
        return index == 0 ? QStringLiteral("ZUL.accdr") : QStringLiteral("ZUL_data.accdb");
    }
    void focusProgramPath() override { log.append(QStringLiteral("focus")); }
    void startRelink() override { log.append(QStringLiteral("relink")); }
};

// What the chooser showed when it opened, and what the test did in it.
struct ChooserVisit {
    bool shown = false;
    QString folder;
    QString drive;
    QString pattern;
    bool okEnabled = false;
};

enum class Answer { Ok, Storno, Escape, FrameClose };

} // namespace

class TestBrowse : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void programFileOpensAtItsFolderAndComesBack();
    void programFileFromAnotherFolder();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void rootFolderGivesOneSeparator();
    void unusableStartOpensAtCurrentFolder_data();
    void unusableStartOpensAtCurrentFolder();
    void dataFileJoinsTheListOnce();
    void dataFileInAnotherCaseComesBackUnderItsRealName();
    void autoBrowseConfirmStartsTheRun();
    void autoBrowseCancelWithMissingDataStartsNothing();
    void laterProgramBrowseStartsTheRunWhenDataExists_data();
    void laterProgramBrowseStartsTheRunWhenDataExists();

private:
    // Installs a chooser hook that records the opened state, goes to folder
    // (when given) and answers.
    void answerChooser(Answer answer, const QString& folder = QString());

    RecordingDesktop m_desktop;
    QTemporaryDir m_tree;
    ChooserVisit m_visit;
    QString m_prog; // holds ZUL.accdr
    QString m_data; // holds ZUL_data.accdb
    QString m_empty;
};

void TestBrowse::init()
{
    resetGlobals();
    m_desktop.clear();
    m_visit = ChooserVisit();
    QVERIFY(m_tree.isValid());
    m_prog = m_tree.path() + QStringLiteral("/prog");
    m_data = m_tree.path() + QStringLiteral("/data");
    m_empty = m_tree.path() + QStringLiteral("/empty");
    QDir().mkpath(m_prog);
    QDir().mkpath(m_data);
    QDir().mkpath(m_empty);
    QVERIFY(writeBytes(m_prog + QStringLiteral("/ZUL.accdr"), {}));
    QVERIFY(writeBytes(m_data + QStringLiteral("/ZUL_data.accdb"), {}));
    gListDbPath = m_tree.path() + QStringLiteral("/ZUL_db.accdb");
}

void TestBrowse::cleanup()
{
    frmDir::setBeforeExecHook(nullptr);
    QDir(m_tree.path()).removeRecursively();
    QDir().mkpath(m_tree.path());
}

void TestBrowse::answerChooser(Answer answer, const QString& folder)
{
    frmDir::setBeforeExecHook([this, answer, folder](frmDir& dlg) {
        m_visit.shown = true;
        m_visit.folder = dlg.Dir1()->path();
        m_visit.drive = dlg.Drive1()->drive();
        m_visit.pattern = dlg.File1()->pattern();
        m_visit.okEnabled = dlg.cmdOK()->isEnabled();
        QTimer::singleShot(0, &dlg, [&dlg, answer, folder] {
            if (!folder.isEmpty())
                dlg.Dir1()->setPath(folder);
            switch (answer) {
            case Answer::Ok:
                dlg.cmdOK()->click();
                break;
            case Answer::Storno:
                dlg.cmdStorno()->click();
                break;
            case Answer::Escape:
                QTest::keyClick(&dlg, Qt::Key_Escape);
                break;
            case Answer::FrameClose:
                dlg.close();
                break;
            }
        });
    });
}

void TestBrowse::programFileOpensAtItsFolderAndComesBack()
{
    FakeHost host;
    host.text1 = m_prog + QStringLiteral("/ZUL.accdr");
    answerChooser(Answer::Ok);
    BrowseForFile(host, m_desktop, 0);

    QVERIFY(m_visit.shown);
    QCOMPARE(m_visit.folder, m_prog);
    QCOMPARE(m_visit.pattern, QStringLiteral("ZUL.accdr"));
    QVERIFY(m_visit.okEnabled);
    QVERIFY(!m_visit.drive.isEmpty());
    QCOMPARE(host.text1, m_prog + QStringLiteral("/ZUL.accdr"));
    QCOMPARE(gChosenFolder, m_prog);
    QCOMPARE(gFilePattern, QStringLiteral("ZUL.accdr"));
    QCOMPARE(host.log, QStringList{QStringLiteral("focus")});
    QCOMPARE(host.combo.changes, 0);
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("doevents")});
}

void TestBrowse::programFileFromAnotherFolder()
{
    FakeHost host;
    host.text1 = m_empty + QStringLiteral("/ZUL.accdr");
    answerChooser(Answer::Ok, m_prog);
    BrowseForFile(host, m_desktop, 0);
    QCOMPARE(m_visit.folder, m_empty);
    QVERIFY(!m_visit.okEnabled);
    QCOMPARE(host.text1, m_prog + QStringLiteral("/ZUL.accdr"));
}

void TestBrowse::cancelChangesNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("answer");
    QTest::newRow("program, Storno") << 0 << int(Answer::Storno);
    QTest::newRow("program, Escape") << 0 << int(Answer::Escape);
    QTest::newRow("program, frame close") << 0 << int(Answer::FrameClose);
    QTest::newRow("data, Storno") << 1 << int(Answer::Storno);
    QTest::newRow("data, Escape") << 1 << int(Answer::Escape);
    QTest::newRow("data, frame close") << 1 << int(Answer::FrameClose);
}

void TestBrowse::cancelChangesNothing()
{
    QFETCH(int, index);
    QFETCH(int, answer);
    FakeHost host;
    host.text1 = m_prog + QStringLiteral("/ZUL.accdr");
    host.combo.edit = m_data + QStringLiteral("/ZUL_data.accdb");
    gChosenFolder = QStringLiteral("/left/over");
    // The user wanders to another folder before cancelling.
    answerChooser(static_cast<Answer>(answer), m_empty);
    BrowseForFile(host, m_desktop, index);

    QVERIFY(m_visit.shown);
    QCOMPARE(gChosenFolder, QString());
    QCOMPARE(host.text1, m_prog + QStringLiteral("/ZUL.accdr"));
    QCOMPARE(host.combo.edit, m_data + QStringLiteral("/ZUL_data.accdb"));
    QCOMPARE(host.combo.changes, 0);
    QCOMPARE(host.log, QStringList{QStringLiteral("focus")});
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("doevents")});
    QVERIFY(!QFile::exists(gListDbPath));
}

void TestBrowse::rootFolderGivesOneSeparator()
{
    // Stands in for the chooser confirming the root, which holds no test file.
    frmDir::setBeforeExecHook([](frmDir& dlg) {
        QTimer::singleShot(0, &dlg, [&dlg] {
            gChosenFolder = QStringLiteral("/");
            dlg.accept();
        });
    });
    FakeHost host;
    BrowseForFile(host, m_desktop, 0);
    QCOMPARE(host.text1, QStringLiteral("/ZUL.accdr"));
}

void TestBrowse::unusableStartOpensAtCurrentFolder_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("bare name") << QStringLiteral("ZUL.accdr");
    QTest::newRow("missing folder") << QStringLiteral("/no/such/folder/ZUL.accdr");
    QTest::newRow("empty") << QString();
    QTest::newRow("a file as folder") << QStringLiteral("%1/ZUL.accdr/x");
}

void TestBrowse::unusableStartOpensAtCurrentFolder()
{
    QFETCH(QString, box);
    FakeHost host;
    const QString before = box.contains(QLatin1String("%1")) ? box.arg(m_prog) : box;
    host.text1 = before;
    answerChooser(Answer::Storno);
    BrowseForFile(host, m_desktop, 0);
    QVERIFY(m_visit.shown);
    QCOMPARE(m_visit.folder, QDir::currentPath());
    QCOMPARE(host.text1, before);
    QCOMPARE(host.log, QStringList{QStringLiteral("focus")});
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("doevents")});
}

void TestBrowse::dataFileJoinsTheListOnce()
{
    CreateListFile(m_desktop);
    QVERIFY(QFile::exists(gListDbPath));
    m_desktop.clear();
    const QString wanted = m_data + QStringLiteral("/ZUL_data.accdb");
    FakeHost host;
    host.combo.edit = m_empty + QStringLiteral("/ZUL_data.accdb");
    answerChooser(Answer::Ok, m_data);
    BrowseForFile(host, m_desktop, 1);

    QCOMPARE(m_visit.folder, m_empty);
    QCOMPARE(m_visit.pattern, QStringLiteral("ZUL_data.accdb"));
    QCOMPARE(host.combo.edit, wanted);
    QCOMPARE(host.combo.items, QStringList{wanted});
    QCOMPARE(host.log, QStringList{QStringLiteral("focus")});
    QCOMPARE(m_desktop.boxes(), QStringList());

    // The same folder again: still one row.
    m_visit = ChooserVisit();
    BrowseForFile(host, m_desktop, 1);
    QCOMPARE(m_visit.folder, m_data);
    QVERIFY(m_visit.okEnabled);
    QCOMPARE(host.combo.edit, wanted);
    QCOMPARE(host.combo.items, QStringList{wanted});
    QCOMPARE(m_desktop.boxes(), QStringList());
}

// A data file copied from a platform whose names ignore case is found, and the
// path that comes back names the file as it is on disk.
void TestBrowse::dataFileInAnotherCaseComesBackUnderItsRealName()
{
    const QString copied = m_tree.path() + QStringLiteral("/copied");
    QDir().mkpath(copied);
    QVERIFY(writeBytes(copied + QStringLiteral("/ZUL_DATA.ACCDB"), {}));
    CreateListFile(m_desktop);
    FakeHost host;
    host.combo.edit = m_empty + QStringLiteral("/ZUL_data.accdb");
    answerChooser(Answer::Ok, copied);
    BrowseForFile(host, m_desktop, 1);

    const QString real = copied + QStringLiteral("/ZUL_DATA.ACCDB");
    QCOMPARE(host.combo.edit, real);
    QCOMPARE(host.combo.items, QStringList{real});
    QCOMPARE(m_desktop.boxes(), QStringList());
}

void TestBrowse::autoBrowseConfirmStartsTheRun()
{
    gAutoBrowse = true;
    FakeHost host;
    host.text1 = m_prog + QStringLiteral("/ZUL.accdr");
    host.combo.edit = m_empty + QStringLiteral("/ZUL_data.accdb");
    answerChooser(Answer::Ok, m_data);
    BrowseForFile(host, m_desktop, 1);
    // The list file is missing: the list operations report that, the chosen path stays.
    QCOMPARE(host.combo.edit, m_data + QStringLiteral("/ZUL_data.accdb"));
    const QString missing = QStringLiteral("box !|Vindo-ZUL|3024  Soubor '%1' nebyl nalezen.").arg(gListDbPath);
    QCOMPARE(m_desktop.boxes(), (QStringList{missing, missing}));
    QCOMPARE(host.log, (QStringList{QStringLiteral("focus"), QStringLiteral("relink")}));
}

void TestBrowse::autoBrowseCancelWithMissingDataStartsNothing()
{
    gAutoBrowse = true;
    FakeHost host;
    host.text1 = m_prog + QStringLiteral("/ZUL.accdr");
    host.combo.edit = m_empty + QStringLiteral("/ZUL_data.accdb");
    answerChooser(Answer::Storno);
    BrowseForFile(host, m_desktop, 1);
    QCOMPARE(host.combo.edit, m_empty + QStringLiteral("/ZUL_data.accdb"));
    QCOMPARE(host.log, QStringList{QStringLiteral("focus")});
}

void TestBrowse::laterProgramBrowseStartsTheRunWhenDataExists_data()
{
    QTest::addColumn<bool>("autoBrowse");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("log");
    const QStringList ran{QStringLiteral("focus"), QStringLiteral("relink")};
    const QStringList idle{QStringLiteral("focus")};
    QTest::newRow("auto browse, OK") << true << int(Answer::Ok) << ran;
    QTest::newRow("auto browse, Storno") << true << int(Answer::Storno) << ran;
    QTest::newRow("interactive, OK") << false << int(Answer::Ok) << idle;
}

void TestBrowse::laterProgramBrowseStartsTheRunWhenDataExists()
{
    QFETCH(bool, autoBrowse);
    QFETCH(int, answer);
    QFETCH(QStringList, log);
    gAutoBrowse = autoBrowse;
    FakeHost host;
    host.text1 = m_empty + QStringLiteral("/ZUL.accdr");
    host.combo.edit = m_data + QStringLiteral("/ZUL_data.accdb");
    answerChooser(static_cast<Answer>(answer), m_prog);
    BrowseForFile(host, m_desktop, 0);
    QCOMPARE(host.log, log);
    QCOMPARE(host.text1, (static_cast<Answer>(answer) == Answer::Ok ? m_prog : m_empty) + QStringLiteral("/ZUL.accdr"));
}

QTEST_MAIN(TestBrowse)
#include "BrowseTest.moc"
