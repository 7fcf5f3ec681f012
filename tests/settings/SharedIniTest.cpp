// The settings file where others can reach it: links planted in a shared
// folder, what the file carries beside its bytes, pipes, locks, concurrent
// writers and a full disk.

#include "IniFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
const QString kMain = QStringLiteral("MAIN");
const QString kExe = QStringLiteral("DIVadedadiExe");
const QByteArray kOkFile = QByteArrayLiteral("[MAIN]\r\nDIVadedadiExe=OK\r\n");
const QByteArray kErrorFile = QByteArrayLiteral("[MAIN]\r\nDIVadedadiExe=ERROR\r\n");

QByteArray local(const QString& path)
{
    return QFile::encodeName(path);
}

// Runs body in a child process that may take at most seconds; the exit code,
// or nothing when the child had to be killed.
std::optional<int> inChild(const std::function<int()>& body, int seconds = 15)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

class SharedIniTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

} // namespace

// A root run (the tests run as root in CI) in a folder others can write
// follows a link only when it belongs to root or to the folder's owner; a
// link of anyone else leaves the file it names untouched and the failure
// names the link. In a folder only its owner writes, every link is followed.
TEST_F(SharedIniTest, linksInSharedFoldersAreFollowedOnlyWhenTheirOwnerIsTrusted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant another user's links";
    struct Case {
        const char* name;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t linkOwner;
        bool followed;
    };
    const Case cases[] = {
        {"sticky folder for all, link of nobody", 01777, 0, kNobody, false},
        {"folder of a group, link of nobody", 0775, 0, kNobody, false},
        {"folder writable by all, link of nobody", 0777, 0, kNobody, false},
        {"sticky folder for all, link of root", 01777, 0, 0, true},
        {"sticky folder of nobody, link of nobody", 01777, kNobody, kNobody, true},
        {"root's own folder, link of nobody", 0755, 0, kNobody, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("INI"));
        const QString secret = dir.filePath(QStringLiteral("secret"));
        ASSERT_TRUE(QDir().mkdir(ini) && QDir().mkdir(secret));
        ASSERT_EQ(::chmod(local(secret).constData(), 0700), 0);
        const QString target = secret + QStringLiteral("/shadow");
        EXPECT_TRUE(writeBytes(target, QByteArrayLiteral("root:secret\n")));
        const QString link = ini + QStringLiteral("/ZUL.ini");
        ASSERT_EQ(::symlink(local(target).constData(), local(link).constData()), 0);
        ASSERT_EQ(::lchown(local(link).constData(), c.linkOwner, c.linkOwner), 0);
        ASSERT_EQ(::chown(local(ini).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(local(ini).constData(), c.folderMode), 0);

        QString failure;
        const bool written = IniFile::write(link, kMain, kExe, QStringLiteral("OK"), &failure);
        EXPECT_EQ(written, c.followed) << failure.toStdString();
        EXPECT_EQ(fileBytes(target), c.followed ? QByteArrayLiteral("root:secret\n[MAIN]\nDIVadedadiExe=OK\n")
                                                : QByteArrayLiteral("root:secret\n"));
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        if (!c.followed) {
            EXPECT_TRUE(failure.contains(link) && failure.contains(QStringLiteral("symbolický odkaz")))
                << failure.toStdString();
        }
    }
}

// An ACL, an extended attribute and a second name survive a write, which
// then goes into the file itself.
TEST_F(SharedIniTest, writeKeepsAclAttributesAndHardLinks)
{
    const QString setfacl = QStandardPaths::findExecutable(QStringLiteral("setfacl"));
    const QString getfacl = QStandardPaths::findExecutable(QStringLiteral("getfacl"));
    struct Case {
        const char* name;
        std::function<bool(const QString&)> give; // false: not possible here
        std::function<bool(const QString&)> kept;
    };
    const Case cases[] = {
        {"ACL for nobody",
         [&](const QString& file) {
             return !setfacl.isEmpty() &&
                    runProcess(setfacl, {QStringLiteral("-m"), QStringLiteral("u:nobody:rw"), file}).exitCode == 0;
         },
         [&](const QString& file) {
             return runProcess(getfacl, {QStringLiteral("-c"), file}).out.contains(QStringLiteral("user:nobody:rw-"));
         }},
        {"extended attribute",
         [](const QString& file) { return ::setxattr(local(file).constData(), "user.origin", "x", 1, 0) == 0; },
         [](const QString& file) {
             char value[4] = {};
             return ::getxattr(local(file).constData(), "user.origin", value, sizeof value) == 1 && value[0] == 'x';
         }},
        {"hard link",
         [&](const QString& file) {
             return ::link(local(file).constData(), local(file + QStringLiteral(".2")).constData()) == 0;
         },
         [&](const QString& file) { return fileBytes(file + QStringLiteral(".2")) == kErrorFile; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ZUL.ini"));
        EXPECT_TRUE(writeBytes(file, kOkFile));
        if (!c.give(file)) {
            std::printf("[ skipped  ] %s: not possible on this file system\n", c.name);
            continue;
        }
        EXPECT_TRUE(IniFile::write(file, kMain, kExe, QStringLiteral("ERROR")));
        EXPECT_EQ(fileBytes(file), kErrorFile);
        EXPECT_TRUE(c.kept(file));
    }
}

// Nothing the settings writer meets holds it longer than the lock wait: a
// pipe, a device or a socket in place of the file is refused at once, a lock
// another process keeps ends the write after the wait with a failure that
// says so. Each write runs in a child that is killed when it hangs.
TEST_F(SharedIniTest, pipesDevicesSocketsAndHeldLocksEndTheWriteWithinTheBound)
{
    struct Case {
        const char* name;
        std::function<void(const QString&)> plant;
        const char* failureWords;
        bool readable;
    };
    const Case cases[] = {
        {"FIFO", [](const QString& file) { ASSERT_EQ(::mkfifo(local(file).constData(), 0666), 0); },
         "není obyčejný soubor", false},
        {"link to a FIFO",
         [](const QString& file) {
             ASSERT_EQ(::mkfifo(local(file + QStringLiteral(".fifo")).constData(), 0666), 0);
             ASSERT_EQ(::symlink("ZUL.ini.fifo", local(file).constData()), 0);
         },
         "není obyčejný soubor", false},
        {"device", [](const QString& file) { ASSERT_EQ(::symlink("/dev/zero", local(file).constData()), 0); },
         "není obyčejný soubor", false},
        {"lock held by another process",
         [](const QString& file) {
             EXPECT_TRUE(writeBytes(file, kOkFile));
             // A child keeps the lock until it is killed.
             const pid_t holder = ::fork();
             if (holder == 0) {
                 const int fd = ::open(local(file).constData(), O_RDONLY);
                 ::flock(fd, LOCK_EX);
                 ::pause();
                 ::_exit(0);
             }
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             qputenv("E22_LOCK_HOLDER", QByteArray::number(holder));
         },
         "zamčen jiným procesem", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ZUL.ini"));
        c.plant(file);
        const auto started = std::chrono::steady_clock::now();
        const std::optional<int> code = inChild([&] {
            QString failure;
            if (IniFile::write(file, kMain, kExe, QStringLiteral("ERROR"), &failure))
                return 1;
            if (!failure.contains(QString::fromUtf8(c.failureWords)))
                return 2;
            // Reading never blocks either.
            return IniFile::read(file, kMain, kExe) == (c.readable ? QStringLiteral("OK") : QString()) ? 0 : 3;
        });
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(code, std::optional<int>(0)) << "(none: hung and killed)";
        EXPECT_LT(seconds, 8.0);
        const QByteArray holder = qgetenv("E22_LOCK_HOLDER");
        if (!holder.isEmpty()) {
            ::kill(pid_t(holder.toInt()), SIGKILL);
            ::waitpid(pid_t(holder.toInt()), nullptr, 0);
            qunsetenv("E22_LOCK_HOLDER");
            EXPECT_EQ(fileBytes(file), kOkFile);
        }
    }
}

// Writers in several processes at once: each one's values survive, none
// reads the file before another's change and writes its old state back.
TEST_F(SharedIniTest, concurrentWritersNeverUndoEachOther)
{
    const QString file = path(QStringLiteral("ZUL.ini"));
    EXPECT_TRUE(writeBytes(file, kOkFile));
    constexpr int kWriters = 4;
    constexpr int kWrites = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int n = 1; n <= kWrites; ++n) {
                if (!IniFile::write(file, kMain, QStringLiteral("K%1").arg(writer), QString::number(n)))
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int writer = 0; writer < kWriters; ++writer)
        EXPECT_EQ(IniFile::read(file, kMain, QStringLiteral("K%1").arg(writer)), QString::number(kWrites)) << writer;
    EXPECT_EQ(IniFile::read(file, kMain, kExe), QStringLiteral("OK"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ZUL.ini")});
}

// On a full disk no temporary file can take the new content: the value goes
// into the file itself, which has room in its last block.
TEST_F(SharedIniTest, fullDiskStillTakesTheOutcome)
{
    const QString mountPoint = path(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkdir(mountPoint));
    if (!mountTmpfs(mountPoint, 1024))
        GTEST_SKIP() << "tmpfs cannot be mounted here (needs root)";
    const auto unmounted = qScopeGuard([&] { unmount(mountPoint); });
    const QString file = mountPoint + QStringLiteral("/ZUL.ini");
    EXPECT_TRUE(writeBytes(file, kOkFile));
    ASSERT_TRUE(fillUp(mountPoint));
    QString failure;
    EXPECT_TRUE(IniFile::write(file, kMain, kExe, QStringLiteral("ERROR"), &failure)) << failure.toStdString();
    EXPECT_EQ(fileBytes(file), kErrorFile);
    EXPECT_EQ(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("ZUL.ini"), QStringLiteral("filler")}));
}
