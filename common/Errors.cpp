// The few errors of the table whose text depends on more than their arguments.

#include "Errors.h"

namespace Errors {

namespace {
RunTimeError withServerText(RunTimeError error, const QString& serverText)
{
    return serverText.isEmpty()
               ? error
               : RunTimeError(error.number(), error.description() + QStringLiteral(" Server: ") + serverText);
}
} // namespace

RunTimeError fieldTooSmall(const QString& field, int size)
{
    const QString unit = size == 1                ? QStringLiteral("znak")
                         : size >= 2 && size <= 4 ? QStringLiteral("znaky")
                                                  : QStringLiteral("znaků");
    return make(FieldTooSmall, u"Pole '%1' je příliš malé pro zadaná data (nejvýše %2 %3).", field, size, unit);
}

RunTimeError connectFailed(const QString& target, const QString& serverText)
{
    return withServerText(make(OdbcFailed, u"Připojení ODBC k '%1' selhalo.", target), serverText);
}

RunTimeError callFailed(const QString& what, const QString& serverText)
{
    return withServerText(make(OdbcCallFailed, u"Volání ODBC selhalo: %1.", what), serverText);
}

} // namespace Errors
