#pragma once

// The contents file (.cnt) beside a help file: headings and topics by level,
// as the help window's "Obsah" shows them.
#include "HelpFile.h"

struct HelpContentsItem {
    int level = 1; // 1 for the top level
    QString title;
    int order = 0; // the topic (1-based); 0 for a heading
};

// The lines of the contents file the help file names, else of the one with the
// help file's own name, found in its folder whatever the case of the names.
// Topics of other files and context strings this file does not know are left
// out; empty when there is no contents file.
QList<HelpContentsItem> readHelpContentsFile(const HelpFile& file);
