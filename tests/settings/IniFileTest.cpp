#include "IniFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString fixture(const QString& name)
{
    return QString::fromLocal8Bit(qgetenv("DIVADEDADI_FIXTURES")) + QStringLiteral("/ini/") + name;
}

// Printable form of raw bytes for failure messages.
std::string shown(const QByteArray& bytes)
{
    std::string text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && c != '\\') {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        }
    }
    return text;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A copy of a fixture in the temporary folder, as ZUL.ini.
    QString copyOf(const QString& fixtureName)
    {
        const QString target = path(QStringLiteral("ZUL.ini"));
        const QByteArray bytes = fileBytes(fixture(fixtureName));
        EXPECT_NE(bytes, QByteArrayLiteral("<missing>")) << fixtureName.toStdString();
        EXPECT_TRUE(writeBytes(target, bytes));
        return target;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(IniFileTest, readRulesAcrossLineEndsAndOddBytes)
{
    struct Case {
        const char* file;
        const char* section;
        const char* key;
        QString expected;
    };
    const Case cases[] = {
        {"rules.ini", "Rules", "plain", QStringLiteral("value")},
        {"rules.ini", "Rules", "spaced", QStringLiteral("value with blanks")},
        {"rules.ini", "Rules", "tabbed", QStringLiteral("value")},
        {"rules.ini", "Rules", "dq", QStringLiteral("quoted value")},
        {"rules.ini", "Rules", "sq", QStringLiteral("single")},
        {"rules.ini", "Rules", "mixed", QStringLiteral("\"not removed'")},
        {"rules.ini", "Rules", "onlyopen", QStringLiteral("\"abc")},
        {"rules.ini", "Rules", "inner", QStringLiteral("a \"b\" c")},
        {"rules.ini", "Rules", "twice", QStringLiteral("\"x\"")},
        {"rules.ini", "Rules", "onequote", QStringLiteral("\"")},
        {"rules.ini", "Rules", "quotedblanks", QStringLiteral(" x ")},
        {"rules.ini", "Rules", "empty", QString()},
        {"rules.ini", "Rules", "blankvalue", QString()},
        {"rules.ini", "Rules", "a", QStringLiteral("b=c")},
        // Names match whatever their letter case; blanks around the caller's names do not count.
        {"rules.ini", "rules", "upper", QStringLiteral("upper")},
        {"rules.ini", "RULES", "PLAIN", QStringLiteral("value")},
        {"rules.ini", " Rules\t", " plain ", QStringLiteral("value")},
        // The first of duplicate keys wins, and only the first section of a name is searched.
        {"rules.ini", "Rules", "dup", QStringLiteral("first")},
        {"rules.ini", "Rules", "late", QString()},
        // Not keys: a line without "=", comments, text before the first section.
        {"rules.ini", "Rules", "noequals line", QString()},
        {"rules.ini", "Rules", ";commented", QString()},
        {"rules.ini", "Rules", "commented", QString()},
        {"rules.ini", "Rules", "; indented", QString()},
        {"rules.ini", "", "text before any section", QString()},
        {"rules.ini", "Rules", "text before any section", QString()},
        // A line opening with "[" but without "]" is an ordinary line of its section.
        {"rules.ini", "Rules", "[unclosed", QStringLiteral("section")},
        {"rules.ini", "unclosed=section", "k", QString()},
        {"rules.ini", "Spaced Section", "k", QStringLiteral("in spaced")},
        {"rules.ini", "Rules", "missing", QString()},
        {"rules.ini", "Missing", "plain", QString()},
        {"withcomments.ini", "main", "zuldata", QStringLiteral("/data/ZUL data.accdb")},
        {"withcomments.ini", "Other", "Unknown", QStringLiteral("keep me")},
        {"lf-nofinal.ini", "DIVadedadi", "LastDB", QStringLiteral("/b")},
        {"lf-nofinal.ini", "MAIN", "ZULdata", QStringLiteral("/a")},
        {"cr.ini", "MAIN", "ZULdata", QStringLiteral("/a")},
        {"cr.ini", "DIVadedadi", "LastDB", QStringLiteral("/b")},
        {"duplicates.ini", "MAIN", "ZULdata", QStringLiteral("/first")},
        {"duplicates.ini", "MAIN", "Only", QString()},
        // Code page 1250, Czech letters folded in names.
        {"highbytes.ini", "MAIN", "ZULdata", QStringLiteral("/data/Propojení.accdb")},
        {"highbytes.ini", "ČESKÁ", "KLÍČ", QStringLiteral("žšť") + QString::fromUtf8("\xc2\x81\xc2\x98")},
        // A UTF-8 byte-order mark says the file is UTF-8; the first line is a section all the same.
        {"bom.ini", "MAIN", "ZULdata", QStringLiteral("/x")},
        {"bom.ini", "DIVadedadi", "LastDB", QStringLiteral("/y")},
        {"nul.ini", "MAIN", "ZULdata", QStringLiteral("/a") + QChar::Null + QStringLiteral("b")},
        {"nul.ini", "DIVadedadi", "LastDB", QStringLiteral("/y")},
        {"nosection.ini", "", "ZULdata", QString()},
        {"nosection.ini", "MAIN", "ZULdata", QString()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            IniFile::read(fixture(QString::fromUtf8(c.file)), QString::fromUtf8(c.section), QString::fromUtf8(c.key)),
            c.expected)
            << c.file << " [" << c.section << "] " << c.key;
    }
}

TEST_F(IniFileTest, missingFileFolderOrUnreadablePathReadsEmpty)
{
    EXPECT_EQ(IniFile::read(path(QStringLiteral("ZUL.ini")), QStringLiteral("MAIN"), QStringLiteral("ZULdata")),
              QString());
    EXPECT_EQ(IniFile::read(path(QStringLiteral("INI/ZUL.ini")), QStringLiteral("MAIN"), QStringLiteral("ZULdata")),
              QString());
    EXPECT_EQ(IniFile::read(m_dir.path(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    EXPECT_EQ(IniFile::read(QString(), QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    // A named pipe must not block the reader.
    const QString pipe = path(QStringLiteral("pipe.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(IniFile::read(pipe, QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    EXPECT_TRUE(writeBytes(path(QStringLiteral("empty.ini")), QByteArray()));
    EXPECT_EQ(IniFile::read(path(QStringLiteral("empty.ini")), QStringLiteral("MAIN"), QStringLiteral("ZULdata")),
              QString());
}

TEST_F(IniFileTest, longValuesAreCutTo254Characters)
{
    const QByteArray long300 = QByteArray(300, 'a');
    const QByteArray huge = QByteArray(1024 * 1024, 'b');
    EXPECT_TRUE(writeBytes(path(QStringLiteral("long.ini")), "[MAIN]\r\nZULdata=" + long300 + "\r\nQuoted=\"" +
                                                                 long300 + "\"\r\nCzech=" + QByteArray(300, '\xe8') +
                                                                 "\r\nHuge=" + huge + "\r\n" + huge +
                                                                 "\r\nAfter=still read\r\n"));
    const QString file = path(QStringLiteral("long.ini"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString(254, QLatin1Char('a')));
    // The quotes go first, then the cut.
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("Quoted")), QString(254, QLatin1Char('a')));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("Czech")), QString(254, QChar(0x010D)));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("Huge")), QString(254, QLatin1Char('b')));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("After")), QStringLiteral("still read"));

    // A write next to megabyte lines keeps them byte for byte.
    const QByteArray before = fileBytes(file);
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("After"), QStringLiteral("x")));
    QByteArray expected = before;
    expected.replace(QByteArrayLiteral("After=still read"), QByteArrayLiteral("After=x"));
    EXPECT_TRUE(fileBytes(file) == expected);
}

