// What a screen reader finds in the program's windows: a name for every
// control, the names taken from the labels, the progress of a run as the bar's
// value, and a keyboard path to the folder chooser that keeps the tab order.

#include "frmDir.h"
#include "frmMain.h"
#include "HelpWindow.h"

#include "DBEngine.h"
#include "Globals.h"
#include "HelpFile.h"
#include "HelpFileWriter.h"
#include "ListFile.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

class NoHelp : public HelpViewer {
public:
    void showHelpTopic(const QString&, int) override {}
};

// Roles whose interfaces are parts of a control rather than controls: rows,
// cells and scroll bars are named by their contents or need no name.
bool isPartOfAControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::ScrollBar:
    case QAccessible::ListItem:
    case QAccessible::TreeItem:
    case QAccessible::Cell:
    case QAccessible::Row:
    case QAccessible::Column:
    case QAccessible::RowHeader:
    case QAccessible::ColumnHeader:
    case QAccessible::Separator:
        return true;
    default:
        return false;
    }
}

// A panel that only holds controls and takes no focus is no control itself.
bool isContainer(QAccessibleInterface* face)
{
    const QAccessible::Role role = face->role();
    if (role != QAccessible::Client && role != QAccessible::Pane && role != QAccessible::LayeredPane &&
        role != QAccessible::Grouping)
        return false;
    const auto* widget = qobject_cast<const QWidget*>(face->object());
    return widget && widget->focusPolicy() == Qt::NoFocus;
}

// Every interface below root, depth first, as "role object-name (class)" of
// the controls without a name.
void collectUnnamed(QAccessibleInterface* face, QStringList& unnamed, int& controls, int depth = 0)
{
    if (!face || depth > 12 || isPartOfAControl(face->role()))
        return;
    const bool control = !isContainer(face);
    controls += control;
    if (control && face->text(QAccessible::Name).trimmed().isEmpty()) {
        const QObject* object = face->object();
        unnamed.append(QStringLiteral("%1 %2 (%3)")
                           .arg(int(face->role()))
                           .arg(object ? object->objectName() : QString())
                           .arg(object ? QString::fromLatin1(object->metaObject()->className()) : QString()));
    }
    for (int i = 0; i < face->childCount(); ++i)
        collectUnnamed(face->child(i), unnamed, controls, depth + 1);
}

QString nameOf(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QStringLiteral("<none>");
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void everyControlOfEveryWindowHasAName_data();
    void everyControlOfEveryWindowHasAName();
    void namesComeFromTheLabelsAndNotFromTheContents_data();
    void namesComeFromTheLabelsAndNotFromTheContents();
    void helpButtonHasANameAndATip();
    void runProgressIsTheBarsAccessibleValue();
    void keysOpenTheChooserOfTheirBox_data();
    void keysOpenTheChooserOfTheirBox();
    void contextMenuOfEachBoxOpensItsChooser_data();
    void contextMenuOfEachBoxOpensItsChooser();

private:
    template <typename T> T* control(const char* name) { return m_window->findChild<T*>(QLatin1String(name)); }
    // Answers the next chooser with Storno and remembers the file it looked for.
    void watchChooser();
    // A help file with topic 805 that jumps to a second topic and has a keyword.
    QString writeHelpFile();

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingDesktop m_desktop;
    NoHelp m_help;
    std::unique_ptr<frmMain> m_window;
    QStringList m_choosers; // the pattern of each chooser opened
};

void AccessibilityTest::init()
{
    resetGlobals();
    clearProcessEndRequest();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    setProgramDirOverride(m_dir->path());
    gIniPath = m_dir->filePath(QStringLiteral("INI/ZUL.ini"));
    gListDbPath = m_dir->filePath(QStringLiteral("ZUL_db.accdb"));
    m_desktop.clear();
    m_choosers.clear();
    m_window = std::make_unique<frmMain>(m_desktop, m_help);
}

