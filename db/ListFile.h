#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"

#include <QString>

#include <optional>

// The list of used data files in ZUL_db.accdb (gListDbPath): table Databaze
// with Jmeno (text 50), Cesta (text 255, unique index), NovaDB (yes/no).
// Every operation opens its own handle and closes it before it returns, so
// operations never overlap on one handle; a failure is shown with ShowError
// and never reaches the caller.

// Creates a new, empty list file at gListDbPath. A file that step 2 already
// made stays on disk when a later step fails.
void CreateListFile(DesktopServices& desktop);
// Leaves the list holding a row for path (nothing written when it is there
// or when path is empty).
void AddListPath(DesktopServices& desktop, const QString& path);
// Removes every row whose Cesta equals path.
void DeleteListPath(DesktopServices& desktop, const QString& path);
// Refills combo from the list in the file's sort order and chooses its text:
// current when given and not empty, else [DIVadedadi] LastDB when that file
// exists. An empty list with current given stores current first, unless it
// is empty or longer than Cesta can hold. When the list cannot be read the box
// keeps current, or the text it had: a broken list never empties the path.
// The window catches up after each item added.
void FillDataFileList(DesktopServices& desktop, ComboBoxView& combo,
                      const std::optional<QString>& current = std::nullopt);
