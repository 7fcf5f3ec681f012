#pragma once

// Every error the program raises, in one table: a factory per error with its
// number and its Czech text. Callers write `throw Errors::fileNotFound(path)`
// and never word an error themselves, so one error reads the same wherever it
// is raised and a number keeps its meaning across the engine, the links, the
// tools and the windows.
//
// A text's %1, %2, ... are filled in one pass: an argument that itself holds
// "%2" (a path may) is shown as it is.

#include "RunTimeError.h"

#include <QString>
#include <QStringView>

namespace Errors {

namespace detail {
inline QString text(const QString& value) { return value; }
inline QString text(qint64 value) { return QString::number(value); }

template <typename... Args> RunTimeError make(int number, QStringView pattern, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return RunTimeError(number, pattern.toString());
    else
        return RunTimeError(number, pattern.arg(text(args)...));
}
} // namespace detail

using namespace ErrorNumber;
using detail::make;
using Text = const QString&;

// clang-format off
// The table is kept one error to a line (two for a long text) so it can be read down.

// General errors of the program's language.
inline auto invalidArgument() { return make(InvalidArgument, u"Neplatné volání procedury nebo argument"); }
inline auto objectVariableNotSet() { return make(ObjectVariableNotSet, u"Proměnná objektu nebo proměnná bloku With není nastavena."); }
inline auto outOfMemory() { return make(DiskFull, u"Nedostatek paměti."); }

// Database files: finding, opening and writing them.
inline auto fileNotFound(Text path) { return make(FileNotFoundDb, u"Soubor '%1' nebyl nalezen.", path); }
inline auto isFolder(Text path) { return make(FileNotFoundDb, u"'%1' je složka, nikoli databázový soubor.", path); }
inline auto notReadable(Text path) { return make(ReadOnly, u"Soubor '%1' nelze otevřít pro čtení.", path); }
inline auto cannotOpen(Text path) { return make(ReadOnly, u"Soubor '%1' nelze otevřít.", path); }
inline auto readOnlyFile(Text path) { return make(ReadOnly, u"Do souboru '%1' nelze zapisovat.", path); }
inline auto readOnlyFolder(Text path) { return make(ReadOnly, u"Do souboru '%1' nelze zapisovat: do jeho složky nelze zapisovat.", path); }
inline auto walUnreadable(Text path) { return make(ReadOnly, u"Soubor '%1' je v režimu zápisu s protokolem (WAL) a protokol vedle něj nelze "
    u"v tomto umístění číst; otevřete jej nejprve tam, kde lze zapisovat.", path); }
inline auto folderMissing(Text folder) { return make(InvalidPath, u"Složka '%1' neexistuje.", folder); }
inline auto emptyFileName() { return make(InvalidPath, u"Název souboru databáze nesmí být prázdný."); }
inline auto databaseExists(Text path) { return make(FileAlreadyExists, u"Databáze '%1' již existuje.", path); }
inline auto diskFull(Text path) { return make(DiskFull, u"Disk je plný; soubor '%1' nelze změnit.", path); }
inline auto diskIo(Text path) { return make(DiskIo, u"Chyba disku při práci se souborem '%1'.", path); }
inline auto fileLocked(Text path, int seconds) { return make(FileInUse, u"Soubor '%1' je uzamčen jiným procesem a zámek se do %2 sekund neuvolnil.", path, seconds); }
inline auto databaseCorrupt(Text path) { return make(DatabaseCorrupt, u"Databáze '%1' je poškozená.", path); }
inline auto catalogCorrupt(Text path) { return make(DatabaseCorrupt, u"Databáze '%1' je poškozená: katalog jejích tabulek neprošel kontrolou celistvosti.", path); }
inline auto unrecognizedFormat(Text path) { return make(UnrecognizedFormat, u"Nerozpoznaný formát databáze '%1'.", path); }
inline auto collationUnavailable(Text locale) { return make(SyntaxError, u"Nelze připravit porovnávání textu pro národní prostředí '%1'.", locale); }

// Files in shared folders, the settings and the folder of the list file.
inline auto refusedLink(Text link) { return make(PathFileAccess, u"Soubor \u201E%1\u201C je symbolický odkaz jiného uživatele ve složce, do které "
    u"mohou zapisovat i jiní; program přes něj nezapisuje.", link); }
inline auto notRegularFile(Text path) { return make(PathFileAccess, u"\u201E%1\u201C není obyčejný soubor (je to roura, zařízení nebo soket); program ho neotevře.", path); }
inline auto linkLoop(Text path) { return make(PathFileAccess, u"Symbolické odkazy \u201E%1\u201C tvoří smyčku.", path); }
inline auto settingsLocked(Text path, int seconds) { return make(PermissionDenied, u"Soubor \u201E%1\u201C je zamčen jiným procesem ani po %2 s čekání.", path, seconds); }
inline auto settingsFolderMissing(Text path) { return make(PathNotFound, u"Složka souboru \u201E%1\u201C neexistuje.", path); }
inline auto settingsNotOpened(Text path, Text reason) { return make(PathFileAccess, u"Soubor \u201E%1\u201C nelze otevřít pro zápis: %2", path, reason); }
inline auto settingsReadOnly(Text path) { return make(PathFileAccess, u"Soubor \u201E%1\u201C je jen pro čtení.", path); }
inline auto settingsNotReadable(Text path) { return make(PathFileAccess, u"Soubor \u201E%1\u201C nelze přečíst.", path); }
inline auto settingsNotWritten(Text path, Text reason) { return make(PathFileAccess, u"Do souboru \u201E%1\u201C nelze zapsat: %2", path, reason); }
inline auto listFolderNotWritable(Text folder) { return make(PathFileAccess, u"Do složky '%1' nelze zapisovat, a proto v ní nelze založit seznam použitých "
    u"databází ZUL_db.accdb. Spusťte program ze složky, do které můžete zapisovat, nebo požádejte správce o právo zápisu.", folder); }

// Engine objects: collections, records, transactions, definitions.
inline auto objectInvalid() { return make(ObjectInvalid, u"Objekt je neplatný nebo již není nastaven."); }
inline auto itemNotFound() { return make(ItemNotInCollection, u"Položka nebyla v této kolekci nalezena."); }
inline auto noCurrentRecord() { return make(NoCurrentRecord, u"Neexistuje aktuální záznam."); }
inline auto notInTransaction() { return make(NotInTransaction, u"Transakci nelze potvrdit ani vrátit, protože nebyla zahájena."); }
inline auto transactionAbandoned(Text path) { return make(NotInTransaction, u"Transakce souboru '%1' byla po chybě zrušena; žádná z jejích změn nebyla uložena.", path); }
inline auto updateWithoutAddNew() { return make(UpdateWithoutAddNew, u"Update nebo CancelUpdate bez AddNew."); }
inline auto recordNotUpdatable() { return make(ReadOnlyObject, u"Tento záznam nelze aktualizovat."); }
inline auto tableExists(Text name) { return make(TableAlreadyExists, u"Tabulka '%1' již existuje.", name); }
inline auto fieldExists(Text field, Text table) { return make(TableAlreadyExists, u"Pole '%1' již v tabulce '%2' existuje.", field, table); }
inline auto indexExists(Text index, Text table) { return make(TableAlreadyExists, u"Index '%1' již v tabulce '%2' existuje.", index, table); }
inline auto sameNameFolded(Text name, Text first) { return make(TableAlreadyExists, u"Tabulka '%1' má v datovém souboru stejný název jako tabulka '%2' "
    u"(velikost písmen se nerozlišuje); propojit ji nelze.", name, first); }
inline auto invalidTableName(Text name) { return make(InvalidName, u"'%1' není platný název tabulky.", name); }
inline auto fieldWithoutName() { return make(InvalidName, u"Pole musí mít název."); }
inline auto indexWithoutName() { return make(InvalidName, u"Index musí mít název."); }
inline auto indexWithoutFields(Text index) { return make(NoFields, u"Index '%1' nemá žádná pole.", index); }
inline auto tableWithoutFields(Text table) { return make(NoFields, u"Tabulka '%1' nemá žádná pole.", table); }
inline auto invalidFieldType(Text field, int type) { return make(InvalidFieldType, u"Pole '%1' má neplatný datový typ %2.", field, type); }
inline auto systemTableProperties(Text table) { return make(CannotSetProperty, u"Vlastnosti systémové tabulky '%1' nelze měnit.", table); }
inline auto connectOnLocalTable(Text table) { return make(CannotSetProperty, u"Vlastnost Connect nelze nastavit u místní tabulky '%1'.", table); }
inline auto sourceTableFixed(Text table) { return make(CannotSetProperty, u"Vlastnost SourceTableName tabulky '%1' nelze po připojení změnit.", table); }
inline auto tableNotAppended(Text table) { return make(OperationNotSupported, u"Tabulka '%1' ještě není připojena k databázi.", table); }
inline auto systemTableDelete(Text table) { return make(OperationNotSupported, u"Systémovou tabulku '%1' nelze odstranit.", table); }

// Linked tables.
inline auto notALink(Text table) { return make(OperationNotSupported, u"Tabulka '%1' není propojená; propojení nelze obnovit.", table); }
inline auto linkGone(Text table) { return make(ItemNotInCollection, u"Propojená tabulka '%1' již v databázi není.", table); }
inline auto linkNotChangeable(Text table) { return make(ReadOnlyObject, u"Propojenou tabulku '%1' nelze v tomto souboru měnit.", table); }
inline auto linkFieldAppend(Text table) { return make(ReadOnlyObject, u"Do propojené tabulky '%1' nelze přidat pole.", table); }
inline auto linkIndexAppend(Text table) { return make(ReadOnlyObject, u"Do propojené tabulky '%1' nelze přidat index.", table); }
inline auto linkReadOnly(Text table, Text path) { return make(ReadOnlyObject, u"Propojenou tabulku '%1' nelze měnit: do datového souboru '%2' nelze zapisovat.", table, path); }
inline auto linkToItself(Text table, Text path) { return make(OperationNotSupported, u"Propojená tabulka '%1' ukazuje na soubor '%2', což je tento soubor sám.", table, path); }
inline auto sourceTableMissing(Text table, Text path) { return make(ObjectNotFound, u"Zdrojová tabulka '%1' nebyla v souboru '%2' nalezena.", table, path); }
inline auto connectWithoutDatabase(Text connect) { return make(InvalidPath, u"Připojovací řetězec '%1' neuvádí databázový soubor.", connect); }
inline auto tooManyLinkedFiles(int limit) { return make(OperationNotSupported, u"Příkaz čte propojené tabulky z více než %1 souborů.", limit); }

// Statements and the rules of tables.
inline auto emptySql() { return make(SyntaxError, u"Příkaz SQL je prázdný."); }
inline auto severalStatements(Text sql) { return make(SyntaxError, u"Příkaz SQL '%1' obsahuje více než jeden příkaz.", sql); }
inline auto tooFewParameters(Text sql) { return make(SyntaxError, u"Příkaz SQL '%1' má méně parametrů, než kolik hodnot bylo zadáno.", sql); }
inline auto parameterCount(Text sql, int expected, int given) { return make(SyntaxError, u"Příkaz SQL '%1' očekává %2 parametrů, zadáno bylo %3.", sql, expected, given); }
inline auto sqlFailed(Text sql, Text message) { return make(SyntaxError, u"Chyba v příkazu SQL '%1': %2.", sql, message); }
inline auto engineFailed(Text message) { return make(SyntaxError, u"Chyba databázového stroje: %1.", message); }
inline auto inputTableNotFound(Text table) { return make(InputTableNotFound, u"Databázový stroj nenašel vstupní tabulku nebo dotaz '%1'.", table); }
inline auto duplicateValue(Text table) { return make(DuplicateValue, u"Změna nebyla provedena, protože by v tabulce '%1' vytvořila duplicitní hodnotu v jedinečném indexu.", table); }
inline auto fieldRequired(Text field) { return make(FieldRequired, u"Pole '%1' musí obsahovat hodnotu.", field); }
inline auto zeroLengthNotAllowed(Text field) { return make(ZeroLengthNotAllowed, u"Pole '%1' nemůže obsahovat řetězec nulové délky.", field); }
inline auto validationRule(Text rule) { return make(ValidationRule, u"Hodnota nesplňuje ověřovací pravidlo '%1'.", rule); }
inline auto tableRule(Text message) { return make(ValidationRule, u"Změna porušuje pravidlo tabulky (%1).", message); }
RunTimeError fieldTooSmall(const QString& field, int size);

// Links to a database server (ODBC); the server's own text is attached where there is one.
inline auto badConnect(Text reason) { return make(OdbcFailed, u"Neplatný připojovací řetězec ODBC: %1.", reason); }
inline auto noDriver() { return make(OdbcFailed, u"Připojovací řetězec ODBC neuvádí ovladač (DRIVER=) ani zdroj dat (DSN=)."); }
inline auto driverMissing(Text driver) { return make(OdbcFailed, u"Ovladač ODBC '%1' není nainstalován (odbcinst.ini).", driver); }
inline auto dataSourceMissing(Text dsn) { return make(OdbcFailed, u"Zdroj dat ODBC '%1' není definován (odbc.ini, ~/.odbc.ini).", dsn); }
inline auto serverTableMissing(Text table, Text target) { return make(ObjectNotFound, u"Tabulka '%1' na serveru '%2' neexistuje.", table, target); }
inline auto serverTableReadOnly(Text table) { return make(ReadOnlyObject, u"Tabulku '%1' nelze měnit: na serveru nemá primární klíč ani jedinečný index.", table); }
inline auto serverRowGone(Text table) { return make(RecordDeleted, u"Řádek tabulky '%1' na serveru již není: mezitím jej smazal nebo změnil jeho klíč jiný uživatel.", table); }
inline auto serverTableExists(Text table) { return make(TableAlreadyExists, u"Tabulka '%1' na serveru již existuje; nic se nepřepíše.", table); }
inline auto serverNotQueryable(Text name) { return make(OdbcFailed, u"Databázi serveru '%1' lze jen propojit; dotazy se píší na propojené tabulky.", name); }
inline auto serverConstraint(Text serverText) { return make(DuplicateValue, u"Změnu server odmítl (porušení omezení tabulky). Server: %1", serverText); }
RunTimeError connectFailed(const QString& target, const QString& serverText);
RunTimeError callFailed(const QString& what, const QString& serverText);

// Importing Access-format files.
inline auto notAccess(Text path) { return make(UnrecognizedFormat, u"Soubor '%1' není databází formátu Access (.mdb, .accdb).", path); }
inline auto newerAccess(Text path, int version) { return make(UnrecognizedFormat, u"Soubor '%1' je v novějším formátu Access (verze %2), který nelze přečíst.", path, version); }
inline auto accessSize(Text path, qint64 size, qint64 page) { return make(DatabaseCorrupt, u"Soubor '%1' je poškozený nebo zkrácený: jeho délka %2 B neodpovídá stránkám po %3 B.", path, size, page); }
inline auto accessDamaged(Text path, Text cause) { return make(DatabaseCorrupt, u"Soubor '%1' je poškozený nebo zkrácený: %2", path, cause); }
inline auto accessCatalogUnreadable(Text path) { return make(DatabaseCorrupt, u"Soubor '%1' je zašifrovaný nebo poškozený; seznam jeho tabulek nelze přečíst.", path); }
inline auto readerNotStarted() { return make(OperationNotSupported, u"Čtecí proces nelze spustit."); }
inline auto readerTimedOut(Text path) { return make(DatabaseCorrupt, u"Čtení souboru '%1' trvalo příliš dlouho a bylo přerušeno; soubor je zřejmě poškozený.", path); }
inline auto readerFailed(Text path, Text how) { return make(DatabaseCorrupt, u"Čtení souboru '%1' selhalo (čtecí proces skončil %2); soubor je zřejmě poškozený.", path, how); }
inline auto importTargetExists(Text path) { return make(FileAlreadyExists, u"Soubor '%1' již existuje; import jej nepřepíše.", path); }
inline auto cannotCreate(Text path, Text reason) { return make(DiskIo, u"Soubor '%1' nelze vytvořit: %2", path, reason); }
inline auto folderNotWritable(Text folder, Text target) { return make(ReadOnly, u"Do složky '%1' nelze zapisovat; soubor '%2' nelze vytvořit.", folder, target); }
inline auto nothingToImport(Text source) { return make(NoFields, u"V souboru '%1' není žádná tabulka ani propojená tabulka k importu.", source); }

// Help files and their export.
inline auto helpNotFound(Text path) { return make(FileNotFound, u"Soubor nápovědy '%1' nebyl nalezen.", path); }
inline auto helpNotReadable(Text path) { return make(PathFileAccess, u"Soubor nápovědy '%1' nelze přečíst.", path); }
inline auto notHelpFile(Text path) { return make(InvalidFileFormat, u"Soubor '%1' není soubor nápovědy.", path); }
inline auto helpDamaged(Text path) { return make(InvalidFileFormat, u"Soubor nápovědy '%1' je poškozen.", path); }
inline auto helpVersion(Text path) { return make(InvalidFileFormat, u"Soubor nápovědy '%1' má nepodporovanou verzi formátu.", path); }
inline auto helpTopicUnreadable(int topic, Text path) { return make(InvalidFileFormat, u"Téma %1 souboru nápovědy '%2' nelze přečíst celé.", topic, path); }
inline auto helpTopicNotFound(qint64 context) { return make(InvalidArgument, u"Téma %1 v souboru nápovědy nebylo nalezeno.", context); }
inline auto helpTopicOrder(int order, int count) { return make(InvalidArgument, u"Soubor nápovědy nemá téma s pořadím %1 (témat je %2).", order, count); }
inline auto notA(Text text, Text what) { return make(InvalidArgument, u"'%1' není %2.", text, what); }
inline auto pictureNotWritten(Text path) { return make(PathFileAccess, u"Obrázek '%1' nelze zapsat.", path); }
inline auto fileNotWritten(Text path) { return make(PathFileAccess, u"Soubor '%1' nelze zapsat.", path); }
inline auto folderNotCreated(Text path) { return make(PathFileAccess, u"Složku '%1' nelze vytvořit.", path); }

// The folder chooser.
inline auto driveUnreadable(Text drive) { return make(DeviceUnavailable, u"Jednotku %1 nelze přečíst.", drive); }
inline auto chooserFolderMissing(Text folder) { return make(PathNotFound, u"Složka %1 neexistuje.", folder); }
inline auto chooserFolderUnreadable(Text folder) { return make(PathFileAccess, u"Složku %1 nelze přečíst.", folder); }
inline auto currentFolderMissing() { return make(PathNotFound, u"Aktuální složka neexistuje."); }
inline auto fileGone(Text folder, Text file) { return make(FileNotFound, u"Ve složce %1 už soubor %2 není.", folder, file); }
// clang-format on

} // namespace Errors