TEST_F(IniFileTest, writeChangesOnlyItsOwnLine)
{
    struct Case {
        const char* fixture;
        const char* section;
        const char* key;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"withcomments.ini", "MAIN", "DIVadedadiExe", "ERROR", "withcomments.exe-error.ini"},
        // The key is written as the caller spells it.
        {"withcomments.ini", "main", "zuldata", "/b", "withcomments.zuldata.ini"},
        // A new key follows the section's last non-blank line.
        {"withcomments.ini", "MAIN", "Novy", "1", "withcomments.main-new.ini"},
        {"withcomments.ini", "DIVadedadi", "LastDB", "/data/x.accdb", "withcomments.new-section.ini"},
        // The file's own line end is used; a last line without one gets one first.
        {"lf-nofinal.ini", "DIVadedadi", "Novy", "1", "lf-nofinal.section-end.ini"},
        {"lf-nofinal.ini", "Nova", "k", "v", "lf-nofinal.new-section.ini"},
        {"lf-nofinal.ini", "MAIN", "Novy", "1", "lf-nofinal.main-new.ini"},
        {"cr.ini", "DIVadedadi", "LastDB", "/c", "cr.lastdb.ini"},
        {"cr.ini", "Nova", "k", "v", "cr.new-section.ini"},
        {"highbytes.ini", "MAIN", "Novy", "1", "highbytes.main-new.ini"},
        {"duplicates.ini", "MAIN", "ZULdata", "/new", "duplicates.zuldata.ini"},
        {"duplicates.ini", "MAIN", "Only", "x", "duplicates.only.ini"},
        // Behind a UTF-8 byte-order mark the file is UTF-8 and keeps the mark.
        {"bom.ini", "MAIN", "ZULdata", "/z", "bom.main.ini"},
        {"bom.ini", "divadedadi", "LastDB", "/Účty", "bom.lastdb.ini"},
        {"nul.ini", "DIVadedadi", "LastDB", "/z", "nul.lastdb.ini"},
        {"nosection.ini", "MAIN", "ZULdata", "/z", "nosection.main.ini"},
    };
    for (const Case& c : cases) {
        const QString file = copyOf(QString::fromUtf8(c.fixture));
        EXPECT_TRUE(
            IniFile::write(file, QString::fromUtf8(c.section), QString::fromUtf8(c.key), QString::fromUtf8(c.value)))
            << c.fixture << " [" << c.section << "] " << c.key;
        const QByteArray expected = fileBytes(fixture(QString::fromUtf8(c.expected)));
        const QByteArray actual = fileBytes(file);
        EXPECT_TRUE(actual == expected) << c.fixture << " [" << c.section << "] " << c.key
                                        << "\n  actual:   " << shown(actual) << "\n  expected: " << shown(expected);
        // What was written reads back.
        EXPECT_EQ(IniFile::read(file, QString::fromUtf8(c.section), QString::fromUtf8(c.key)),
                  QString::fromUtf8(c.value))
            << c.fixture;
        EXPECT_EQ(entriesOf(m_dir.path()), QStringList{QStringLiteral("ZUL.ini")}) << c.fixture;
    }
}

