// Bad input through the real binary (started without a window system, so
// every message box becomes a line on standard error and the process ends by
// itself) and through the settings reader: odd paths, files that are no
// database, odd settings files and command lines. Each case gives the
// program's own behaviour or a clear Czech error, never a crash or a hang,
// and nothing stored before is lost.

#include "Support.h"

#include "DBEngine.h"
#include "IniFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kClean = QStringLiteral("Vindo-ZUL: Propojení databází proběhlo v pořádku.");
const QString kFailed = QStringLiteral("Vindo-ZUL: V průběhu propojování databází se vyskytly chyby.");
const QString kNeedsDisplay = QStringLiteral("DIVadedadi potřebuje grafické prostředí (DISPLAY).");
const QByteArray kOldIni("; ulozeno drive\r\n[MAIN]\r\nDIVadedadiExe=OK\r\n[Jine]\r\nklic=hodnota\r\n");

// What one case prepares: the paths it uses and the command line.
struct CaseFiles {
    QString program;
    QString data;
    QStringList arguments;
};

struct Expect {
    int exitCode = 0;
    QString outcome;        // DIVadedadiExe afterwards
    QStringList errorLines; // standard error, line by line; empty: not checked here
    int linkedTables = -1;  // links to the data file afterwards; -1: not checked
};

struct Case {
    const char* name;
    std::function<CaseFiles(const ProgramFolder&)> prepare;
    Expect expect;
    std::function<void(const ProgramFolder&, const CaseFiles&, const ProcessResult&)> extra;
};

QString makeFolder(const ProgramFolder& folder, const QString& name)
{
    QDir().mkpath(folder.path(name));
    return folder.path(name);
}

// The program file in the program folder and two data tables in a file at data.
CaseFiles standard(const ProgramFolder& folder, const QString& data, bool makeData = true)
{
    CaseFiles setup;
    setup.program = folder.path(QStringLiteral("ZUL.accdr"));
    setup.data = data;
    DbEngine().CreateDatabase(setup.program, dao::dbLangCzech, dao::dbVersion120)->Close();
    if (makeData)
        createDataFile(data, 2);
    setup.arguments = relinkArguments(setup.program, setup.data);
    return setup;
}

// A data file whose full path has exactly length characters.
CaseFiles pathOfLength(const ProgramFolder& folder, int length)
{
    QString dir = folder.path(QStringLiteral("d"));
    const QString file = QStringLiteral("/data.accdb");
    while (dir.size() + file.size() < length) {
        const int room = length - int(dir.size()) - int(file.size()) - 1;
        dir += QLatin1Char('/') + QString(qMin(room, 200), QLatin1Char('p'));
        if (room <= 0)
            break;
    }
    QDir().mkpath(dir);
    CaseFiles setup = standard(folder, dir + file);
    EXPECT_EQ(setup.data.size(), length);
    return setup;
}

CaseFiles withFile(const ProgramFolder& folder, const QByteArray& bytes)
{
    const QString path = folder.path(QStringLiteral("data.accdb"));
    writeBytes(path, bytes);
    return standard(folder, path, false);
}

CaseFiles withIni(const ProgramFolder& folder, const QByteArray& bytes)
{
    // The data file at its default place, named also by the settings file.
    CaseFiles setup = standard(folder, folder.path(QStringLiteral("ZUL_data.accdb")));
    QByteArray ini = bytes;
    ini.replace("@DATA@", setup.data.toUtf8());
    folder.writeIni(ini);
    setup.arguments = {QStringLiteral("ZULprog=") + setup.program, kShowMessage};
    return setup;
}

Expect clean(int tables = 2)
{
    return {0, QStringLiteral("OK"), {kClean}, tables};
}
Expect needsWindow(const QString& outcome = QStringLiteral("ERROR"))
{
    return {1, outcome, {kNeedsDisplay}, 0};
}
Expect failedWith(const QString& firstReport)
{
    return {0, QStringLiteral("ERROR"), {QStringLiteral("DIVadedadi: ") + firstReport}, 0};
}

const QByteArray kBig(1024 * 1024, 'x');
const QString kListTooSmall =
    QStringLiteral("Vindo-ZUL: 3163  Pole 'Cesta' je příliš malé pro zadaná data (nejvýše 255 znaků).");

// The paths the list file holds.
QStringList listPaths(const ProgramFolder& folder)
{
    std::unique_ptr<Database> db = DbEngine().OpenDatabase(folder.path(QStringLiteral("ZUL_db.accdb")));
    const QStringList paths = column(*db, QStringLiteral("select Cesta from Databaze"), QStringLiteral("Cesta"));
    db->Close();
    return paths;
}

