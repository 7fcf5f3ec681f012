#include "frmDir.h"

#include "Globals.h"
#include "RunTimeError.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// Drives that are plain folders of the test tree; "/" stays a drive so the
// current folder has one.
class FakeVolumes : public VolumeSource {
public:
    QList<DriveVolume> list;
    QList<DriveVolume> volumes() const override { return list; }
    QString driveOf(const QString& path) const override
    {
        QString best;
        for (const DriveVolume& v : list) {
            const QString prefix = v.root == QLatin1String("/") ? v.root : v.root + QLatin1Char('/');
            if ((path == v.root || path.startsWith(prefix)) && v.root.size() > best.size())
                best = v.root;
        }
        return best;
    }
};

// Restores the process's current folder when a test moved it.
class CurrentFolderGuard {
public:
    CurrentFolderGuard() : m_saved(QDir::currentPath()) {}
    ~CurrentFolderGuard() { QDir::setCurrent(m_saved); }

private:
    QString m_saved;
};

} // namespace

class TestFrmDir : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void layoutAndTabOrder();
    void opensCentredOverItsOwner();
    void okFollowsTheWantedFile_data();
    void okFollowsTheWantedFile();
    void wildcardPatternListsOrdinaryFiles();
    void loadOpensAtTheCurrentFolder();
    void loadWithoutCurrentFolderReportsAndStaysUsable();
    void singleClickHighlightsDoubleClickOpens();
    void enterOpensHighlightedEntryThenConfirms();
    void enterWithoutWantedFileConfirmsNothing();
    void cancelLeavesNoFolder_data();
    void cancelLeavesNoFolder();
    void folderPathsHaveNoClosingSeparatorExceptRoot();
    void okAfterTheFileVanishedKeepsTheWindowOpen();
    void openingAVanishedFolderKeepsTheList();
    void drivesFollowTheFolderAndRefuseUnreadableOnes();
    void presetDriveKeepsThePresetFolder();
    void folderListShowsOneTextLinePerRow();

private:
    RecordingDesktop m_desktop;
    QTemporaryDir m_tree;
    QString m_with;    // holds ZUL.accdr
    QString m_without; // holds other files only
};

void TestFrmDir::init()
{
    resetGlobals();
    gFilePattern = QStringLiteral("ZUL.accdr");
    m_desktop.clear();
    QVERIFY(m_tree.isValid());
    const QString root = m_tree.path();
    m_with = root + QStringLiteral("/with");
    m_without = root + QStringLiteral("/without");
    QDir().mkpath(m_with + QStringLiteral("/inner"));
    QDir().mkpath(m_without + QStringLiteral("/Sub B"));
    QDir().mkpath(m_without + QStringLiteral("/sub a"));
    QVERIFY(writeBytes(m_with + QStringLiteral("/ZUL.accdr"), {}));
    QVERIFY(writeBytes(m_without + QStringLiteral("/ZUL.acc"), {}));
    QVERIFY(writeBytes(m_without + QStringLiteral("/ZUL.accdr.bak"), {}));
}

void TestFrmDir::cleanup()
{
    DriveListBox::setVolumeSource(nullptr);
    QDir(m_tree.path()).removeRecursively();
    QDir().mkpath(m_tree.path());
}

void TestFrmDir::layoutAndTabOrder()
{
    frmDir dlg(m_desktop);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Výběr složky"));
    QCOMPARE(dlg.size(), QSize(352, 315));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.Drive1()->geometry(), QRect(7, 5, 205, 19));
    QCOMPARE(dlg.Dir1()->geometry(), QRect(7, 29, 205, 210));
    QCOMPARE(dlg.File1()->geometry(), QRect(221, 29, 123, 216));
    QCOMPARE(dlg.cmdOK()->geometry(), QRect(16, 272, 80, 29));
    QCOMPARE(dlg.cmdStorno()->geometry(), QRect(118, 272, 80, 29));
    QCOMPARE(dlg.cmdOK()->text(), QStringLiteral("&OK"));
    QCOMPARE(dlg.cmdStorno()->text(), QStringLiteral("&Storno"));
    QVERIFY(dlg.cmdOK()->font().bold());
    QCOMPARE(dlg.Dir1()->font().family(), QStringLiteral("Arial"));
    QCOMPARE(dlg.Dir1()->font().pointSize(), 9);
    QCOMPARE(dlg.findChild<QWidget*>(QStringLiteral("Dir1")), dlg.Dir1());

    // Dir1 takes the focus first; Tab walks OK, Storno, File1, Drive1.
    dlg.Dir1()->setPath(m_with);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Dir1()));
    const QList<QWidget*> order = {dlg.cmdOK(), dlg.cmdStorno(), dlg.File1(), dlg.Drive1(), dlg.Dir1()};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }
}

