// The zuldb tool end to end: the built binary run in a temporary folder.

#include "EngineTestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Zuldb : public ::testing::Test {
protected:
    ProcessResult run(const QStringList& args)
    {
        return runProcess(QStringLiteral(ZULDB_PATH), args, {.folder = m_dir.path()});
    }

    // Runs a command that must succeed and returns its output.
    QString ok(const QStringList& args)
    {
        const ProcessResult result = run(args);
        EXPECT_EQ(result.exitCode, 0) << args.join(' ').toStdString() << ": " << result.err.toStdString();
        return result.out;
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Zuldb, buildsAndListsADataFileAndAProgramFileWithLinks)
{
    ok({"create", "data.accdb"});
    for (int i = 1; i <= 20; ++i)
        ok({"exec", "data.accdb",
            QStringLiteral("create table T%1 (Jmeno text(30), Pocet long)").arg(i, 2, 10, QChar('0'))});
    ok({"exec", "data.accdb", "insert into T01 values ('Čapek', 3)"});
    ok({"exec", "data.accdb", "insert into T01 values ('Chalupa', 5)"});
    ok({"exec", "data.accdb", "insert into T01 values ('Hora', NULL)"});
    ok({"hide", "data.accdb", "T05"});
    ok({"create", "other.accdb"});
    ok({"exec", "other.accdb", "create table Cizi (A long)"});
    ok({"link", "data.accdb", "Cizi", "other.accdb"});

    QStringList expectedData = {"Cizi\t0x40000000\t;DATABASE=other.accdb\tCizi", "MSysFields\t0x80000002\t\t",
                                "MSysInfo\t0x80000002\t\t", "MSysObjects\t0x80000002\t\t"};
    for (int i = 1; i <= 20; ++i)
        expectedData << QStringLiteral("T%1\t0x%2\t\t").arg(i, 2, 10, QChar('0')).arg(i == 5 ? "00000001" : "00000000");
    EXPECT_EQ(ok({"tables", "data.accdb"}), expectedData.join('\n') + '\n');

    ok({"create", "prog.accdr"});
    ok({"link", "prog.accdr", "T01", "data.accdb"});
    ok({"link", "prog.accdr", "Stara", "data.accdb", "T02"});
    ok({"link", "prog.accdr", "Sklad", "ODBC;DSN=Sklad"});
    for (const char* name : {"gone.accdb", "bad.accdb"}) {
        ok({"create", name});
        ok({"exec", name, "create table X (A long)"});
    }
    ok({"link", "prog.accdr", "Pryc", "gone.accdb", "X"});
    ok({"link", "prog.accdr", "Spatna", "bad.accdb", "X"});
    ok({"link", "prog.accdr", "Bez", "data.accdb", "T03"});
    EXPECT_EQ(ok({"tables", "prog.accdr"}), QStringLiteral("Bez\t0x40000000\t;DATABASE=data.accdb\tT03\n"
                                                           "MSysFields\t0x80000002\t\t\n"
                                                           "MSysInfo\t0x80000002\t\t\n"
                                                           "MSysObjects\t0x80000002\t\t\n"
                                                           "Pryc\t0x40000000\t;DATABASE=gone.accdb\tX\n"
                                                           "Sklad\t0x20000000\tODBC;DSN=Sklad\tSklad\n"
                                                           "Spatna\t0x40000000\t;DATABASE=bad.accdb\tX\n"
                                                           "Stara\t0x40000000\t;DATABASE=data.accdb\tT02\n"
                                                           "T01\t0x40000000\t;DATABASE=data.accdb\tT01\n"));

    EXPECT_EQ(ok({"query", "prog.accdr", "select * from T01 order by Jmeno"}),
              QStringLiteral("Jmeno\tPocet\nČapek\t3\nHora\t\nChalupa\t5\n"));

    const QByteArray dataBefore = fileBytes(path("data.accdb"));
    const ProcessResult clean = run({"check", "prog.accdr"});
    EXPECT_EQ(clean.exitCode, 1); // the ODBC link is not ok
    ASSERT_TRUE(QFile::remove(path("gone.accdb")));
    writeBytes(path("bad.accdb"), QByteArray(8192, '#'));
    ok({"exec", "data.accdb", "drop table T03"});
    const ProcessResult broken = run({"check", "prog.accdr"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(broken.out, QStringLiteral("Bez\tdata.accdb\tT03\tsource table missing\n"
                                         "Pryc\tgone.accdb\tX\tfile missing\n"
                                         "Sklad\tODBC;DSN=Sklad\tSklad\tserver unreachable\n"
                                         "Spatna\tbad.accdb\tX\tnot a database\n"
                                         "Stara\tdata.accdb\tT02\tok\n"
                                         "T01\tdata.accdb\tT01\tok\n"));
    EXPECT_EQ(rawQuery(path("prog.accdr"), "pragma integrity_check"), QStringList{"ok"});
    EXPECT_EQ(ok({"query", "data.accdb", "pragma integrity_check"}), QStringLiteral("integrity_check\nok\n"));
    EXPECT_NE(fileBytes(path("data.accdb")), dataBefore); // only the drop changed it
}

TEST_F(Zuldb, checkOfCleanLinksSucceedsAndChangesNothing)
{
    ok({"create", "data.accdb"});
    ok({"exec", "data.accdb", "create table A (X long)"});
    ok({"create", "prog.accdr"});
    ok({"link", "prog.accdr", "A", "data.accdb"});
    const QByteArray before = fileBytes(path("prog.accdr"));
    const ProcessResult result = run({"check", "prog.accdr"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, QStringLiteral("A\tdata.accdb\tA\tok\n"));
    EXPECT_EQ(fileBytes(path("prog.accdr")), before);
}

TEST_F(Zuldb, errorsGoToStandardErrorWithNumberAndDescription)
{
    const ProcessResult missing = run({"tables", "missing.accdb"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, QString());
    EXPECT_EQ(missing.err, QStringLiteral("3024  Soubor 'missing.accdb' nebyl nalezen.\n"));

    ok({"create", "a.accdb"});
    const ProcessResult twice = run({"create", "a.accdb"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_EQ(twice.err, QStringLiteral("3204  Databáze 'a.accdb' již existuje.\n"));

    const ProcessResult linkMissing = run({"link", "a.accdb", "T", "nic.accdb"});
    EXPECT_EQ(linkMissing.err, QStringLiteral("3024  Soubor 'nic.accdb' nebyl nalezen.\n"));

    const ProcessResult unknown = run({"frobnicate", "a.accdb"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.startsWith(QStringLiteral("5  Neznámý příkaz 'frobnicate'.\n")));

    const ProcessResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"create", "exec", "tables", "link", "hide", "query", "check"})
        EXPECT_TRUE(help.out.contains(QStringLiteral("  %1 SOUBOR").arg(QString::fromLatin1(command)))) << command;
}
