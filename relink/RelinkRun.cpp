#include "RelinkRun.h"
// Being written.
RelinkReport RunRelink(MainWindowView&, DesktopServices&) { return {}; }
