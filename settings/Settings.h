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

// [MAIN] DIVadedadiExe = value: how the run ended, for a calling program.
// When the value cannot be stored the caller would read an earlier outcome:
// the reason goes to standard error and OutcomeUnrecorded() answers true
// until a later outcome is stored; the process then ends with exit code
// kOutcomeUnrecordedExitCode.
void WriteOutcome(const QString& value);
bool OutcomeUnrecorded();
constexpr int kOutcomeUnrecordedExitCode = 2;
// The line on standard error for an outcome that could not be stored.
QString outcomeUnrecordedText(const QString& value, const QString& iniPath, const QString& reason);
