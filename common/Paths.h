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
// After setProgramStartPath that folder is the one of the path the process was
// started by, symbolic links not followed: a link in the application's folder
// to the installed binary makes the link's folder the program directory.
QString ProgramDir();
QString ProgramDirOf(const QString& applicationFolder, PathStyle style = PathStyle::Native);
// Records argv[0], read against the current folder and PATH of this moment;
// called first thing in main. Without it (tools, tests) the folder is the one
// of the executable's real file.
void setProgramStartPath(const QString& startPath);
// The folder (no closing separator except at the root) of the path a process
// was started by: startPath itself when it holds a "/" (a relative one taken
// against currentFolder), otherwise the first executable file of that name in
// the folders of searchPath (PATH; a null text means "/bin:/usr/bin", an empty
// entry the current folder). The last component is not resolved, so a link
// gives its own folder. Empty when that path does not lead to the same file as
// executable (a caller may pass any argv[0]) or names nothing.
QString startFolderOf(const QString& startPath, const QString& currentFolder, const QString& searchPath,
                      const QString& executable);
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

// A file-name pattern with the original platform's meaning: "*" any run of
// characters, but one before a dot stops short of the name's last dot; "?" one
// character other than a dot, or none at a dot or at the end of the name; a
// dot before "*", "?" or the pattern's end also matches the end of the name
// (so "*.*" and "name.*" match "name", and "*." only names without a dot);
// everything else literal, letter case included.
bool hasWildcard(const QString& pattern);
QRegularExpression wildcardExpression(const QString& pattern);

// The program's error message box: "number  description", optionally two
// CR LF and the context; pointer reset and beep first; exclamation icon,
// title "Vindo-ZUL".
void ShowError(DesktopServices& desktop, const RunTimeError& error, const QString& context = QString());
QString errorMessageText(const RunTimeError& error, const QString& context = QString());