void TestFrmDir::opensCentredOverItsOwner()
{
    QWidget owner;
    owner.setGeometry(120, 90, 640, 420);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    frmDir dlg(m_desktop, &owner);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QPoint offset = dlg.frameGeometry().center() - owner.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("off by %1,%2").arg(offset.x()).arg(offset.y())));
    QVERIFY(dlg.isModal());
}

void TestFrmDir::okFollowsTheWantedFile_data()
{
    QTest::addColumn<QString>("entry");      // what lies in the folder under the wanted name
    QTest::addColumn<QStringList>("listed"); // File1, the offered name first
    const QStringList wanted{QStringLiteral("ZUL.accdr")};
    QTest::newRow("ordinary file") << QStringLiteral("file") << wanted;
    QTest::newRow("link to a file") << QStringLiteral("link") << wanted;
    QTest::newRow("nothing") << QString() << QStringList();
    QTest::newRow("folder of that name") << QStringLiteral("folder") << QStringList();
    QTest::newRow("dangling link") << QStringLiteral("dangling") << QStringList();
    // Names from a platform that ignores case are offered under their own name.
    QTest::newRow("other letter case only") << QStringLiteral("case") << QStringList{QStringLiteral("zul.ACCDR")};
    QTest::newRow("folder in other letter case") << QStringLiteral("case folder") << QStringList();
    QTest::newRow("both spellings") << QStringLiteral("both")
                                    << QStringList{QStringLiteral("ZUL.accdr"), QStringLiteral("zul.ACCDR")};
}

void TestFrmDir::okFollowsTheWantedFile()
{
    QFETCH(QString, entry);
    QFETCH(QStringList, listed);
    const bool found = !listed.isEmpty();
    const QString folder = m_tree.path() + QStringLiteral("/case");
    QDir().mkpath(folder);
    const QString wanted = folder + QStringLiteral("/ZUL.accdr");
    if (entry == QLatin1String("file"))
        QVERIFY(writeBytes(wanted, {}));
    else if (entry == QLatin1String("link"))
        QVERIFY(QFile::link(m_with + QStringLiteral("/ZUL.accdr"), wanted));
    else if (entry == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(wanted));
    else if (entry == QLatin1String("dangling"))
        QVERIFY(QFile::link(folder + QStringLiteral("/gone"), wanted));
    else if (entry == QLatin1String("case"))
        QVERIFY(writeBytes(folder + QStringLiteral("/zul.ACCDR"), {}));
    else if (entry == QLatin1String("case folder"))
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/zul.ACCDR")));
    else if (entry == QLatin1String("both")) {
        QVERIFY(writeBytes(folder + QStringLiteral("/zul.ACCDR"), {}));
        QVERIFY(writeBytes(wanted, {}));
    }

    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(folder);
    QCOMPARE(dlg.File1()->names(), listed);
    QCOMPARE(dlg.File1()->offeredName(), listed.value(0));
    QCOMPARE(dlg.cmdOK()->isEnabled(), found);
    QCOMPARE(dlg.cmdOK()->isDefault(), found);
    if (found) {
        // OK answers with the folder and the file's real name.
        dlg.cmdOK()->click();
        QCOMPARE(gChosenFolder, folder);
        QCOMPARE(dlg.chosenFileName(), listed.value(0));
        dlg.Dir1()->setPath(folder);
    }

    // Moving to a folder without it turns OK off again.
    dlg.Dir1()->setPath(m_without);
    QVERIFY(dlg.File1()->names().isEmpty());
    QVERIFY(!dlg.cmdOK()->isEnabled());
    QVERIFY(!dlg.cmdOK()->isDefault());
    QVERIFY(m_desktop.events.isEmpty());
}

