#pragma once

// Figures of ODBC links against a PostgreSQL server the benchmark starts: a
// lookup by key through a link (with the server's own count of its table and
// index scans), a full read through a link against psql reading the same
// rows, and zuldb upsize of a large data file.

#include <QString>

struct OdbcFigures {
    QString skipped; // why nothing was measured; empty when measured
    int rows = 0;    // of the server table read through the link
    int lookups = 0;
    double lookupMs = 0;     // mean of one lookup by key, in process
    qint64 seqScans = 0;     // the server's sequential scans of the table during the lookups
    qint64 indexScans = 0;   // and its index scans
    double linkReadMs = 0;   // best full read through the link in the engine
    double psqlReadMs = 0;   // best psql run fetching the same rows
    int upsizeRows = 0;
    double upsizeMs = 0;     // zuldb upsize, start to exit
    double upsizePeakMb = 0; // its peak memory
};

// Makes its files under work; zuldb is the tool's path.
OdbcFigures measureOdbc(const QString& work, const QString& zuldb);
