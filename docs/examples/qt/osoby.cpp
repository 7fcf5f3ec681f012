// Reads and changes the data of a ZUL program file through its links with Qt:
//     osoby /usr/lib/divadedadi/sqlite/zulsqlite ZUL.accdr
// Qt's SQLite driver gives its connection through QSqlDriver::handle(); the
// extension is loaded on it with SQLite's C interface, loading enabled for
// that connection only (SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION) and off again.
// Build: Qt6::Sql and SQLite's library (the one Qt's driver uses).

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <sqlite3.h>

#include <cstdio>

namespace {

bool loadExtension(QSqlDatabase& db, const QByteArray& extension)
{
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* connection = *static_cast<sqlite3* const*>(handle.data());
    sqlite3_db_config(connection, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr);
    char* error = nullptr;
    const int rc = sqlite3_load_extension(connection, extension.constData(), nullptr, &error);
    sqlite3_db_config(connection, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    if (rc != SQLITE_OK)
        std::fprintf(stderr, "%s\n", error ? error : "cannot load the extension");
    sqlite3_free(error);
    return rc == SQLITE_OK;
}

QString people(QSqlDatabase& db)
{
    QStringList names;
    QSqlQuery query(QStringLiteral("SELECT Jmeno FROM Osoby ORDER BY Jmeno"), db);
    while (query.next())
        names << query.value(0).toString();
    return names.join(QStringLiteral(", "));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: osoby EXTENSION PROGRAM_FILE\n");
        return 2;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(QString::fromLocal8Bit(argv[2]));
        if (!db.open() || !loadExtension(db, QByteArray(argv[1])))
            return 1;
        std::printf("%s\n", qUtf8Printable(people(db)));
        QSqlQuery rename(db);
        rename.prepare(QStringLiteral("UPDATE Osoby SET Jmeno = ? WHERE Jmeno = ?"));
        rename.addBindValue(QStringLiteral("Hanka"));
        rename.addBindValue(QStringLiteral("hana"));
        if (!rename.exec()) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(rename.lastError().text()));
            return 1;
        }
        std::printf("%s\n", qUtf8Printable(people(db)));
    }
    QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
    return 0;
}