TEST_F(IniFileTest, newFileGetsSectionAndKeyWithCrLf)
{
    const QString file = path(QStringLiteral("ZUL.ini"));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata"), QStringLiteral("/d/a.accdb")));
    EXPECT_EQ(fileBytes(file), QByteArrayLiteral("[MAIN]\r\nZULdata=/d/a.accdb\r\n"));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("DIVadedadi"), QStringLiteral("LastDB"), QStringLiteral("/x")));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("OK")));
    EXPECT_EQ(fileBytes(file),
              QByteArrayLiteral("[MAIN]\r\nZULdata=/d/a.accdb\r\nDIVadedadiExe=OK\r\n[DIVadedadi]\r\nLastDB=/x\r\n"));
    // An empty existing file is treated like a new one.
    EXPECT_TRUE(writeBytes(file, QByteArray()));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata"), QString()));
    EXPECT_EQ(fileBytes(file), QByteArrayLiteral("[MAIN]\r\nZULdata=\r\n"));
    EXPECT_EQ(modeOf(file) & 0600, 0600u);
}

TEST_F(IniFileTest, textIsStoredInCodePage1250)
{
    const QString file = path(QStringLiteral("ZUL.ini"));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("K"), QStringLiteral("Propojení")));
    EXPECT_EQ(fileBytes(file), QByteArray("[MAIN]\r\nK=\x50\x72\x6F\x70\x6F\x6A\x65\x6E\xED\r\n"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("K")), QStringLiteral("Propojení"));

    // Characters outside the code page become "?", also in names; reading
    // gives back the converted form.
    const QString foreign = QStringLiteral("/d/Ωmega€") + QString::fromUtf8("\xf0\x9f\x98\x80") + QStringLiteral("ž");
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata"), foreign));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("Ωčást"), QStringLiteral("klíč"), QStringLiteral("1")));
    EXPECT_EQ(fileBytes(file), QByteArray("[MAIN]\r\nK=Propojen\xED\r\nZULdata=/d/?mega\x80?\x9E\r\n"
                                          "[?\xE8\xE1st]\r\nkl\xED\xE8=1\r\n"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QStringLiteral("/d/?mega€?ž"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("?ČÁST"), QStringLiteral("KLÍČ")), QStringLiteral("1"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("Ωčást"), QStringLiteral("klíč")), QStringLiteral("1"));
}