void TestFrmDir::wildcardPatternListsOrdinaryFiles()
{
    QVERIFY(writeBytes(m_without + QStringLiteral("/b.accdb"), {}));
    QVERIFY(writeBytes(m_without + QStringLiteral("/A.accdb"), {}));
    QVERIFY(writeBytes(m_without + QStringLiteral("/.hidden.accdb"), {}));
    QDir().mkpath(m_without + QStringLiteral("/dir.accdb"));
    gFilePattern = QStringLiteral("*.accdb");
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_without);
    QCOMPARE(dlg.File1()->names(), (QStringList{QStringLiteral("A.accdb"), QStringLiteral("b.accdb")}));
    QVERIFY(dlg.cmdOK()->isEnabled());
    // A pattern matches without regard to case as well.
    QVERIFY(writeBytes(m_without + QStringLiteral("/C.ACCDB"), {}));
    dlg.File1()->refresh();
    QCOMPARE(dlg.File1()->names(),
             (QStringList{QStringLiteral("A.accdb"), QStringLiteral("b.accdb"), QStringLiteral("C.ACCDB")}));
}

void TestFrmDir::loadOpensAtTheCurrentFolder()
{
    CurrentFolderGuard guard;
    QVERIFY(QDir::setCurrent(m_with));
    frmDir dlg(m_desktop);
    QCOMPARE(dlg.File1()->pattern(), QStringLiteral("ZUL.accdr"));
    QCOMPARE(dlg.Dir1()->path(), m_with);
    QCOMPARE(dlg.File1()->names(), QStringList{QStringLiteral("ZUL.accdr")});
    QVERIFY(dlg.cmdOK()->isEnabled());
    // The drive shown is a listed one that holds the folder.
    const QString drive = dlg.Drive1()->drive();
    QVERIFY(dlg.Drive1()->drives().contains(drive));
    QVERIFY2(drive == QLatin1String("/") || m_with.startsWith(drive + QLatin1Char('/')), qPrintable(drive));
    QVERIFY(m_desktop.events.isEmpty());
}

void TestFrmDir::loadWithoutCurrentFolderReportsAndStaysUsable()
{
    CurrentFolderGuard guard;
    const QString gone = m_tree.path() + QStringLiteral("/gone");
    QDir().mkpath(gone);
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir().rmdir(gone));

    frmDir dlg(m_desktop);
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("box -|DIVadedadi|Aktuální složka neexistuje.")});
    QCOMPARE(dlg.File1()->pattern(), QStringLiteral("ZUL.accdr"));
    QVERIFY(dlg.Dir1()->path().isEmpty());
    QVERIFY(!dlg.cmdOK()->isEnabled());
    // Still usable: a folder set afterwards lists the file.
    dlg.Dir1()->setPath(m_with);
    QVERIFY(dlg.cmdOK()->isEnabled());
}

void TestFrmDir::singleClickHighlightsDoubleClickOpens()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_tree.path());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    DirListBox* dir = dlg.Dir1();

    const int row = static_cast<int>(dir->entryPaths().indexOf(m_with));
    QVERIFY(row > 0);
    const QPoint centre = dir->visualItemRect(dir->item(row)).center();
    QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(dir->highlightedPath(), m_with);
    QCOMPARE(dir->path(), m_tree.path());
    QVERIFY(dlg.File1()->names().isEmpty());
    QVERIFY(!dlg.cmdOK()->isEnabled());

    QTest::mouseDClick(dir->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(dir->path(), m_with);
    QCOMPARE(dlg.File1()->names(), QStringList{QStringLiteral("ZUL.accdr")});
    QVERIFY(dlg.cmdOK()->isEnabled());
    // The parents stand above the folder, its subfolders below.
    const QStringList entries = dir->entryPaths();
    QCOMPARE(entries.first(), QStringLiteral("/"));
    QCOMPARE(entries.last(), m_with + QStringLiteral("/inner"));
    QCOMPARE(entries.at(entries.size() - 2), m_with);
    QCOMPARE(dir->highlightedPath(), m_with);
}