void AccessibilityTest::cleanup()
{
    frmDir::setBeforeExecHook(nullptr);
    QAccessible::installUpdateHandler(nullptr);
    m_window.reset();
    setProgramDirOverride(QString());
    m_dir.reset();
}

void AccessibilityTest::watchChooser()
{
    frmDir::setBeforeExecHook([this](frmDir& dlg) {
        m_choosers.append(dlg.File1()->pattern());
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.cmdStorno()->click(); });
    });
}

QString AccessibilityTest::writeHelpFile()
{
    using namespace HelpWriter;
    HelpContent content;
    content.title = QStringLiteral("Nápověda");
    content.topics = {
        Topic{QStringLiteral("Propojení"),
              {Paragraph{{Span{QStringLiteral("Viz "), 0, 0, 0},
                          Span{QStringLiteral("výběr složky"), 0, 0xE3, HelpFile::contextHash("VYBER")}}}}},
        Topic{QStringLiteral("Výběr složky"), {Paragraph{{Span{QStringLiteral("Složka."), 0, 0, 0}}}}}};
    content.contextMap = {{805, 0}};
    content.contextIds = {{"VYBER", 1}};
    const QString path = m_dir->filePath(QStringLiteral("ZUL.hlp"));
    writeBytes(path, build(content));
    return path;
}

void AccessibilityTest::everyControlOfEveryWindowHasAName_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window") << QStringLiteral("frmMain");
    QTest::newRow("main window during a run") << QStringLiteral("frmMain running");
    QTest::newRow("folder chooser") << QStringLiteral("frmDir");
    QTest::newRow("help window") << QStringLiteral("help");
}

void AccessibilityTest::everyControlOfEveryWindowHasAName()
{
    QFETCH(QString, window);
    std::unique_ptr<frmDir> chooser;
    std::unique_ptr<HelpWindowViewer> help;
    QWidget* root = nullptr;
    if (window.startsWith(QLatin1String("frmMain"))) {
        root = m_window.get();
        m_window->setDataPathText(m_dir->filePath(QStringLiteral("ZUL_data.accdb")));
        if (window.endsWith(QLatin1String("running"))) {
            // The status panel and the bar as a run shows them, captions empty at its start.
            m_window->setDbCaption(QString());
            m_window->setTableCaption(QString());
            m_window->setStatusPanelVisible(true);
            m_window->setProgressVisible(true);
        }
    } else if (window == QLatin1String("frmDir")) {
        gFilePattern = QStringLiteral("ZUL.accdr");
        chooser = std::make_unique<frmDir>(m_desktop, m_window.get());
        root = chooser.get();
    } else {
        help = std::make_unique<HelpWindowViewer>(m_window.get(), m_desktop);
        help->showHelpTopic(writeHelpFile(), 805);
        QVERIFY(help->window());
        // Each page once, so that its controls exist.
        help->showIndex();
        help->showContents();
        root = help->window();
    }
    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root));

    QStringList unnamed;
    int controls = 0;
    collectUnnamed(QAccessible::queryAccessibleInterface(root), unnamed, controls);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    QVERIFY(controls >= 5);
}

void AccessibilityTest::namesComeFromTheLabelsAndNotFromTheContents_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("name");
    QTest::newRow("program path") << QStringLiteral("Text1") << QStringLiteral("Cesta k programu ZUL.ACCDR");
    QTest::newRow("data path") << QStringLiteral("cboDB") << QStringLiteral("Cesta k databázi ZUL_data.ACCDB");
    QTest::newRow("browse for the program")
        << QStringLiteral("btnBrowse0") << QStringLiteral("Procházet – program ZUL.ACCDR");
    QTest::newRow("browse for the data") << QStringLiteral("btnBrowse1")
                                         << QStringLiteral("Procházet – databáze ZUL_data.ACCDB");
    QTest::newRow("progress") << QStringLiteral("ProgressBar1") << QStringLiteral("Průběh propojování");
    QTest::newRow("link button") << QStringLiteral("btnPropoj") << QStringLiteral("Propojit");
    QTest::newRow("chooser drives") << QStringLiteral("Drive1") << QStringLiteral("Jednotka");
    QTest::newRow("chooser folders") << QStringLiteral("Dir1") << QStringLiteral("Složky");
    QTest::newRow("chooser files") << QStringLiteral("File1") << QStringLiteral("Nalezené soubory");
}

