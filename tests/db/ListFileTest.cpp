#include "ListFile.h"
#include "RecordingCombo.h"
#include "TestSupport.h"

#include "DBEngine.h"
#include "Globals.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString show(const QVariant& value)
{
    return value.isNull() ? QStringLiteral("<null>") : value.toString();
}

class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        resetGlobals();
        QDir(m_dir.path()).mkpath(QStringLiteral("INI"));
        gIniPath = m_dir.filePath(QStringLiteral("INI/ZUL.ini"));
        gListDbPath = m_dir.filePath(QStringLiteral("ZUL_db.accdb"));
    }
    void TearDown() override { resetGlobals(); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void makeFile(const QString& filePath, const QByteArray& content = QByteArray("x"))
    {
        QFile file(filePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void writeLastDb(const QString& value)
    {
        QFile file(gIniPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[DIVadedadi]\r\nLastDB=") + value.toLocal8Bit() + QByteArray("\r\n"));
    }

    // Every row as "Cesta|NovaDB|Jmeno", in the file's order of Cesta (rows
    // without a path first).
    QStringList rows() const
    {
        QStringList result;
        std::unique_ptr<Database> db = DbEngine().OpenDatabase(gListDbPath);
        std::unique_ptr<Recordset> records =
            db->OpenRecordset(QStringLiteral("select * from Databaze order by Databaze.Cesta"));
        while (!records->EOF()) {
            result.append(show(records->value(QStringLiteral("Cesta"))) + QLatin1Char('|') +
                          show(records->value(QStringLiteral("NovaDB"))) + QLatin1Char('|') +
                          show(records->value(QStringLiteral("Jmeno"))));
            records->MoveNext();
        }
        records->Close();
        db->Close();
        return result;
    }

    int doEventsCount() const { return int(m_desktop.events.count(QStringLiteral("doevents"))); }

    QTemporaryDir m_dir;
    RecordingDesktop m_desktop;
};

// A list file created by CreateListFile with the given paths added.
class FilledListTest : public ListFileTest {
protected:
    void SetUp() override
    {
        ListFileTest::SetUp();
        CreateListFile(m_desktop);
        ASSERT_TRUE(m_desktop.events.isEmpty()) << m_desktop.events.join(QLatin1Char('\n')).toStdString();
    }
    void add(const QStringList& paths)
    {
        for (const QString& p : paths)
            AddListPath(m_desktop, p);
    }
};

} // namespace

TEST_F(ListFileTest, createdFileHoldsTheEmptyTableWithItsFieldsAndIndexes)
{
    CreateListFile(m_desktop);
    EXPECT_TRUE(m_desktop.events.isEmpty());
    ASSERT_TRUE(QFile::exists(gListDbPath));

    std::unique_ptr<Database> db = DbEngine().OpenDatabase(gListDbPath);
    std::shared_ptr<TableDef> table = db->TableDefs().Item(QStringLiteral("Databaze"));
    EXPECT_EQ(table->Attributes() & dao::dbSkipMask, 0);

    QStringList fields;
    for (const auto& f : table->fields())
        fields.append(QStringLiteral("%1 %2 %3 %4").arg(f->Name).arg(f->Type).arg(f->Size).arg(f->AllowZeroLength));
    EXPECT_EQ(fields, QStringList({QStringLiteral("Jmeno 10 50 1"), QStringLiteral("Cesta 10 255 1"),
                                   QStringLiteral("NovaDB 1 0 0")}));

    QStringList indexes;
    for (const auto& i : table->indexes())
        indexes.append(QStringLiteral("%1 %2 %3 %4")
                           .arg(i->Name, i->Fields.join(QLatin1Char(',')))
                           .arg(i->Unique)
                           .arg(i->Primary));
    EXPECT_EQ(indexes, QStringList({QStringLiteral("Cesta Cesta 1 0"), QStringLiteral("NovaDB NovaDB 0 0")}));
    db->Close();

    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(ListFileTest, creatingOverAnExistingFileShowsTheErrorAndLeavesTheFile)
{
    makeFile(gListDbPath, QByteArray("keep me"));
    CreateListFile(m_desktop);
    EXPECT_EQ(m_desktop.boxes(),
              QStringList({QStringLiteral("box !|Vindo-ZUL|3204  Databáze '%1' již existuje.").arg(gListDbPath)}));
    EXPECT_EQ(m_desktop.events.mid(0, 2), QStringList({QStringLiteral("pointer default"), QStringLiteral("beep")}));
    EXPECT_EQ(fileBytes(gListDbPath), QByteArray("keep me"));
}

TEST_F(FilledListTest, addingAPathTwiceStoresOneRowMarkedNew)
{
    add({QStringLiteral("/data/ZUL_data.accdb"), QStringLiteral("/data/ZUL_data.accdb")});
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(), QStringList({QStringLiteral("/data/ZUL_data.accdb|true|<null>")}));
}

TEST_F(FilledListTest, pathsDifferingOnlyInCaseAreOneRow)
{
    add({QStringLiteral("/A.accdb"), QStringLiteral("/a.accdb")});
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(), QStringList({QStringLiteral("/A.accdb|true|<null>")}));

    DeleteListPath(m_desktop, QStringLiteral("/a.accdb"));
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_TRUE(rows().isEmpty());
}

TEST_F(FilledListTest, pathWithApostropheIsMatchedStoredAndDeletedExactly)
{
    const QString tricky = QStringLiteral("/data/O'Brien' or ''='.accdb");
    add({QStringLiteral("/data/O"), tricky, tricky, QStringLiteral("/data/O'Brien.accdb")});
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(),
              QStringList({QStringLiteral("/data/O|true|<null>"), QStringLiteral("/data/O'Brien.accdb|true|<null>"),
                           tricky + QStringLiteral("|true|<null>")}));

    DeleteListPath(m_desktop, tricky);
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(),
              QStringList({QStringLiteral("/data/O|true|<null>"), QStringLiteral("/data/O'Brien.accdb|true|<null>")}));
}

