#include "HelpWindow.h"
// Being written.
void HelpWindowViewer::showHelpTopic(const QString&, int) {}
