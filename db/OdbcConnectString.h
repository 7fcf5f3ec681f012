#pragma once

// Connect strings of ODBC links in the platform's shapes: "ODBC;DSN=name;..."
// (a data source of odbc.ini or ~/.odbc.ini) and the DSN-less
// "ODBC;DRIVER={PostgreSQL Unicode};SERVER=...;PORT=...;DATABASE=...;UID=...".
//
// A password (PWD= or PASSWORD=) is used to connect but never kept in what the
// program stores or shows: storedForm() drops it and remembers it for this
// process only, so later connections of the same process by the stored form
// still reach the server. Other processes get the password from the data
// source or the driver's own password file (~/.pgpass for PostgreSQL).

#include <QList>
#include <QPair>
#include <QString>

// True for a connect string that begins with "ODBC;" (any case).
bool isOdbcConnect(const QString& connect);

class OdbcConnectString {
public:
    // Parses connect, which must begin with "ODBC;". Raises 3151 for unbalanced
    // braces, a pair without "=", and a string that names neither DRIVER nor DSN.
    static OdbcConnectString parse(const QString& connect);

    // The value of a key (any case); empty when absent.
    QString value(const QString& key) const;
    bool hasPassword() const { return !m_password.isEmpty(); }
    // "ODBC;" and every pair but the password, in the given order.
    QString storedForm() const;
    // What the driver manager is given: the pairs without "ODBC;", with the
    // password given here or remembered for the stored form.
    QString driverString() const;
    // The data source or the driver, as a message names it.
    QString target() const;

private:
    QList<QPair<QString, QString>> m_pairs; // key as written, value without braces
    QString m_password;
};

// A data path the program can relink to: an existing data file, or an ODBC
// connect string (whose server is asked when the relink opens it, so that a
// server that does not answer is reported there, never a folder chooser).
bool dataPathExists(const QString& path);

// The connect string as it may be stored or shown: without its password, which
// is remembered for this process. Anything that is not an ODBC connect string,
// and one that cannot be parsed, comes back unchanged.
QString withoutPassword(const QString& connect);
