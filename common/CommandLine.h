#pragma once

#include <QString>
#include <QStringList>

// The four keys of the argument text. They are found case-sensitively,
// anywhere in the text; a second occurrence is ignored.
namespace CommandKey {
inline const QString NoDataPath = QStringLiteral("NoDataPath");
inline const QString ZulProg = QStringLiteral("ZULprog=");
inline const QString ZulData = QStringLiteral("ZULdata=");
inline const QString ShowMessage = QStringLiteral("zobrazZpravu=TRUE");
} // namespace CommandKey

// The argument text as the original platform handed it over: the arguments
// (without the program's own name) joined by single blanks. A shell has
// already removed the quotes the caller typed, so the value of an argument
// that begins with "ZULprog=" or "ZULdata=" and does not begin with a double
// quote is put back between double quotes.
QString ArgumentText(const QStringList& arguments);

bool HasKey(const QString& argumentText, const QString& key);

// The value of "ZULprog=" or "ZULdata=": the character after "=" is skipped
// whatever it is, the value runs up to the next double quote and is empty when
// there is none. Empty when the key is absent.
QString KeyValue(const QString& argumentText, const QString& key);
