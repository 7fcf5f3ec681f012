#pragma once

#include "RunTimeError.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

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

// Non-empty argument text without "NoDataPath": the command-line keys count.
bool isCommandLineStart(const QString& argumentText);

struct StartPlan {
    bool commandLineStart = false; // isCommandLineStart of the argument text
    // "NoDataPath" anywhere in the argument text.
    bool noDataPath = false;
    // The list file was missing and the program folder cannot be written: it
    // was not attempted, and the start reports Errors::listFolderNotWritable once.
    bool listFolderNotWritable = false;
    // The list file is there after the start's creation (or was before): only
    // then does the start fill the data-file list from it, so a list that
    // could not be made is reported once, by whoever failed to make it.
    bool listFileReady = false;
};

// Sets gIniPath and gListDbPath under ProgramDir(), calls createListFile when
// the list file is missing and the program folder can be written, then sets gProgramPath, gDataPath (stored value,
// default, empty with "NoDataPath", or the command-line values) and
// gShowMessage for a command-line start.
StartPlan PrepareStart(const QString& argumentText, const std::function<void()>& createListFile);

// The course of a start: interactive unless it is a command-line start; then
// decided by FileExists of gProgramPath and gDataPath.
StartCourse ChooseStartCourse(const StartPlan& plan);

// The process's arguments, read before Qt could take any away. The program's
// own arguments make the argument text; Qt is given only the program name and
// the platform chosen with "-platform NAME" or "--platform NAME" (a test and
// caller hook, like QT_QPA_PLATFORM), which is not part of the argument text.
struct ProcessArguments {
    QStringList program;  // argv[1..] without the platform option
    QByteArrayList forQt; // argv[0] and the platform option
};
ProcessArguments SplitProcessArguments(int argc, char* argv[]);

// The start's first act, before Qt, the list file and any window: gIniPath
// under ProgramDir() and, for a command-line start with "zobrazZpravu=TRUE",
// [MAIN] DIVadedadiExe = "ERROR", so that only a run that reaches its outcome
// can leave "OK".
void RecordStartForCaller(const QString& argumentText);