TEST_F(IniFileTest, lineBreaksInAValueCannotPlantEntries)
{
    const QString file = path(QStringLiteral("ZUL.ini"));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata"),
                               QStringLiteral("/d/a\r\n[DIVadedadi]\nLastDB=/evil\rx")));
    EXPECT_EQ(fileBytes(file), QByteArrayLiteral("[MAIN]\r\nZULdata=/d/a??[DIVadedadi]?LastDB=/evil?x\r\n"));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("DIVadedadi"), QStringLiteral("LastDB")), QString());
}

TEST_F(IniFileTest, missingFolderLosesTheWriteWithoutCreatingIt)
{
    const QString file = path(QStringLiteral("INI/ZUL.ini"));
    EXPECT_FALSE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata"), QStringLiteral("/x")));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("INI"))));
    EXPECT_EQ(IniFile::read(file, QStringLiteral("MAIN"), QStringLiteral("ZULdata")), QString());
    EXPECT_TRUE(entriesOf(m_dir.path()).isEmpty());
    // Nor is anything written in place of a folder, or over one.
    EXPECT_FALSE(IniFile::write(m_dir.path(), QStringLiteral("MAIN"), QStringLiteral("ZULdata"), QStringLiteral("/x")));
    EXPECT_FALSE(IniFile::write(QString(), QStringLiteral("MAIN"), QStringLiteral("ZULdata"), QStringLiteral("/x")));
    EXPECT_TRUE(entriesOf(m_dir.path()).isEmpty());
}

TEST_F(IniFileTest, readOnlyFileIsLeftIntact)
{
    const QString file = copyOf(QStringLiteral("withcomments.ini"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    EXPECT_FALSE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("X")));
    EXPECT_EQ(fileBytes(file), fileBytes(fixture(QStringLiteral("withcomments.ini"))));
    EXPECT_EQ(modeOf(file), 0444u);
    EXPECT_EQ(entriesOf(m_dir.path()), QStringList{QStringLiteral("ZUL.ini")});
}

