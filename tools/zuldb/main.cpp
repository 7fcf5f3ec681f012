// zuldb: make and inspect database files of the engine from the command line.

#include "AccessImport.h"
#include "DBEngine.h"
#include "FileSystem.h"
#include "LineEscape.h"
#include "OdbcConnectString.h"
#include "OdbcLinks.h"
#include "OdbcUpsize.h"
#include "ProgressLine.h"
#include "SharedFiles.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QMap>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char* const helpText =
    "Použití: zuldb PŘÍKAZ SOUBOR [ARGUMENTY]\n"
    "\n"
    "Příkazy:\n"
    "  create SOUBOR                       vytvoří novou prázdnou databázi (české řazení textu)\n"
    "  exec SOUBOR SQL                     provede jeden příkaz SQL\n"
    "  tables SOUBOR                       vypíše definice tabulek: název, atributy (0x%08X),\n"
    "                                      připojovací řetězec, zdrojová tabulka; oddělené tabulátorem;\n"
    "                                      u souboru Access (.mdb, .accdb) tabulky a propojení, jak je\n"
    "                                      import převezme\n"
    "  link SOUBOR NÁZEV DATA [ZDROJ]      připojí tabulku ZDROJ (výchozí NÁZEV) ze souboru DATA\n"
    "                                      pod názvem NÁZEV; DATA začínající \"ODBC;\" se uloží jako\n"
    "                                      připojovací řetězec ODBC bez kontroly a bez hesla (PWD=)\n"
    "  hide SOUBOR NÁZEV                   nastaví tabulce atribut skrytá\n"
    "  query SOUBOR SQL                    vypíše řádky dotazu oddělené tabulátorem, s řádkem záhlaví\n"
    "  check SOUBOR                        ověří každou propojenou tabulku: název, soubor, zdrojová\n"
    "                                      tabulka, stav (ok, file missing, not a database,\n"
    "                                      source table missing; u ODBC ok, server unreachable,\n"
    "                                      table missing); nic nemění; návratový kód 0,\n"
    "                                      když jsou všechny v pořádku, jinak 1; soubory na síťovém\n"
    "                                      systému souborů (NFS, SMB/CIFS, FUSE, ...) vyjmenuje\n"
    "  import ZDROJ CÍL [--quiet] [--stats]\n"
    "                                      vytvoří nový soubor CÍL z databáze Access ZDROJ (.mdb, .accdb):\n"
    "                                      tabulky s řádky, primárním klíčem a jedinečnými indexy,\n"
    "                                      propojení s uloženou cestou (bez hesla); ZDROJ se jen čte,\n"
    "                                      existující CÍL se nepřepíše; vypíše řádek na tabulku a souhrn\n"
    "                                      (--quiet nic, --stats i dobu a paměť); na terminálu průběh\n"
    "                                      (tabulky, řádky, rychlost, zbývající čas); návratový kód 0 vše\n"
    "                                      převedeno, 2 převedeno s poznámkami, 1 nic\n"
    "  upsize DATA PŘIPOJENÍ [--quiet] [--stats]\n"
    "                                      přesune tabulky souboru DATA na databázový server\n"
    "                                      (připojovací řetězec ODBC): sloupce s typy, primární klíče,\n"
    "                                      jedinečné indexy a všechny řádky v jedné transakci serveru;\n"
    "                                      tabulku, která na serveru již je, nepřepíše (nic nepřesune);\n"
    "                                      heslo (PWD=) se jen použije; řádek na tabulku a souhrn,\n"
    "                                      na terminálu průběh jako u importu\n"
    "\n"
    "Chyba se vypíše na standardní chybový výstup jako \"číslo  popis\" a návratový kód je 1.\n";

void print(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

QString cellText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    return value.toString();
}

// One line of `tables`: name, attributes, connect string, source table.
void printTable(const QString& name, qint32 attributes, const QString& connect, const QString& sourceTable)
{
    const QString hex = QString::number(quint32(attributes), 16).toUpper().rightJustified(8, QLatin1Char('0'));
    print(QStringList{escapeLine(name), QStringLiteral("0x") + hex, escapeLine(connect), escapeLine(sourceTable)}.join(
              QLatin1Char('\t')) +
          QLatin1Char('\n'));
}

int listTables(Database& db)
{
    auto& defs = db.TableDefs();
    const int count = defs.Count();
    for (int i = 0; i < count; ++i) {
        const auto def = defs.Item(i);
        printTable(def->Name(), def->Attributes(), def->Connect(), def->SourceTableName());
    }
    return 0;
}

