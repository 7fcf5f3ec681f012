#include "Globals.h"

QString gIniPath;
QString gListDbPath;
QString gProgramPath;
QString gDataPath;
bool gShowMessage = false;
bool gAutoBrowse = false;
bool gLinkFailed = false;
QString gFilePattern;
QString gChosenFolder;
std::vector<DbCore*> gOpenCores;

void resetGlobals()
{
    gIniPath.clear();
    gListDbPath.clear();
    gProgramPath.clear();
    gDataPath.clear();
    gShowMessage = false;
    gAutoBrowse = false;
    gLinkFailed = false;
    gFilePattern.clear();
    gChosenFolder.clear();
}