void TestFrmDir::enterOpensHighlightedEntryThenConfirms()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_tree.path());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QVERIFY(dlg.Dir1()->highlight(m_with));
    QTest::keyClick(dlg.Dir1(), Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.Dir1()->path(), m_with);
    QVERIFY(dlg.cmdOK()->isEnabled());

    // Enter on the current folder itself presses the default button, OK.
    QTest::keyClick(dlg.Dir1(), Qt::Key_Return);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(gChosenFolder, m_with);
    QVERIFY(m_desktop.events.isEmpty());
}

void TestFrmDir::enterWithoutWantedFileConfirmsNothing()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_without);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(dlg.Dir1(), Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QVERIFY(gChosenFolder.isEmpty());
    QCOMPARE(dlg.Dir1()->path(), m_without);
}

void TestFrmDir::cancelLeavesNoFolder_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("before"); // gChosenFolder when the window closes
    QTest::newRow("Storno") << QStringLiteral("storno") << QStringLiteral("/stale");
    QTest::newRow("Escape") << QStringLiteral("escape") << QStringLiteral("/stale");
    QTest::newRow("frame close") << QStringLiteral("close") << QString();
}

void TestFrmDir::cancelLeavesNoFolder()
{
    QFETCH(QString, how);
    QFETCH(QString, before);
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_with);
    QVERIFY(dlg.cmdOK()->isEnabled());
    gChosenFolder = before;
    QTimer::singleShot(0, &dlg, [&] {
        if (how == QLatin1String("storno"))
            dlg.cmdStorno()->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dlg.Dir1(), Qt::Key_Escape);
        else
            dlg.close();
    });
    dlg.showModal();
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(gChosenFolder, QString());
    QVERIFY(m_desktop.events.isEmpty());
}

void TestFrmDir::folderPathsHaveNoClosingSeparatorExceptRoot()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_with + QStringLiteral("/"));
    QCOMPARE(dlg.Dir1()->path(), m_with);
    dlg.Dir1()->setPath(m_with + QStringLiteral("/inner/../"));
    QCOMPARE(dlg.Dir1()->path(), m_with);
    dlg.cmdOK()->click();
    QCOMPARE(gChosenFolder, m_with);

    dlg.Dir1()->setPath(QStringLiteral("//"));
    QCOMPARE(dlg.Dir1()->path(), QStringLiteral("/"));
    QCOMPARE(dlg.Dir1()->entryPaths().first(), QStringLiteral("/"));
    QCOMPARE(dlg.Dir1()->highlightedPath(), QStringLiteral("/"));
    QCOMPARE(dlg.Dir1()->entryPaths().count(QStringLiteral("/tmp")), 1);
}

void TestFrmDir::okAfterTheFileVanishedKeepsTheWindowOpen()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_with);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.cmdOK()->isEnabled());
    QVERIFY(QFile::remove(m_with + QStringLiteral("/ZUL.accdr")));

    dlg.cmdOK()->click();
    QCOMPARE(m_desktop.events,
             QStringList{QStringLiteral("box -|DIVadedadi|Ve složce %1 už soubor ZUL.accdr není.").arg(m_with)});
    QVERIFY(dlg.isVisible());
    QVERIFY(gChosenFolder.isEmpty());
    QVERIFY(!dlg.cmdOK()->isEnabled());
}

void TestFrmDir::openingAVanishedFolderKeepsTheList()
{
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_without);
    const QString sub = m_without + QStringLiteral("/sub a");
    QCOMPARE(dlg.Dir1()->entryPaths().mid(dlg.Dir1()->entryPaths().size() - 2),
             (QStringList{sub, m_without + QStringLiteral("/Sub B")}));
    QVERIFY(dlg.Dir1()->highlight(sub));
    QVERIFY(QDir().rmdir(sub));
    dlg.Dir1()->openHighlighted();
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("box -|DIVadedadi|Složka %1 neexistuje.").arg(sub)});
    QCOMPARE(dlg.Dir1()->path(), m_without);
    QVERIFY(dlg.Dir1()->entryPaths().contains(sub)); // the list shows what it showed
}

