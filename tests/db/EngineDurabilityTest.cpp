#include "DBEngine.h"

#include "EngineTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const char* const childVariable = "ZUL_DURABILITY_DIR";

QString fileIn(const QString& folder, const char* name)
{
    return QDir(folder).filePath(QString::fromLatin1(name));
}

// The child of the test below: appends links and re-points them until it is
// killed.
void appendAndRepointLinksUntilKilled(const QString& folder)
{
    auto prog = DbEngine().OpenDatabase(fileIn(folder, "prog.accdr"));
    const QString a = dao::dbConnectPrefix + fileIn(folder, "a.accdb");
    const QString b = dao::dbConnectPrefix + fileIn(folder, "b.accdb");
    for (int i = 0; i < 5000; ++i) {
        auto def = prog->CreateTableDef(QStringLiteral("L%1").arg(i));
        def->setConnect(a);
        def->setSourceTableName(QStringLiteral("T"));
        prog->TableDefs().Append(def);
        auto earlier = prog->TableDefs().Item(QStringLiteral("L%1").arg(i / 2));
        earlier->setConnect(earlier->Connect() == a ? b : a);
        earlier->RefreshLink();
    }
}

const char* const linkWritesVariable = "ZUL_LINK_WRITES_DIR";

// The child of the multi-file test: one transaction per round adds a row to the program file's
// own table and one to each of two data files through links, until it is killed.
void writeThroughLinksUntilKilled(const QString& folder)
{
    auto prog = DbEngine().OpenDatabase(fileIn(folder, "prog.accdr"));
    for (int i = 1; i < 1000000; ++i) {
        prog->BeginTrans();
        for (const char* table : {"Log", "A", "B"})
            prog->Execute(QStringLiteral("insert into %1 values (?)").arg(QLatin1String(table)), {i});
        prog->CommitTrans();
    }
}

// Starts this program as the child the variable selects, working in folder; once the query on file answers 1
// (polled every pollMs), kills it (SIGKILL) at a random moment within jitterMs. False when it was not running then.
bool killChildAtWork(const char* variable, const QString& folder, const QString& file, const QString& query, int pollMs,
                     int jitterMs)
{
    const std::unique_ptr<QProcess> child = startProcess(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(),
                                                         {}, {.environment = {QLatin1String(variable) + '=' + folder}});
    for (int wait = 0; wait < 400 && child->state() == QProcess::Running; ++wait) {
        if (rawQuery(file, query) == QStringList{"1"})
            break;
        QThread::msleep(pollMs);
    }
    QThread::msleep(QRandomGenerator::global()->bounded(0, jitterMs));
    const bool running = child->state() == QProcess::Running;
    child->kill();
    child->waitForFinished();
    return running;
}

} // namespace

TEST(EngineDurability, killedBetweenTheFilesCommitsLeavesEveryFileAsBeforeOrEveryFileAsAfter)
{
    for (int round = 0; round < 6; ++round) {
        QTemporaryDir dir;
        const QString folder = dir.path();
        for (const char* name : {"a.accdb", "b.accdb"})
            DbEngine()
                .CreateDatabase(fileIn(folder, name), dao::dbLangCzech, dao::dbVersion120)
                ->Execute(QStringLiteral("create table T (N long not null primary key)"));
        {
            auto prog = DbEngine().CreateDatabase(fileIn(folder, "prog.accdr"), dao::dbLangCzech, dao::dbVersion120);
            prog->Execute(QStringLiteral("create table Log (N long not null primary key)"));
            for (const char* name : {"A", "B"}) {
                auto def = prog->CreateTableDef(QLatin1String(name));
                def->setConnect(dao::dbConnectPrefix + fileIn(folder, name[0] == 'A' ? "a.accdb" : "b.accdb"));
                def->setSourceTableName(QStringLiteral("T"));
                prog->TableDefs().Append(def);
            }
        }
        // Killed at any point of a commit over three files.
        ASSERT_TRUE(killChildAtWork(linkWritesVariable, folder, fileIn(folder, "prog.accdr"),
                                    QStringLiteral("select count(*) > 3 from Log"), 20, 300))
            << "the child ended before it was killed";

        const QStringList log = rawQuery(fileIn(folder, "prog.accdr"), QStringLiteral("select count(*), max(N) from Log"));
        EXPECT_EQ(rawQuery(fileIn(folder, "a.accdb"), QStringLiteral("select count(*), max(N) from T")), log) << round;
        EXPECT_EQ(rawQuery(fileIn(folder, "b.accdb"), QStringLiteral("select count(*), max(N) from T")), log) << round;
        for (const char* name : {"prog.accdr", "a.accdb", "b.accdb"})
            EXPECT_EQ(rawQuery(fileIn(folder, name), QStringLiteral("pragma integrity_check")), QStringList{"ok"});
    }
}

TEST(EngineDurability, killedWhileChangingLinksLeavesEveryDefinitionWhole)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    ASSERT_FALSE(self.isEmpty());
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir dir;
        const QString folder = dir.path();
        for (const auto& [name, columns] : {std::pair{"a.accdb", "A text(10), B long, C yesno"},
                                            std::pair{"b.accdb", "A text(10), B long, C yesno, D memo, E double"}}) {
            auto data = DbEngine().CreateDatabase(fileIn(folder, name), dao::dbLangCzech, dao::dbVersion120);
            data->Execute(QStringLiteral("create table T (%1)").arg(QString::fromLatin1(columns)));
        }
        DbEngine().CreateDatabase(fileIn(folder, "prog.accdr"), dao::dbLangCzech, dao::dbVersion120)->Close();

        ASSERT_TRUE(killChildAtWork(childVariable, folder, fileIn(folder, "prog.accdr"),
                                    QStringLiteral("select count(*) > 2 from MSysObjects"), 50, 600))
            << "the child ended before it was killed";

        auto prog = DbEngine().OpenDatabase(fileIn(folder, "prog.accdr"));
        EXPECT_EQ(column(*prog, QStringLiteral("pragma integrity_check"), QStringLiteral("integrity_check")),
                  QStringList{"ok"});
        int links = 0;
        auto& defs = prog->TableDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            const auto def = defs.Item(i);
            if (def->Attributes() != dao::dbAttachedTable)
                continue;
            ++links;
            const QString connect = def->Connect();
            const size_t expectedFields = connect.endsWith(QStringLiteral("a.accdb")) ? 3u : 5u;
            EXPECT_TRUE(connect == dao::dbConnectPrefix + fileIn(folder, "a.accdb") ||
                        connect == dao::dbConnectPrefix + fileIn(folder, "b.accdb"))
                << connect.toStdString();
            EXPECT_EQ(def->fields().size(), expectedFields) << def->Name().toStdString();
            EXPECT_EQ(def->SourceTableName(), QStringLiteral("T"));
        }
        EXPECT_GT(links, 0);
        // A link read through the file gives the linked table's columns.
        EXPECT_EQ(column(*prog, QStringLiteral("select count(*) as N from L0"), QStringLiteral("N")), QStringList{"0"});
    }
}

// Started as the child of the durability test, the process does the child's
// work instead of running tests, so the child never shows up as a test.
int main(int argc, char** argv)
{
    const QString folder = qEnvironmentVariable(childVariable);
    if (!folder.isEmpty()) {
        appendAndRepointLinksUntilKilled(folder);
        return 0;
    }
    if (const QString linkFolder = qEnvironmentVariable(linkWritesVariable); !linkFolder.isEmpty()) {
        writeThroughLinksUntilKilled(linkFolder);
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