// The platform writes a file that may be written in a folder that may not:
// the value arrives in place, owner and mode stay, no temporary file is left.
TEST_F(IniFileTest, unwritableFolderGetsTheWriteInPlace)
{
    const QString file = copyOf(QStringLiteral("withcomments.ini"));
    const QByteArray folder = QFile::encodeName(m_dir.path());
    bool written = false;
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
        written = IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("ERROR"));
        ::chmod(folder.constData(), 0755);
    } else {
        // Root writes anywhere: try as an ordinary user in a child process,
        // with the file writable for everybody and the folder not.
        ASSERT_EQ(::chmod(folder.constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0666), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            ::_exit(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"),
                                   QStringLiteral("ERROR"))
                        ? 1
                        : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 2) << "could not become an ordinary user";
        written = WEXITSTATUS(status) != 0;
        EXPECT_EQ(modeOf(file), 0666u);
        EXPECT_EQ(QFileInfo(file).ownerId(), 0u);
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(fileBytes(file), fileBytes(fixture(QStringLiteral("withcomments.exe-error.ini"))));
    EXPECT_EQ(entriesOf(m_dir.path()), QStringList{QStringLiteral("ZUL.ini")});
}

TEST_F(IniFileTest, permissionsAreKept)
{
    const QString file = copyOf(QStringLiteral("withcomments.ini"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("ERROR")));
    EXPECT_EQ(modeOf(file), 0640u);
    EXPECT_EQ(fileBytes(file), fileBytes(fixture(QStringLiteral("withcomments.exe-error.ini"))));
}

TEST_F(IniFileTest, symbolicLinkIsFollowedAndStaysALink)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("real")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("INI")));
    const QString real = path(QStringLiteral("real/ZUL.ini"));
    EXPECT_TRUE(writeBytes(real, fileBytes(fixture(QStringLiteral("withcomments.ini")))));
    // A relative link, resolved against the link's own folder.
    const QString link = path(QStringLiteral("INI/ZUL.ini"));
    ASSERT_EQ(::symlink("../real/ZUL.ini", QFile::encodeName(link).constData()), 0);

    EXPECT_TRUE(IniFile::write(link, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("ERROR")));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(fileBytes(real), fileBytes(fixture(QStringLiteral("withcomments.exe-error.ini"))));
    EXPECT_EQ(entriesOf(path(QStringLiteral("INI"))), QStringList{QStringLiteral("ZUL.ini")});
    EXPECT_EQ(entriesOf(path(QStringLiteral("real"))), QStringList{QStringLiteral("ZUL.ini")});

    // A link to a file not there yet creates the file at the link's target.
    const QString dangling = path(QStringLiteral("INI/new.ini"));
    ASSERT_EQ(::symlink("../real/new.ini", QFile::encodeName(dangling).constData()), 0);
    EXPECT_TRUE(IniFile::write(dangling, QStringLiteral("MAIN"), QStringLiteral("K"), QStringLiteral("v")));
    EXPECT_TRUE(QFileInfo(dangling).isSymLink());
    EXPECT_EQ(fileBytes(path(QStringLiteral("real/new.ini"))), QByteArrayLiteral("[MAIN]\r\nK=v\r\n"));

    // A loop of links is no file.
    const QString loop = path(QStringLiteral("INI/loop.ini"));
    ASSERT_EQ(::symlink("loop.ini", QFile::encodeName(loop).constData()), 0);
    EXPECT_FALSE(IniFile::write(loop, QStringLiteral("MAIN"), QStringLiteral("K"), QStringLiteral("v")));
    EXPECT_EQ(IniFile::read(loop, QStringLiteral("MAIN"), QStringLiteral("K")), QString());
}

TEST_F(IniFileTest, writeReplacesTheFileInsteadOfRewritingIt)
{
    // A reader that opened the old file keeps seeing it whole: the new content
    // arrives by rename, never by truncating the old file.
    const QString file = copyOf(QStringLiteral("withcomments.ini"));
    QFile reader(file);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    EXPECT_TRUE(IniFile::write(file, QStringLiteral("MAIN"), QStringLiteral("DIVadedadiExe"), QStringLiteral("ERROR")));
    EXPECT_EQ(reader.readAll(), fileBytes(fixture(QStringLiteral("withcomments.ini"))));
    EXPECT_EQ(fileBytes(file), fileBytes(fixture(QStringLiteral("withcomments.exe-error.ini"))));
}
