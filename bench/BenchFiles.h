#pragma once

#include <QString>

// Database files for the measurements, made through the engine so that they
// are exactly what the utility meets in use.

// A new data file with `tables` local tables of five fields each (names
// "Tabulka00001" upwards), created in one transaction.
void createDataFile(const QString& path, int tables);
// A new database file without tables of its own (a fresh program file).
void createEmptyDatabase(const QString& path);
// Adds `paths` distinct data-file paths to the list file at gListDbPath
// (which must exist), in one transaction.
void fillListFile(int paths);
// The links of the file whose connect string is exactly `connect`.
int countLinksTo(const QString& path, const QString& connect);