TEST_F(FilledListTest, deletingAMissingPathIsNoError)
{
    add({QStringLiteral("/x.accdb")});
    DeleteListPath(m_desktop, QStringLiteral("/y.accdb"));
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(), QStringList({QStringLiteral("/x.accdb|true|<null>")}));
}

TEST_F(FilledListTest, tooLongAPathIsRefusedAndNothingStored)
{
    const QString longest = QLatin1Char('/') + QString(254, QLatin1Char('a'));
    const QString tooLong = longest + QLatin1Char('b');
    ASSERT_EQ(tooLong.size(), 256);
    const QString refused = QStringLiteral("box !|Vindo-ZUL|3163  Pole 'Cesta' je příliš malé pro zadaná data "
                                           "(nejvýše 255 znaků).");

    AddListPath(m_desktop, tooLong);
    EXPECT_EQ(m_desktop.events, QStringList({QStringLiteral("pointer default"), QStringLiteral("beep"), refused}));
    EXPECT_TRUE(rows().isEmpty());

    // Filling an empty list does not try to store such a path (the add of the
    // run reports it) and still shows it.
    m_desktop.clear();
    RecordingCombo combo;
    FillDataFileList(m_desktop, combo, tooLong);
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(combo.text(), tooLong);
    EXPECT_TRUE(rows().isEmpty());

    // The handle was closed after the failure: the next operation works.
    AddListPath(m_desktop, longest);
    EXPECT_TRUE(m_desktop.events.isEmpty());
    EXPECT_EQ(rows(), QStringList({longest + QStringLiteral("|true|<null>")}));
}

// Neither an add nor the fill of an empty list with an empty text, or with
// none, stores anything.
TEST_F(FilledListTest, emptyTextIsNeverStored)
{
    add({QString(), QStringLiteral("")});
    EXPECT_TRUE(rows().isEmpty());

    for (const std::optional<QString>& current : {std::optional<QString>(QString()), std::optional<QString>()}) {
        RecordingCombo combo;
        FillDataFileList(m_desktop, combo, current);
        EXPECT_EQ(combo.calls, QStringList({QStringLiteral("clear")})) << current.has_value();
        EXPECT_EQ(combo.text(), QString());
        EXPECT_TRUE(combo.items.isEmpty());
        EXPECT_TRUE(rows().isEmpty());
        EXPECT_TRUE(m_desktop.events.isEmpty());
    }
}

