#pragma once

#include "DesktopServices.h"
#include "RunTimeError.h"

#include <QRegularExpression>
#include <QString>

// Paths are plain text. On Linux the separator is "/" and the root is "/";
// the Windows rules of the original (backslash, 3-character drive roots such
// as "C:\") stay available so both can be tested side by side.
enum class PathStyle { Native, Windows };

QChar pathSeparator(PathStyle style = PathStyle::Native);
// Length of the longest text that is only a root: 1 ("/") or 3 ("C:\").
int rootLength(PathStyle style = PathStyle::Native);

// The program directory, always ending in a separator: the folder of the
// executable plus one separator, except at a root, which already ends in one.
QString ProgramDir();
QString ProgramDirOf(const QString& applicationFolder, PathStyle style = PathStyle::Native);
// Tests point the program directory at a temporary folder; empty restores the
// executable's folder.
void setProgramDirOverride(const QString& folder);

// The folder part of a path with its closing separator; the path itself when
// it is no longer than a root. The path's last character is never examined,
// so a folder path ending in a separator gives its parent. A longer path with
// no separator before its last character raises error 5.
QString FolderOfPath(const QString& path, PathStyle style = PathStyle::Native);

// A folder (as the folder chooser gives it, no closing separator except at a
// root) followed by a file name, with exactly one separator between them.
QString JoinFolderAndName(const QString& folder, const QString& name, PathStyle style = PathStyle::Native);

// True only for an existing ordinary file: a regular file (also through a
// symbolic link) whose name does not begin with a dot. "*" and "?" in the last
// component match as patterns. Never throws; every failure is false.
bool FileExists(const QString& path);

// A file-name pattern in the manner of the original platform: "*" any run of
// characters, "?" exactly one, everything else literal.
bool hasWildcard(const QString& pattern);
QRegularExpression wildcardExpression(const QString& pattern);

// The program's error message box: "number  description", optionally two
// CR LF and the context; pointer reset and beep first; exclamation icon,
// title "Vindo-ZUL".
void ShowError(DesktopServices& desktop, const RunTimeError& error, const QString& context = QString());
QString errorMessageText(const RunTimeError& error, const QString& context = QString());