void AccessibilityTest::namesComeFromTheLabelsAndNotFromTheContents()
{
    QFETCH(QString, object);
    QFETCH(QString, name);
    // Contents that a name taken from the contents would repeat.
    const QString path = m_dir->filePath(QStringLiteral("ZUL_data.accdb"));
    m_window->setProgramPathText(path);
    m_window->setDataPathText(path);
    gFilePattern = QStringLiteral("ZUL.accdr");
    frmDir chooser(m_desktop, m_window.get());
    QWidget* widget = m_window->findChild<QWidget*>(object);
    if (!widget)
        widget = chooser.findChild<QWidget*>(object);
    QVERIFY(widget);
    QCOMPARE(nameOf(widget), name);
    QVERIFY(!QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description).isEmpty());
    // The boxes with a label are its buddies, so the label's relation points at them.
    if (object == QLatin1String("Text1"))
        QCOMPARE(control<QLabel>("Label1")->buddy(), widget);
    if (object == QLatin1String("cboDB"))
        QCOMPARE(control<QLabel>("Label2")->buddy(), widget);
}

void AccessibilityTest::helpButtonHasANameAndATip()
{
    auto* help = control<QPushButton>("btnHelp");
    QCOMPARE(nameOf(help), QStringLiteral("Nápověda"));
    QCOMPARE(help->toolTip(), QStringLiteral("Nápověda (F1)"));
    // The browse buttons keep the design's tip and no tab stop.
    for (const char* name : {"btnBrowse0", "btnBrowse1"}) {
        QCOMPARE(control<QPushButton>(name)->toolTip(), QStringLiteral("Procházet..."));
        QCOMPARE(control<QPushButton>(name)->focusPolicy(), Qt::ClickFocus);
    }
}

// A relink run over a data file of two tables: the bar's accessible value
// follows the run and each change is announced.
void AccessibilityTest::runProgressIsTheBarsAccessibleValue()
{
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("INI")));
    const QString data = m_dir->filePath(QStringLiteral("ZUL_data.accdb"));
    const QString program = m_dir->filePath(QStringLiteral("ZUL.accdr"));
    {
        auto db = DbEngine().CreateDatabase(data, dao::dbLangCzech);
        db->Execute(QStringLiteral("create table Osoby (ID integer)"));
        db->Execute(QStringLiteral("create table Obce (Nazev text(40))"));
        db->Close();
        DbEngine().CreateDatabase(program, dao::dbLangCzech)->Close();
    }
    CreateListFile(m_desktop);
    m_window->setProgramPathText(program);
    m_window->setDataPathText(data);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    // What a screen reader would read from the bar each time the window catches up.
    auto* bar = control<QProgressBar>("ProgressBar1");
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(bar);
    QStringList announced;
    QAccessibleValueInterface* value = face->valueInterface();
    QVERIFY(value);
    m_desktop.onEvent = [&](const QString& event) {
        const QString value = QStringLiteral("%1 z %2")
                                  .arg(face->valueInterface()->currentValue().toInt())
                                  .arg(face->valueInterface()->maximumValue().toInt());
        if (event == QLatin1String("doevents") && bar->isVisible() && announced.value(announced.size() - 1) != value)
            announced.append(value);
    };
    m_window->btnPropoj_Click();
    m_desktop.onEvent = nullptr;

    QVERIFY(!m_window->lastRelinkReport().failed);
    const int tables = int(m_window->lastRelinkReport().tables.size());
    QVERIFY(tables > 2);                             // system tables are counted too
    QStringList expected{QStringLiteral("0 z 100")}; // shown before the count is known
    for (int step = 1; step <= tables; ++step)
        expected.append(QStringLiteral("%1 z %2").arg(step).arg(tables));
    QCOMPARE(announced, expected);
    QCOMPARE(value->currentValue().toInt(), tables);
    QCOMPARE(value->minimumValue().toInt(), 0);
    QVERIFY(!bar->isTextVisible());
}

