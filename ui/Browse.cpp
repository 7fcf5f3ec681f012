#include "Browse.h"
// Being written.
void BrowseForFile(BrowseHost&, DesktopServices&, int) {}
