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
// Tabs and line breaks inside a field become blanks.

QString relinkLogText(const RelinkReport& report, const QDateTime& time, const QString& programPath,
                      const QString& dataPath);

// Replaces the log next to iniPath with the record of the run. Without the
// folder nothing is written; failures are ignored, as for the settings.
void WriteRelinkLog(const QString& iniPath, const RelinkReport& report, const QString& programPath,
                    const QString& dataPath);
