#pragma once

// The errors of ODBC links and of the server behind them: Czech texts, with
// the driver's or the server's own text attached where there is one.

#include "RunTimeError.h"

#include <QString>

namespace OdbcError {
constexpr int CallFailed = 3146; // ODBC call failed
constexpr int RowGone = 3167;    // record is deleted

RunTimeError badConnect(const QString& reason);
RunTimeError noDriver();
RunTimeError driverMissing(const QString& driver);
RunTimeError dataSourceMissing(const QString& dsn);
RunTimeError connectFailed(const QString& target, const QString& serverText);
RunTimeError callFailed(const QString& what, const QString& serverText);
RunTimeError tableMissing(const QString& table, const QString& target);
RunTimeError readOnlyTable(const QString& table);
// A change by key that met no row: another user deleted the row or changed its key meanwhile.
RunTimeError rowGone(const QString& table);
RunTimeError tableExists(const QString& table);
RunTimeError notReadable(const QString& name);
} // namespace OdbcError