int query(Database& db, const QString& sql)
{
    auto records = db.OpenRecordset(sql);
    const QStringList names = records->fieldNames();
    print(names.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    while (!records->EOF()) {
        QStringList cells;
        for (const QString& name : names)
            cells << cellText(records->value(name));
        print(cells.join(QLatin1Char('\t')) + QLatin1Char('\n'));
        records->MoveNext();
    }
    records->Close();
    return 0;
}

// The status of one link, found without changing any file.
QString linkStatus(const QString& path, const QString& source, QMap<QString, std::shared_ptr<Database>>& opened)
{
    std::shared_ptr<Database> data = opened.value(path);
    if (!data) {
        try {
            data = std::shared_ptr<Database>(DbEngine().OpenDatabase(path));
        } catch (const RunTimeError& e) {
            return e.number() == ErrorNumber::FileNotFoundDb ? QStringLiteral("file missing")
                                                             : QStringLiteral("not a database");
        }
        opened.insert(path, data);
    }
    try {
        data->TableDefs().Item(source);
    } catch (const RunTimeError&) {
        return QStringLiteral("source table missing");
    }
    return QStringLiteral("ok");
}

// The status of one ODBC link: ok, server unreachable or table missing.
QString odbcLinkStatus(const QString& connect, const QString& source)
{
    try {
        QString table = source;
        odbcSourceFields(connect, &table);
    } catch (const RunTimeError& e) {
        return e.number() == ErrorNumber::ObjectNotFound ? QStringLiteral("table missing")
                                                         : QStringLiteral("server unreachable");
    }
    return QStringLiteral("ok");
}

int check(Database& db)
{
    static const QString prefix = dao::dbConnectPrefix;
    QMap<QString, std::shared_ptr<Database>> opened;
    QStringList files{db.Name()};
    auto& defs = db.TableDefs();
    const int count = defs.Count();
    bool allOk = true;
    for (int i = 0; i < count; ++i) {
        const auto def = defs.Item(i);
        const qint32 attributes = def->Attributes();
        if (!(attributes & (dao::dbAttachedTable | dao::dbAttachedODBC)))
            continue;
        const QString connect = def->Connect();
        QString path;
        QString status;
        if (attributes & dao::dbAttachedODBC) {
            path = withoutPassword(connect);
            status = odbcLinkStatus(connect, def->SourceTableName());
        } else {
            const int at = int(connect.indexOf(QStringLiteral("DATABASE="), 0, Qt::CaseInsensitive));
            path = at < 0 ? QString() : connect.mid(at + 9);
            status = path.isEmpty() ? QStringLiteral("file missing") : linkStatus(path, def->SourceTableName(), opened);
        }
        allOk = allOk && status == QLatin1String("ok");
        print(QStringList{escapeLine(def->Name()), escapeLine(path), escapeLine(def->SourceTableName()), status}.join(
                  QLatin1Char('\t')) +
              QLatin1Char('\n'));
        if (!path.isEmpty() && !(attributes & dao::dbAttachedODBC) && !files.contains(path))
            files.append(path);
    }
    // Files on a network file system: the engine relies on its locks there.
    for (const QString& file : files) {
        const QString kind = networkFileSystemOf(file);
        if (!kind.isEmpty())
            print(QStringLiteral("'%1' leží na síťovém systému souborů %2.\n").arg(file, kind));
    }
    return allOk ? 0 : 1;
}

int usage(const QString& problem)
{
    const QString text = QStringLiteral("%1  %2\n").arg(ErrorNumber::InvalidArgument).arg(problem);
    std::fputs(text.toUtf8().constData(), stderr);
    std::fputs("Nápověda: zuldb --help\n", stderr);
    return 1;
}

// The arguments of a command that reports as it goes: its files and the options
// --quiet (no line per table) and --stats (time and memory at the end).
struct ReportOptions {
    QStringList files;
    bool quiet = false;
    bool stats = false;
};

ReportOptions reportOptions(const QStringList& args)
{
    ReportOptions options;
    for (const QString& arg : args.mid(1)) {
        if (arg == QLatin1String("--quiet"))
            options.quiet = true;
        else if (arg == QLatin1String("--stats"))
            options.stats = true;
        else
            options.files << arg;
    }
    return options;
}

// import SOURCE TARGET [--quiet] [--stats]
int importAccess(const QStringList& args)
{
    const auto [files, quiet, stats] = reportOptions(args);
    if (files.size() != 2)
        return usage(QStringLiteral("Nesprávný počet argumentů příkazu 'import'."));
    for (const QString& file : files)
        SharedFiles::requireRegularFile(file);
    QElapsedTimer clock;
    clock.start();
    ProgressLine live(!quiet, stdout);
    const auto result = accessdb::importFile(
        files.at(0), files.at(1),
        [&](const QString& line) {
            live.clear();
            if (!quiet)
                print(line + QLatin1Char('\n'));
        },
        [&](const CopyProgress& p) { live.show(p); });
    if (stats) {
        rusage own{}, reader{};
        getrusage(RUSAGE_SELF, &own);
        getrusage(RUSAGE_CHILDREN, &reader);
        print(QStringLiteral("Doba: %1 s; paměť nejvýše %2 MB (zápis), %3 MB (čtecí proces).\n")
                  .arg(QLocale(QLocale::Czech).toString(double(clock.elapsed()) / 1000.0, 'f', 2))
                  .arg(own.ru_maxrss / 1024)
                  .arg(reader.ru_maxrss / 1024));
    }
    return result.exitCode();
}

using accessdb::counted;

// upsize DATA CONNECT [--quiet] [--stats]
int upsizeToServer(const QStringList& args)
{
    const auto [rest, quiet, stats] = reportOptions(args);
    if (rest.size() != 2)
        return usage(QStringLiteral("Nesprávný počet argumentů příkazu 'upsize'."));
    QElapsedTimer clock;
    clock.start();
    qint64 rows = 0;
    ProgressLine live(!quiet, stdout);
    const auto tables = upsize(rest.at(0), rest.at(1), nullptr, [&](const CopyProgress& p) { live.show(p); });
    live.clear();
    for (const UpsizeTable& table : tables) {
        rows += table.rows;
        if (!quiet)
            print(QStringLiteral("tabulka %1: %2\n").arg(table.name, counted(table.rows, "řádek", "řádky", "řádků")));
    }
    if (!quiet)
        print(QStringLiteral("Přesunuto na server: %1 (%2)\n")
                  .arg(counted(qint64(tables.size()), "tabulka", "tabulky", "tabulek"),
                       counted(rows, "řádek", "řádky", "řádků")));
    if (stats) {
        rusage own{};
        getrusage(RUSAGE_SELF, &own);
        const double seconds = std::max(0.001, double(clock.elapsed()) / 1000.0);
        print(QStringLiteral("Doba: %1 s; %2 řádků/s; paměť nejvýše %3 MB.\n")
                  .arg(QLocale(QLocale::Czech).toString(seconds, 'f', 2))
                  .arg(qint64(double(rows) / seconds))
                  .arg(own.ru_maxrss / 1024));
    }
    return 0;
}

int run(const QStringList& args)
{
    if (args.isEmpty())
        return usage(QStringLiteral("Chybí příkaz."));
    const QString command = args.at(0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        print(QString::fromUtf8(helpText));
        return 0;
    }
    if (command == QLatin1String("import"))
        return importAccess(args);
    if (command == QLatin1String("upsize"))
        return upsizeToServer(args);
    static const QMap<QString, std::pair<int, int>> arity = {
        {QStringLiteral("create"), {2, 2}}, {QStringLiteral("exec"), {3, 3}}, {QStringLiteral("tables"), {2, 2}},
        {QStringLiteral("link"), {4, 5}},   {QStringLiteral("hide"), {3, 3}}, {QStringLiteral("query"), {3, 3}},
        {QStringLiteral("check"), {2, 2}}};
    if (!arity.contains(command))
        return usage(QStringLiteral("Neznámý příkaz '%1'.").arg(command));
    const auto [least, most] = arity.value(command);
    if (args.size() < least || args.size() > most)
        return usage(QStringLiteral("Nesprávný počet argumentů příkazu '%1'.").arg(command));
    const QString file = args.at(1);
    // A pipe, device or socket given for a file would hold the open.
    SharedFiles::requireRegularFile(file);
    if (command == QLatin1String("link") && !args.at(3).startsWith(QStringLiteral("ODBC;"), Qt::CaseInsensitive))
        SharedFiles::requireRegularFile(args.at(3));
    if (command == QLatin1String("create")) {
        DbEngine().CreateDatabase(file, dao::dbLangCzech, dao::dbVersion120)->Close();
        return 0;
    }
    if (command == QLatin1String("tables") && accessdb::looksLikeAccessFile(file)) {
        for (const accessdb::ListedTable& table : accessdb::listTables(file))
            printTable(table.name, table.attributes, table.connect, table.sourceTable);
        return 0;
    }
    auto db = DbEngine().OpenDatabase(file);
    int result = 0;
    if (command == QLatin1String("exec")) {
        db->Execute(args.at(2));
    } else if (command == QLatin1String("tables")) {
        result = listTables(*db);
    } else if (command == QLatin1String("link")) {
        auto def = db->CreateTableDef(args.at(2));
        const QString data = args.at(3);
        const bool odbc = isOdbcConnect(data);
        def->setConnect(odbc ? data : dao::dbConnectPrefix + data);
        def->setSourceTableName(args.size() > 4 ? args.at(4) : args.at(2));
        // A server link is stored as given (its password dropped); `check` tells whether it works.
        if (odbc)
            db->TableDefs().AppendUnrefreshed(def);
        else
            db->TableDefs().Append(def);
    } else if (command == QLatin1String("hide")) {
        auto def = db->TableDefs().Item(args.at(2));
        def->setAttributes(def->Attributes() | dao::dbHiddenObject);
    } else if (command == QLatin1String("query")) {
        result = query(*db, args.at(2));
    } else if (command == QLatin1String("check")) {
        result = check(*db);
    }
    db->Close();
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    try {
        const int result = run(args);
        std::fflush(stdout);
        return result;
    } catch (const RunTimeError& e) {
        std::fflush(stdout);
        const QString text = QStringLiteral("%1  %2\n").arg(e.number()).arg(e.description());
        std::fputs(text.toUtf8().constData(), stderr);
        return 1;
    }
}
