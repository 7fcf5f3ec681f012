#pragma once

// The font faces of help files on a Debian desktop. Help authors wrote for
// the platform's faces; each is mapped to an installed face with the same
// metrics where one exists, so lines break where the author saw them break:
//
//   Arial, Helv, Helvetica, MS Sans Serif, Swiss, Tahoma, Verdana  -> Liberation Sans
//   Arial Narrow                                                   -> Liberation Sans Narrow
//   Times New Roman, Tms Rmn, Times, MS Serif, Roman               -> Liberation Serif
//   Courier New, Courier, Fixedsys, Terminal, Modern, System       -> Liberation Mono
//   Symbol                                                         -> Standard Symbols PS
//
// (Liberation Sans, Serif and Mono are metric-compatible with Arial, Times
// New Roman and Courier New; the others are the nearest in shape.) Any other
// face is asked for by its own name and falls back to the generic family.
#include <QString>
#include <QStringList>

// The families to ask for, best first, ending with a generic family (CSS: sans-serif, serif, monospace).
QStringList helpFontFamilies(const QString& face);
// The same as a CSS font-family value.
QString helpFontFamilyCss(const QString& face);
