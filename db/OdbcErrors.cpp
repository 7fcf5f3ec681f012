// The texts of the ODBC links' errors.

#include "OdbcErrors.h"

namespace OdbcError {

namespace {
QString withServerText(const QString& text, const QString& serverText)
{
    return serverText.isEmpty() ? text : text + QStringLiteral(" Server: ") + serverText;
}
} // namespace

RunTimeError badConnect(const QString& reason)
{
    return RunTimeError(ErrorNumber::OdbcFailed, QStringLiteral("Neplatný připojovací řetězec ODBC: %1.").arg(reason));
}

RunTimeError noDriver()
{
    return RunTimeError(ErrorNumber::OdbcFailed,
                        QStringLiteral("Připojovací řetězec ODBC neuvádí ovladač (DRIVER=) ani zdroj dat (DSN=)."));
}

RunTimeError driverMissing(const QString& driver)
{
    return RunTimeError(ErrorNumber::OdbcFailed,
                        QStringLiteral("Ovladač ODBC '%1' není nainstalován (odbcinst.ini).").arg(driver));
}

RunTimeError dataSourceMissing(const QString& dsn)
{
    return RunTimeError(ErrorNumber::OdbcFailed,
                        QStringLiteral("Zdroj dat ODBC '%1' není definován (odbc.ini, ~/.odbc.ini).").arg(dsn));
}

RunTimeError connectFailed(const QString& target, const QString& serverText)
{
    return RunTimeError(ErrorNumber::OdbcFailed,
                        withServerText(QStringLiteral("Připojení ODBC k '%1' selhalo.").arg(target), serverText));
}

RunTimeError callFailed(const QString& what, const QString& serverText)
{
    return RunTimeError(CallFailed, withServerText(QStringLiteral("Volání ODBC selhalo: %1.").arg(what), serverText));
}

RunTimeError tableMissing(const QString& table, const QString& target)
{
    return RunTimeError(ErrorNumber::ObjectNotFound,
                        QStringLiteral("Tabulka '%1' na serveru '%2' neexistuje.").arg(table, target));
}

RunTimeError readOnlyTable(const QString& table)
{
    return RunTimeError(ErrorNumber::ReadOnlyObject,
                        QStringLiteral("Tabulku '%1' nelze měnit: na serveru nemá primární klíč ani jedinečný index.")
                            .arg(table));
}

RunTimeError rowGone(const QString& table)
{
    return RunTimeError(RowGone, QStringLiteral("Řádek tabulky '%1' na serveru již není: mezitím jej smazal nebo "
                                                "změnil jeho klíč jiný uživatel.")
                                     .arg(table));
}

RunTimeError tableExists(const QString& table)
{
    return RunTimeError(ErrorNumber::TableAlreadyExists,
                        QStringLiteral("Tabulka '%1' na serveru již existuje; nic se nepřepíše.").arg(table));
}

RunTimeError notReadable(const QString& name)
{
    return RunTimeError(ErrorNumber::OdbcFailed,
                        QStringLiteral("Databázi serveru '%1' lze jen propojit; dotazy se píší na propojené tabulky.")
                            .arg(name));
}

} // namespace OdbcError