void AccessibilityTest::keysOpenTheChooserOfTheirBox_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("chooser"); // the file it looks for; empty: none opens
    QTest::addColumn<bool>("listOpens");  // the combo box's own list
    const int ctrl = int(Qt::ControlModifier);
    QTest::newRow("Ctrl+O on the program path") << "Text1" << int(Qt::Key_O) << ctrl << "ZUL.accdr" << false;
    QTest::newRow("Ctrl+O on the data path") << "cboDB" << int(Qt::Key_O) << ctrl << "ZUL_data.accdb" << false;
    QTest::newRow("F4 on the data path") << "cboDB" << int(Qt::Key_F4) << 0 << "" << true;
    QTest::newRow("Alt+Down on the data path") << "cboDB" << int(Qt::Key_Down) << int(Qt::AltModifier) << "" << true;
    QTest::newRow("Ctrl+O on a button") << "btnStorno" << int(Qt::Key_O) << ctrl << "" << false;
    QTest::newRow("O alone on the program path") << "Text1" << int(Qt::Key_O) << 0 << "" << false;
}

void AccessibilityTest::keysOpenTheChooserOfTheirBox()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, chooser);
    QFETCH(bool, listOpens);
    auto* combo = control<QComboBox>("cboDB");
    combo->addItem(m_dir->filePath(QStringLiteral("jina.accdb")));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    watchChooser();
    QWidget* target = m_window->findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);

    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(m_choosers, chooser.isEmpty() ? QStringList() : QStringList{chooser});
    if (listOpens)
        QTRY_VERIFY(combo->view()->isVisible());
    else
        QVERIFY(!combo->view()->isVisible());
    combo->hidePopup();
    // The tab order is the design's: the browse buttons still take no focus.
    QCOMPARE(control<QPushButton>("btnBrowse0")->focusPolicy(), Qt::ClickFocus);
}

void AccessibilityTest::contextMenuOfEachBoxOpensItsChooser_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("chooser");
    QTest::newRow("program path") << 0 << QStringLiteral("ZUL.accdr");
    QTest::newRow("data path") << 1 << QStringLiteral("ZUL_data.accdb");
}

void AccessibilityTest::contextMenuOfEachBoxOpensItsChooser()
{
    QFETCH(int, box);
    QFETCH(QString, chooser);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    watchChooser();
    std::unique_ptr<QMenu> menu(m_window->boxContextMenu(box));
    QAction* browse = menu->findChild<QAction*>(QStringLiteral("browseAction"));
    QVERIFY(browse);
    // Its access key is not that of an edit command (&Paste, &Copy, ...).
    QCOMPARE(browse->text(), QStringLiteral("Pr&ocházet..."));
    for (const QAction* action : menu->actions())
        QVERIFY2(action == browse || !action->text().contains(QStringLiteral("&o"), Qt::CaseInsensitive),
                 qPrintable(action->text()));
    QCOMPARE(browse->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    // The edit commands of the box stay in the menu.
    QVERIFY(menu->actions().size() > 3);
    QVERIFY(browse->isEnabled());
    browse->trigger();
    QTRY_COMPARE(m_choosers, QStringList{chooser});

    // During a run the browse buttons are off, and so is the entry.
    m_window->setRunInProgress(true);
    std::unique_ptr<QMenu> during(m_window->boxContextMenu(box));
    QVERIFY(!during->findChild<QAction*>(QStringLiteral("browseAction"))->isEnabled());
    m_window->setRunInProgress(false);
}

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