TEST_F(FilledListTest, fillingAnEmptyListStoresTheGivenText)
{
    const QString other = path(QStringLiteral("other.accdb"));
    RecordingCombo second;
    DeleteListPath(m_desktop, QString());
    FillDataFileList(m_desktop, second, other);
    EXPECT_TRUE(m_desktop.boxes().isEmpty());
    EXPECT_EQ(second.calls,
              QStringList({QStringLiteral("clear"), QStringLiteral("add ") + other, QStringLiteral("text ") + other}));
    EXPECT_EQ(rows(), QStringList({other + QStringLiteral("|true|<null>")}));
}

TEST_F(FilledListTest, rowsWithoutAPathAreNeverListed)
{
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(gListDbPath);
    db->Execute(QStringLiteral("insert into Databaze (Jmeno, NovaDB) values (?, ?)"), {QStringLiteral("bez"), false});
    db->Close();

    // The table holds only a row without a path, so it counts as empty.
    RecordingCombo combo;
    FillDataFileList(m_desktop, combo, QStringLiteral("/p.accdb"));
    EXPECT_EQ(combo.items, QStringList({QStringLiteral("/p.accdb")}));
    EXPECT_EQ(rows(), QStringList({QStringLiteral("<null>|false|bez"), QStringLiteral("/p.accdb|true|<null>")}));
}

TEST_F(FilledListTest, listShowsEachPathOnceInCzechOrder)
{
    add({QStringLiteral("/data/chata"), QStringLiteral("/d"), QStringLiteral("/data/hora"), QStringLiteral("/č"),
         QStringLiteral("/c"), QStringLiteral("/d")});
    RecordingCombo combo;
    FillDataFileList(m_desktop, combo, QStringLiteral("/typed/by/user"));
    EXPECT_EQ(combo.items, QStringList({QStringLiteral("/c"), QStringLiteral("/č"), QStringLiteral("/d"),
                                        QStringLiteral("/data/hora"), QStringLiteral("/data/chata")}));
    // The text need not be one of the items; the list is not changed by it.
    EXPECT_EQ(combo.calls.last(), QStringLiteral("text /typed/by/user"));
    EXPECT_EQ(rows().size(), 5);
    // The window catches up once per item and nowhere else.
    EXPECT_EQ(m_desktop.events, QStringList(5, QStringLiteral("doevents")));
}

TEST_F(FilledListTest, afterADeletionTheBoxShowsLastDbOnlyWhenThatFileExists)
{
    const QString last = path(QStringLiteral("last.accdb"));
    const QString shown = path(QStringLiteral("shown.accdb"));
    makeFile(last);
    writeLastDb(last);
    add({last, shown});

    RecordingCombo combo;
    combo.setText(shown);
    DeleteListPath(m_desktop, combo.text());
    FillDataFileList(m_desktop, combo);
    EXPECT_EQ(combo.items, QStringList({last}));
    EXPECT_EQ(combo.text(), last);

    // The deleted path is gone even when it is LastDB; LastDB is still shown.
    DeleteListPath(m_desktop, last);
    FillDataFileList(m_desktop, combo);
    EXPECT_TRUE(combo.items.isEmpty());
    EXPECT_EQ(combo.text(), last);

    // A LastDB that no longer exists is never shown.
    QFile::remove(last);
    add({shown});
    combo.calls.clear();
    FillDataFileList(m_desktop, combo);
    EXPECT_EQ(combo.calls, QStringList({QStringLiteral("clear"), QStringLiteral("add ") + shown}));
    EXPECT_EQ(combo.text(), QString());
    EXPECT_TRUE(m_desktop.boxes().isEmpty());
}

TEST_F(FilledListTest, givenTextWinsOverLastDb)
{
    const QString last = path(QStringLiteral("last.accdb"));
    makeFile(last);
    writeLastDb(last);
    add({last});
    RecordingCombo combo;
    FillDataFileList(m_desktop, combo, QStringLiteral("/elsewhere.accdb"));
    EXPECT_EQ(combo.text(), QStringLiteral("/elsewhere.accdb"));
    // The given text is not stored when the list already has rows.
    EXPECT_EQ(rows(), QStringList({last + QStringLiteral("|true|<null>")}));
}