const QList<Case>& cases()
{
    static const QList<Case> list{
        {"path_254", [](const ProgramFolder& f) { return pathOfLength(f, 254); }, clean(), {}},
        {"path_255", [](const ProgramFolder& f) { return pathOfLength(f, 255); }, clean(), {}},
        // The list file keeps paths of at most 255 characters: such a path is reported once by the list
        // and still used for the run; the list gets no empty row.
        {"path_256",
         [](const ProgramFolder& f) { return pathOfLength(f, 256); },
         {0, QStringLiteral("OK"), {kListTooSmall, kClean}, 2},
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             EXPECT_EQ(listPaths(f), QStringList());
         }},
        {"path_300",
         [](const ProgramFolder& f) { return pathOfLength(f, 300); },
         {0, QStringLiteral("OK"), {kListTooSmall, kClean}, 2},
         [](const ProgramFolder& f, const CaseFiles& s, const ProcessResult&) {
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")), s.data.left(254));
             EXPECT_EQ(listPaths(f), QStringList());
         }},
        // A broken list file is reported; the command line's path is still the one used and stored.
        {"list_file_garbage",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             writeBytes(f.path(QStringLiteral("ZUL_db.accdb")), QByteArray(4096, '\x5a'));
             return s;
         },
         {0, QStringLiteral("OK"), {}, 2},
         [](const ProgramFolder& f, const CaseFiles& s, const ProcessResult& r) {
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")), s.data);
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), s.data);
             EXPECT_EQ(r.err.count(QStringLiteral("Vindo-ZUL: 3343  Nerozpoznaný formát databáze")), 3);
         }},
        {"apostrophe",
         [](const ProgramFolder& f) { return standard(f, makeFolder(f, QStringLiteral("O'Brien")) + "/data.accdb"); },
         clean(),
         {}},
        {"blanks_semicolon_equals_bracket",
         [](const ProgramFolder& f) {
             return standard(f, makeFolder(f, QStringLiteral(" a  b;c=d[e] ")) + "/data.accdb");
         },
         clean(),
         {}},
        // The value ends at the double quote: the shortened path names no file.
        {"double_quote",
         [](const ProgramFolder& f) { return standard(f, makeFolder(f, QStringLiteral("a\"b")) + "/data.accdb"); },
         needsWindow(),
         {}},
        {"newline",
         [](const ProgramFolder& f) { return standard(f, makeFolder(f, QStringLiteral("a\nb")) + "/data.accdb"); },
         clean(),
         [](const ProgramFolder& f, const CaseFiles& s, const ProcessResult&) {
             // One line per entry: the line break is stored as "?".
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")),
                       QString(s.data).replace(QLatin1Char('\n'), QLatin1Char('?')));
         }},
        {"outside_code_page",
         [](const ProgramFolder& f) {
             return standard(f, makeFolder(f, QStringLiteral("Žluťoučký 日本")) + "/data.accdb");
         },
         clean(),
         [](const ProgramFolder& f, const CaseFiles& s, const ProcessResult&) {
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")),
                       QString(s.data).replace(QStringLiteral("日本"), QStringLiteral("??")));
         }},
        {"trailing_separator",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, makeFolder(f, QStringLiteral("slozka")) + "/data.accdb");
             s.arguments[1] = QStringLiteral("ZULdata=") + f.path(QStringLiteral("slozka/"));
             return s;
         },
         needsWindow(),
         {}},
        {"empty_data_file",
         [](const ProgramFolder& f) { return withFile(f, QByteArray()); },
         failedWith(QStringLiteral("Nerozpoznaný formát databáze '%1'.")),
         {}},
        {"garbage_data_file",
         [](const ProgramFolder& f) { return withFile(f, QByteArray(4096, '\xa5')); },
         failedWith(QStringLiteral("Nerozpoznaný formát databáze '%1'.")),
         {}},
        {"other_database_format",
         [](const ProgramFolder& f) {
             return withFile(f, QByteArray("\0\1\0\0Standard ACE DB\0", 20) + QByteArray(4076, '\0'));
         },
         failedWith(QStringLiteral("Nerozpoznaný formát databáze '%1'.")),
         {}},
        {"folder_as_data_file",
         [](const ProgramFolder& f) { return standard(f, makeFolder(f, QStringLiteral("jako_soubor.accdb")), false); },
         needsWindow(),
         {}},
        {"folder_as_program_file",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             s.arguments[0] = QStringLiteral("ZULprog=") + makeFolder(f, QStringLiteral("ZUL2.accdr"));
             return s;
         },
         needsWindow(),
         {}},
        {"symbolic_link_loop",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("smycka.accdb")), false);
             QFile::link(f.path(QStringLiteral("smycka2.accdb")), s.data);
             QFile::link(s.data, f.path(QStringLiteral("smycka2.accdb")));
             return s;
         },
         needsWindow(),
         {}},
        {"garbage_program_file",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             writeBytes(s.program, QByteArray(2048, 'g'));
             return s;
         },
         {0, QStringLiteral("ERROR"), {}, -1},
         [](const ProgramFolder&, const CaseFiles& s, const ProcessResult& r) {
             EXPECT_TRUE(
                 r.err.startsWith(QStringLiteral("DIVadedadi: Nerozpoznaný formát databáze '%1'.\n").arg(s.program)));
             EXPECT_TRUE(r.err.endsWith(kFailed + QLatin1Char('\n')));
             EXPECT_EQ(fileBytes(s.program), QByteArray(2048, 'g'));
         }},
        // A catalog without the key on its table names (found by fuzzing): refused as damaged,
        // never a "clean" run that left a table out.
        {"damaged_catalog_program_file",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             QFile::remove(s.program);
             QFile::copy(QStringLiteral(REGRESSIONS_DIR "/relink/catalog-without-key.accdr"), s.program);
             return s;
         },
         {0, QStringLiteral("ERROR"), {}, -1},
         [](const ProgramFolder&, const CaseFiles& s, const ProcessResult& r) {
             EXPECT_TRUE(r.err.startsWith(QStringLiteral("DIVadedadi: Databáze '%1' je poškozená.\n").arg(s.program)))
                 << r.err.toStdString();
             EXPECT_TRUE(r.err.endsWith(kFailed + QLatin1Char('\n')));
         }},
        {"ini_bom",
         [](const ProgramFolder& f) { return withIni(f, "\xEF\xBB\xBF[MAIN]\r\nZULdata=@DATA@\r\n[Jine]\r\nk=v\r\n"); },
         clean(),
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             EXPECT_TRUE(f.iniBytes().startsWith("\xEF\xBB\xBF[MAIN]\r\n"));
             EXPECT_EQ(iniValue(f.iniPath(), QStringLiteral("Jine"), QStringLiteral("k")), QStringLiteral("v"));
         }},
        {"ini_nul_bytes",
         [](const ProgramFolder& f) {
             return withIni(f, QByteArray("[MAIN]\r\nX=a\0b\r\nZULdata=@DATA@\r\n[Jine]\r\nk=v\0\r\n", 45));
         },
         clean(),
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             EXPECT_TRUE(f.iniBytes().contains(QByteArray("X=a\0b\r\n", 7)));
             EXPECT_TRUE(f.iniBytes().contains(QByteArray("[Jine]\r\nk=v\0\r\n", 14)));
         }},
        {"ini_one_megabyte_line",
         [](const ProgramFolder& f) {
             return withIni(f, "[Jine]\r\nvelky=" + kBig + "\r\n[MAIN]\r\nZULdata=@DATA@\r\n");
         },
         clean(),
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             EXPECT_TRUE(f.iniBytes().startsWith("[Jine]\r\nvelky=" + kBig + "\r\n[MAIN]\r\n"));
         }},
        {"ini_without_sections", [](const ProgramFolder& f) { return withIni(f, "ZULdata=nikam\r\nvolne=1\r\n"); },
         clean(),
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             EXPECT_TRUE(f.iniBytes().startsWith("ZULdata=nikam\r\nvolne=1\r\n[MAIN]\r\nDIVadedadiExe="));
         }},
        {"ini_duplicated_sections",
         [](const ProgramFolder& f) {
             return withIni(f, "[MAIN]\r\nZULdata=@DATA@\r\n[MAIN]\r\nZULdata=druha\r\nDIVadedadiExe=druhy\r\n");
         },
         clean(),
         [](const ProgramFolder& f, const CaseFiles&, const ProcessResult&) {
             // The first section is the one; the second stays as it was.
             EXPECT_TRUE(f.iniBytes().contains("[MAIN]\r\nZULdata=druha\r\nDIVadedadiExe=druhy\r\n"));
         }},
        {"unbalanced_quotes",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             s.arguments = {QStringLiteral("ZULprog=\"") + s.program, QStringLiteral("ZULdata=\"") + s.data,
                            kShowMessage};
             return s;
         },
         needsWindow(),
         {}},
        {"repeated_keys",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             s.arguments +=
                 {QStringLiteral("ZULprog=/nikde/ZUL.accdr"), QStringLiteral("ZULdata=/nikde/d.accdb"), kShowMessage};
             return s;
         },
         clean(),
         {}},
        {"hundred_kilobytes",
         [](const ProgramFolder& f) {
             CaseFiles s = standard(f, f.path(QStringLiteral("data.accdb")));
             s.arguments.prepend(QString(100 * 1024, QLatin1Char('w')));
             s.arguments.append(QString(100 * 1024, QLatin1Char('"')));
             return s;
         },
         clean(),
         {}},
    };
    return list;
}

