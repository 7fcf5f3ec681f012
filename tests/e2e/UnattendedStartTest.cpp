// Starts the real divadedadi binary the way a calling program does and checks
// the files it leaves with the zuldb tool.

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr std::chrono::seconds FinishBound(30);

int zuldbFailures = 0;

// Runs zuldb and returns its output; a failure is counted and printed.
QString zuldb(const QStringList& arguments)
{
    const ProcessResult run = runProcess(QStringLiteral(ZULDB_EXE), arguments, {.timeout = FinishBound});
    if (run.exitCode != 0) {
        ++zuldbFailures;
        qWarning() << "zuldb" << arguments << run.err;
        return QStringLiteral("<zuldb failed>");
    }
    return run.out;
}

} // namespace

class UnattendedStartTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanRunLinksEveryDataTableAndEnds_data();
    void cleanRunLinksEveryDataTableAndEnds();
    void secondRunRepointsTheLinks();
    void startsThatWaitForTheUser_data();
    void startsThatWaitForTheUser();

private:
    // A program folder with the binary, the INI folder, a program file and a
    // data file in a folder whose name has a blank and Czech letters.
    void prepareProgramFolder();
    int startUnattended(const QString& programPath, const QString& dataPath, const QStringList& more = {});
    int startWith(const QStringList& arguments);
    QStringList userTablesOfProgram();

    QTemporaryDir* m_dir = nullptr;
    QString m_program;
    QString m_data;
    QString m_oldData;
    QString m_exe;
};

void UnattendedStartTest::init()
{
    zuldbFailures = 0;
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    prepareProgramFolder();
}

void UnattendedStartTest::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

