#include "ListFile.h"
// Being written.
void CreateListFile(DesktopServices&) {}
void AddListPath(DesktopServices&, const QString&) {}
void DeleteListPath(DesktopServices&, const QString&) {}
void FillDataFileList(DesktopServices&, ComboBoxView&, const std::optional<QString>&) {}
