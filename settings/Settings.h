#pragma once

#include <QString>

// The settings file at gIniPath, with the rules of the original platform's
// private-profile calls (see IniFile.h). No routine raises or reports: a
// missing file, section or key reads as empty text; a write that cannot be
// carried out is lost silently.
QString ReadSetting(const QString& section, const QString& key);
void WriteSetting(const QString& section, const QString& key, const QString& value);
// [MAIN] ZULdata = gDataPath.
void SaveDataPath();