void UnattendedStartTest::prepareProgramFolder()
{
    const QDir root(m_dir->path());
    QVERIFY(root.mkpath(QStringLiteral("app/INI")));
    QVERIFY(root.mkpath(QStringLiteral("data složka")));
    QVERIFY(root.mkpath(QStringLiteral("old")));
    m_exe = root.filePath(QStringLiteral("app/divadedadi"));
    QVERIFY(QFile::copy(QStringLiteral(DIVADEDADI_EXE), m_exe));
    m_program = root.filePath(QStringLiteral("app/ZUL.accdr"));
    m_data = root.filePath(QStringLiteral("data složka/ZUL_data.accdb"));
    m_oldData = root.filePath(QStringLiteral("old/ZUL_data.accdb"));
    const QString other = root.filePath(QStringLiteral("old/jiny.accdb"));

    // The old data file the program file links to before the run.
    zuldb({QStringLiteral("create"), m_oldData});
    zuldb({QStringLiteral("exec"), m_oldData, QStringLiteral("create table Osoby (ID integer, Jmeno text(50))")});
    zuldb({QStringLiteral("create"), other});
    zuldb({QStringLiteral("exec"), other, QStringLiteral("create table Cizi (ID integer)")});

    // The data file: two user tables with rows, a hidden one, and a link of its own.
    zuldb({QStringLiteral("create"), m_data});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("create table Osoby (ID integer, Jmeno text(50))")});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("insert into Osoby (ID, Jmeno) values (1, 'Řehoř')")});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("insert into Osoby (ID, Jmeno) values (2, 'Šárka')")});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("create table Obce (Nazev text(40))")});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("insert into Obce (Nazev) values ('Čáslav')")});
    zuldb({QStringLiteral("exec"), m_data, QStringLiteral("create table Skryta (ID integer)")});
    zuldb({QStringLiteral("hide"), m_data, QStringLiteral("Skryta")});
    zuldb({QStringLiteral("link"), m_data, QStringLiteral("Cizi"), other});

    // The program file: a link to the old location and a local table without a namesake.
    zuldb({QStringLiteral("create"), m_program});
    zuldb({QStringLiteral("link"), m_program, QStringLiteral("Osoby"), m_oldData});
    zuldb({QStringLiteral("exec"), m_program, QStringLiteral("create table Nastaveni (Klic text(20))")});

    // The outcome key of an earlier run; a clean run without zobrazZpravu leaves it.
    QFile ini(root.filePath(QStringLiteral("app/INI/ZUL.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[MAIN]\r\nDIVadedadiExe=ERROR\r\n");
    QCOMPARE(zuldbFailures, 0);
}

int UnattendedStartTest::startUnattended(const QString& programPath, const QString& dataPath, const QStringList& more)
{
    // As a shell hands them over: the quotes the caller typed are gone.
    return startWith(QStringList{QStringLiteral("ZULprog=") + programPath, QStringLiteral("ZULdata=") + dataPath} +
                     more);
}

int UnattendedStartTest::startWith(const QStringList& arguments)
{
    return runProcess(m_exe, arguments, {.environment = kOffscreen, .timeout = FinishBound}).exitCode;
}

void UnattendedStartTest::cleanRunLinksEveryDataTableAndEnds_data()
{
    QTest::addColumn<QStringList>("more");
    QTest::addColumn<bool>("onlyMore");
    QTest::newRow("the two keys") << QStringList() << false;
    // Options Qt would take for its own are the caller's text: the same relink,
    // also when they are the whole command line (the stored data path, the
    // default program file).
    const QStringList qtOptions{QStringLiteral("-reverse"), QStringLiteral("-style"), QStringLiteral("fusion"),
                                QStringLiteral("-session"), QStringLiteral("x")};
    QTest::newRow("Qt's options among them") << qtOptions << false;
    QTest::newRow("only Qt's options") << qtOptions << true;
}

void UnattendedStartTest::cleanRunLinksEveryDataTableAndEnds()
{
    QFETCH(QStringList, more);
    QFETCH(bool, onlyMore);
    const QByteArray data1250 = m_data.toUtf8().replace("složka", "slo\x9eka"); // the settings' code page
    if (onlyMore) {
        QFile ini(m_dir->filePath(QStringLiteral("app/INI/ZUL.ini")));
        QVERIFY(ini.open(QIODevice::Append));
        ini.write("ZULdata=" + data1250 + "\r\n");
    }
    QCOMPARE(onlyMore ? startWith(more) : startUnattended(m_program, m_data, more), 0);

    const QString connect = QStringLiteral(";DATABASE=") + m_data;
    const QStringList tables =
        zuldb({QStringLiteral("tables"), m_program}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList user;
    for (const QString& line : tables)
        if (!line.startsWith(QLatin1String("MSys")))
            user.append(line);
    QCOMPARE(user, QStringList({QStringLiteral("Nastaveni\t0x00000000\t\t"),
                                QStringLiteral("Obce\t0x40000000\t") + connect + QStringLiteral("\tObce"),
                                QStringLiteral("Osoby\t0x40000000\t") + connect + QStringLiteral("\tOsoby"),
                                QStringLiteral("Skryta\t0x40000000\t") + connect + QStringLiteral("\tSkryta")}));

    QCOMPARE(zuldb({QStringLiteral("query"), m_program, QStringLiteral("select ID, Jmeno from Osoby order by ID")}),
             QStringLiteral("ID\tJmeno\n1\tŘehoř\n2\tŠárka\n"));
    QCOMPARE(zuldb({QStringLiteral("query"), m_program, QStringLiteral("select Nazev from Obce")}),
             QStringLiteral("Nazev\nČáslav\n"));

    // Settings in code page 1250: the data path twice, the outcome key as it was.
    const QByteArray ini = fileBytes(m_dir->filePath(QStringLiteral("app/INI/ZUL.ini")));
    QVERIFY2(ini.contains("ZULdata=" + data1250), ini.constData());
    QVERIFY2(ini.contains("LastDB=" + data1250), ini.constData());
    QVERIFY2(ini.contains("DIVadedadiExe=ERROR"), ini.constData());

    QCOMPARE(zuldb({QStringLiteral("query"), m_dir->filePath(QStringLiteral("app/ZUL_db.accdb")),
                    QStringLiteral("select Cesta from Databaze")}),
             QStringLiteral("Cesta\n") + m_data + QStringLiteral("\n"));
}

void UnattendedStartTest::secondRunRepointsTheLinks()
{
    QCOMPARE(startUnattended(m_program, m_data), 0);
    // Back to the old file: every link of the program file follows, the list holds both.
    QCOMPARE(startUnattended(m_program, m_oldData), 0);
    const QString tables = zuldb({QStringLiteral("tables"), m_program});
    QVERIFY2(tables.contains(QStringLiteral("Osoby\t0x40000000\t;DATABASE=") + m_oldData + QStringLiteral("\tOsoby")),
             qPrintable(tables));
    // Tables of the program file without a namesake in the old file keep their link.
    QVERIFY2(tables.contains(QStringLiteral("Obce\t0x40000000\t;DATABASE=") + m_data + QStringLiteral("\tObce")),
             qPrintable(tables));
    QCOMPARE(zuldb({QStringLiteral("query"), m_program, QStringLiteral("select count(*) as N from Osoby")}),
             QStringLiteral("N\n0\n"));
    QCOMPARE(zuldb({QStringLiteral("query"), m_dir->filePath(QStringLiteral("app/ZUL_db.accdb")),
                    QStringLiteral("select Cesta from Databaze order by Cesta")})
                 .count(QLatin1Char('\n')),
             3);
}

QStringList UnattendedStartTest::userTablesOfProgram()
{
    QStringList user;
    for (const QString& line :
         zuldb({QStringLiteral("tables"), m_program}).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!line.startsWith(QLatin1String("MSys")))
            user.append(line.section(QLatin1Char('\t'), 0, 1));
    return user;
}

void UnattendedStartTest::startsThatWaitForTheUser_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments: interactive even with both default files") << QStringList();
    QTest::newRow("NoDataPath with both keys")
        << QStringList({QStringLiteral("NoDataPath"), QStringLiteral("ZULprog=@P"), QStringLiteral("ZULdata=@D"),
                        QStringLiteral("zobrazZpravu=TRUE")});
    QTest::newRow("missing program file: plain window")
        << QStringList({QStringLiteral("ZULprog=/nowhere/ZUL.accdr"), QStringLiteral("ZULdata=@D")});
}

void UnattendedStartTest::startsThatWaitForTheUser()
{
    QFETCH(QStringList, arguments);
    // The default data file beside the program file.
    const QString defaultData = m_dir->filePath(QStringLiteral("app/ZUL_data.accdb"));
    QVERIFY(QFile::copy(m_data, defaultData));
    arguments.replaceInStrings(QStringLiteral("@P"), m_program).replaceInStrings(QStringLiteral("@D"), m_data);
    const QStringList before = userTablesOfProgram();

    // The window waits for the user: the process is still there after 2 s (then killed), nothing relinked.
    const std::unique_ptr<QProcess> process = startProcess(m_exe, arguments, {.environment = kOffscreen});
    QCOMPARE(process->state(), QProcess::Running);
    QVERIFY(!finishProcess(*process, std::chrono::seconds(2)).finished);
    QCOMPARE(userTablesOfProgram(), before);
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("app/ZUL_db.accdb"))));
    QCOMPARE(fileBytes(m_dir->filePath(QStringLiteral("app/INI/ZUL.ini"))),
             QByteArray("[MAIN]\r\nDIVadedadiExe=ERROR\r\n"));
}

QTEST_GUILESS_MAIN(UnattendedStartTest)
#include "UnattendedStartTest.moc"