class BadInput : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(BadInput, givesTheProgramsBehaviourOrAClearError)
{
    const Case& c = cases().at(GetParam());
    ProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    folder.writeIni(kOldIni);
    const CaseFiles setup = c.prepare(folder);
    const ProcessResult result = runBinary(folder, setup.arguments, kNoDisplay, std::chrono::seconds(60));

    ASSERT_TRUE(result.finished) << "the process did not end by itself";
    EXPECT_EQ(result.exitCode, c.expect.exitCode) << result.err.toStdString();
    EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe")), c.expect.outcome)
        << result.err.toStdString();
    if (!c.expect.errorLines.isEmpty()) {
        QStringList expected;
        for (const QString& line : c.expect.errorLines)
            expected.append(line.contains(QStringLiteral("%1")) ? line.arg(setup.data) : line);
        const QStringList lines = result.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (c.expect.outcome == QStringLiteral("ERROR") && c.expect.exitCode == 0) {
            ASSERT_GE(lines.size(), expected.size() + 1);
            EXPECT_EQ(lines.mid(0, expected.size()), expected);
            EXPECT_EQ(lines.last(), kFailed);
        } else {
            EXPECT_EQ(lines, expected);
        }
    }
    if (c.expect.linkedTables >= 0 && QFile::exists(setup.program)) {
        const QMap<QString, QString> state = linkState(setup.program);
        EXPECT_EQ(state.values().count(dao::dbConnectPrefix + setup.data + QStringLiteral("|ID,Jmeno")),
                  c.expect.linkedTables);
        EXPECT_EQ(integrityCheck(setup.program), QStringLiteral("ok"));
    }
    // What the settings file held before is still there.
    if (!QByteArray(c.name).startsWith("ini_")) {
        EXPECT_TRUE(folder.iniBytes().startsWith("; ulozeno drive\r\n[MAIN]\r\n"));
        EXPECT_EQ(iniValue(folder.iniPath(), QStringLiteral("Jine"), QStringLiteral("klic")),
                  QStringLiteral("hodnota"));
    }
    EXPECT_EQ(filesIn(folder.path(QStringLiteral("INI"))).filter(QStringLiteral("ZUL.ini")),
              QStringList{QStringLiteral("ZUL.ini")});
    if (c.extra)
        c.extra(folder, setup, result);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::Range(0, int(cases().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(cases().at(info.param).name);
                         });

// The settings reader on the same odd files, value by value.
TEST(BadSettingsFile, readsWhatThePlatformRulesGive)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ZUL.ini"));
    struct Row {
        const char* name;
        QByteArray bytes;
        const char* section;
        const char* key;
        QString value;
    };
    const QList<Row> rows{
        {"nul inside a value", QByteArray("[MAIN]\r\nZULdata=a\0b\r\n", 21), "MAIN", "ZULdata",
         QString::fromLatin1("a\0b", 3)},
        {"line of one megabyte", "[MAIN]\r\nZULdata=" + kBig + "\r\n", "MAIN", "ZULdata",
         QString(254, QLatin1Char('x'))},
        {"no sections", "ZULdata=x\r\n", "MAIN", "ZULdata", QString()},
        {"first of duplicated sections", "[main]\r\nA=1\r\n[MAIN]\r\nA=2\r\nB=3\r\n", "MAIN", "A", QStringLiteral("1")},
        {"key only in the second duplicate", "[main]\r\nA=1\r\n[MAIN]\r\nA=2\r\nB=3\r\n", "MAIN", "B", QString()},
        {"unclosed section", "[MAIN\r\nA=1\r\n", "MAIN", "A", QString()},
        {"only a bom", "\xEF\xBB\xBF", "MAIN", "A", QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(writeBytes(path, row.bytes));
        EXPECT_EQ(IniFile::read(path, QLatin1String(row.section), QLatin1String(row.key)), row.value);
    }
}
