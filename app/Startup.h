#pragma once

#include <QString>

#include <functional>

// The window-free part of the start procedure: fixing the four paths and the
// flags from the program directory, the settings file and the argument text,
// and choosing one of the four courses. The windows are driven by main.cpp.

enum class StartCourse {
    Interactive,      // empty argument text or "NoDataPath"
    UnattendedRelink, // command line, program and data file present
    AutomaticBrowse,  // command line, program file present, data file missing
    PlainWindow,      // command line, program file missing
};

struct StartPlan {
    // Non-empty argument text without "NoDataPath": the command-line keys count.
    bool commandLineStart = false;
    // "NoDataPath" anywhere in the argument text.
    bool noDataPath = false;
};

// Sets gIniPath and gListDbPath under ProgramDir(), calls createListFile when
// the list file is missing, then sets gProgramPath, gDataPath (stored value,
// default, empty with "NoDataPath", or the command-line values) and
// gShowMessage for a command-line start.
StartPlan PrepareStart(const QString& argumentText, const std::function<void()>& createListFile);

// The course of a start: interactive unless it is a command-line start; then
// decided by FileExists of gProgramPath and gDataPath.
StartCourse ChooseStartCourse(const StartPlan& plan);