void TestFrmDir::drivesFollowTheFolderAndRefuseUnreadableOnes()
{
    const QString a = m_tree.path() + QStringLiteral("/driveA");
    const QString b = m_tree.path() + QStringLiteral("/driveB"); // mounted but its root cannot be read
    const QString c = m_tree.path() + QStringLiteral("/driveC"); // not ready
    QDir().mkpath(a + QStringLiteral("/deep"));
    QDir().mkpath(c);
    QVERIFY(writeBytes(a + QStringLiteral("/ZUL.accdr"), {}));
    FakeVolumes volumes;
    volumes.list = {{QStringLiteral("/"), QString(), true},
                    {a, QStringLiteral("DATA"), true},
                    {b, QString(), true},
                    {c, QString(), false}};
    DriveListBox::setVolumeSource(&volumes);

    frmDir dlg(m_desktop);
    DriveListBox* drive = dlg.Drive1();
    QCOMPARE(drive->drives(), (QStringList{QStringLiteral("/"), a, b}));
    QCOMPARE(drive->itemText(1), a + QStringLiteral(" [DATA]"));

    // Choosing drive A moves the folder list to its current folder, the root here.
    emit drive->activated(1);
    QCOMPARE(dlg.Dir1()->path(), a);
    QVERIFY(dlg.cmdOK()->isEnabled());

    // Drive B cannot be read: the window says so and stays on drive A.
    dlg.Dir1()->setPath(a + QStringLiteral("/deep"));
    QVERIFY(!dlg.cmdOK()->isEnabled());
    drive->setCurrentIndex(2);
    emit drive->activated(2);
    QCOMPARE(m_desktop.events, QStringList{QStringLiteral("box -|DIVadedadi|Jednotku %1 nelze přečíst.").arg(b)});
    QCOMPARE(dlg.Dir1()->path(), a + QStringLiteral("/deep"));
    QCOMPARE(drive->drive(), a);
    QCOMPARE(drive->currentIndex(), 1);
    QVERIFY(!dlg.cmdOK()->isEnabled());

    // A drive that is not ready is refused when set by the program.
    QCOMPARE(errorOf([&] { dlg.setDrive(c); }), QStringLiteral("68|Jednotku %1 nelze přečíst.").arg(c));
    QCOMPARE(drive->drive(), a);

    // Back on "/" the list goes to the current folder, which lies on that drive.
    emit drive->activated(0);
    QCOMPARE(dlg.Dir1()->path(), QDir::currentPath());
}

void TestFrmDir::presetDriveKeepsThePresetFolder()
{
    const QString a = m_tree.path() + QStringLiteral("/driveA");
    QDir().mkpath(a + QStringLiteral("/start"));
    QVERIFY(writeBytes(a + QStringLiteral("/start/ZUL.accdr"), {}));
    FakeVolumes volumes;
    volumes.list = {{QStringLiteral("/"), QString(), true}, {a, QString(), true}};
    DriveListBox::setVolumeSource(&volumes);

    frmDir dlg(m_desktop);
    QCOMPARE(dlg.Drive1()->drive(), QStringLiteral("/"));
    dlg.Dir1()->setPath(a + QStringLiteral("/start"));
    dlg.setDrive(a + QStringLiteral("/start"));
    QCOMPARE(dlg.Dir1()->path(), a + QStringLiteral("/start"));
    QCOMPARE(dlg.Drive1()->drive(), a);
    QVERIFY(dlg.cmdOK()->isEnabled());
    QVERIFY(m_desktop.events.isEmpty());
}

void TestFrmDir::folderListShowsOneTextLinePerRow()
{
    for (int i = 0; i < 20; ++i)
        QDir().mkpath(m_without + QStringLiteral("/slozka %1").arg(i));
    frmDir dlg(m_desktop);
    dlg.Dir1()->setPath(m_without);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QRect viewport = dlg.Dir1()->viewport()->rect();
    int whole = 0;
    for (int row = 0; row < dlg.Dir1()->count(); ++row)
        whole += viewport.contains(dlg.Dir1()->visualItemRect(dlg.Dir1()->item(row))) ? 1 : 0;
    QVERIFY2(whole >= 12, qPrintable(QString::number(whole)));
    QVERIFY(!dlg.Dir1()->horizontalScrollBar()->isVisible());
    QVERIFY(!dlg.File1()->horizontalScrollBar()->isVisible());
}

QTEST_MAIN(TestFrmDir)
#include "FrmDirTest.moc"
