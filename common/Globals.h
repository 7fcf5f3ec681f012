#pragma once

#include <QString>

#include <vector>

// The process-wide state of the program, in one place. All of it starts empty
// or false; start-up fixes the paths, the relink run and browsing change the
// rest. Tests call resetGlobals() between cases.
//
// The database engine object (gDbEngine) and the open list file (gListDb)
// belong to the engine layer and live in db/; resetGlobals() does not touch
// them, nor gOpenCores, which the engine's files keep themselves.

// Full path of the settings file: program directory + "INI/ZUL.ini".
extern QString gIniPath;
// Full path of the list file: program directory + "ZUL_db.accdb".
extern QString gListDbPath;
// Full path of the program file; every relink run copies Text1 into it.
extern QString gProgramPath;
// Full path of the data file; every relink run copies the text of cboDB into it.
extern QString gDataPath;
// The command line held "zobrazZpravu=TRUE": a clean run reports "OK".
extern bool gShowMessage;
// Start-up opened the automatic browse; never cleared. Every later relink run
// ends the process, every later browse that leaves an existing data file
// starts the run.
extern bool gAutoBrowse;
// The current or last relink run met a failure.
extern bool gLinkFailed;
// The file name the folder chooser looks for (the pressed button's Tag).
extern QString gFilePattern;
// The folder confirmed in the folder chooser; empty after a cancel.
extern QString gChosenFolder;

class DbCore;
// Every database file open in the process, added and removed by the file
// itself: a linked file that is open already is read through that connection
// rather than have its whole schema read a second time.
extern std::vector<DbCore*> gOpenCores;

void resetGlobals();
