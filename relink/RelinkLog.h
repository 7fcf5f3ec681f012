#pragma once

#include "RelinkRun.h"

#include <QDateTime>
#include <QString>

// The relink log INI/DIVadedadi.log beside the settings file: what the last
// run did, for a calling program and for a person in a text editor. UTF-8,
// one record per line, fields separated by a tab:
//
//   time (ISO 8601 with the offset), program path, data path, OK or ERROR
//   table, outcome (přeskočena / přepojena / vytvořena / chyba)[, description...]
//   ...one line per table of the data file, in walk order...
//   (empty), chyba, description      a failure outside the walk, at the end
//
// Inside a field, backslashes, tabs, line breaks and the other control and
// separator characters are escaped as LineEscape.h says, so a line is one
// record and a tab one field boundary for any line splitter.

QString relinkLogText(const RelinkReport& report, const QDateTime& time, const QString& programPath,
                      const QString& dataPath);

// Replaces the log next to iniPath with the record of the run: a new file
// renamed over the old one, or, where the folder takes no new file or the log
// is a link the rules of SharedFiles.h allow, the file itself, room taken
// before the first byte changes. A failed write leaves the previous log
// whole. Without the folder nothing is written. Throws the refusal of a link
// another user planted in a shared folder and of a file that is no regular
// one; returns false for any other failure.
bool WriteRelinkLog(const QString& iniPath, const RelinkReport& report, const QString& programPath,
                    const QString& dataPath);