// A list file that is not a database, or a database without the table:
// every operation shows one error; the box keeps the path it was to show.
class BrokenListTest : public ListFileTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override
    {
        ListFileTest::SetUp();
        if (QByteArray(GetParam()) == "garbage") {
            makeFile(gListDbPath, QByteArray(4096, '\x5a'));
        } else {
            std::unique_ptr<Database> db = DbEngine().CreateDatabase(gListDbPath, dao::dbLangCzech, dao::dbVersion120);
            db->Close();
        }
    }
};

TEST_P(BrokenListTest, everyOperationShowsOneErrorAndTheBoxKeepsItsPath)
{
    const QString last = path(QStringLiteral("last.accdb"));
    makeFile(last);
    writeLastDb(last);

    AddListPath(m_desktop, QStringLiteral("/x.accdb"));
    EXPECT_EQ(m_desktop.boxes().size(), 1);
    DeleteListPath(m_desktop, QStringLiteral("/x.accdb"));
    EXPECT_EQ(m_desktop.boxes().size(), 2);

    RecordingCombo combo;
    combo.setText(QStringLiteral("/preset.accdb"));
    FillDataFileList(m_desktop, combo, QStringLiteral("/given.accdb"));
    EXPECT_EQ(m_desktop.boxes().size(), 3);
    EXPECT_EQ(combo.text(), QStringLiteral("/given.accdb"));
    EXPECT_TRUE(combo.items.isEmpty());
    // Without a given path (after Ctrl+Delete) the typed one stays.
    FillDataFileList(m_desktop, combo);
    EXPECT_EQ(combo.text(), QStringLiteral("/given.accdb"));

    const QString expected =
        QByteArray(GetParam()) == "garbage"
            ? QStringLiteral("box !|Vindo-ZUL|3343  Nerozpoznaný formát databáze '%1'.").arg(gListDbPath)
            : QStringLiteral("box !|Vindo-ZUL|3078  Databázový stroj nenašel vstupní tabulku "
                             "nebo dotaz 'Databaze'.");
    EXPECT_EQ(m_desktop.boxes(), QStringList(4, expected));
}

INSTANTIATE_TEST_SUITE_P(ListFile, BrokenListTest, ::testing::Values("garbage", "withoutTable"));

TEST_F(FilledListTest, operationsStartedWhileTheFillCatchesUpUseTheirOwnHandle)
{
    add({QStringLiteral("/a"), QStringLiteral("/b")});
    int calls = 0;
    m_desktop.onEvent = [&](const QString& event) {
        if (event == QStringLiteral("doevents") && calls++ == 0) {
            AddListPath(m_desktop, QStringLiteral("/c"));
            DeleteListPath(m_desktop, QStringLiteral("/b"));
        }
    };
    RecordingCombo combo;
    FillDataFileList(m_desktop, combo, QStringLiteral("/a"));
    EXPECT_TRUE(m_desktop.boxes().isEmpty()) << m_desktop.boxes().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(rows(), QStringList({QStringLiteral("/a|true|<null>"), QStringLiteral("/c|true|<null>")}));
}

// In a program folder others can write, a list file that is a link of
// another user is not changed through; a link of the running user is.
TEST_F(FilledListTest, linksOfOtherUsersInASharedFolderAreNotWrittenThrough)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant another user's link";
    struct Case {
        uid_t linkOwner;
        bool followed;
    };
    const QString target = path(QStringLiteral("real.accdb"));
    ASSERT_TRUE(QFile::rename(gListDbPath, target));
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 01777), 0);
    for (const Case c : {Case{65534, false}, Case{0, true}}) {
        SCOPED_TRACE(c.linkOwner);
        QFile::remove(gListDbPath);
        const QByteArray link = QFile::encodeName(gListDbPath);
        ASSERT_EQ(::symlink("real.accdb", link.constData()), 0);
        ASSERT_EQ(::lchown(link.constData(), c.linkOwner, c.linkOwner), 0);
        m_desktop.events.clear();
        const QString added = QStringLiteral("/data/%1.accdb").arg(c.linkOwner);
        AddListPath(m_desktop, added);
        EXPECT_EQ(rows().contains(added + QStringLiteral("|true|<null>")), c.followed);
        EXPECT_EQ(m_desktop.events.join(QLatin1Char('\n')).contains(QStringLiteral("symbolický odkaz")), !c.followed)
            << m_desktop.events.join(QLatin1Char('\n')).toStdString();
    }
}
