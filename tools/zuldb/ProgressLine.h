#pragma once

// The live line of a long copy on a terminal: tables and rows done, the rate
// and the time left, redrawn in place at most five times a second and after
// each table. Nothing at all when it is off (output not a terminal, --quiet).

#include "CopyProgress.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

class ProgressLine {
public:
    // On when wanted and out is a terminal.
    ProgressLine(bool wanted, std::FILE* out);
    ~ProgressLine() { clear(); }

    void show(const CopyProgress& progress);
    // Removes the line, so that a line of the report takes its place; the next show draws it again.
    void clear();

    // The text of the line.
    static QString text(const CopyProgress& progress, qint64 elapsedMs);

private:
    std::FILE* m_out;
    bool m_on;
    bool m_shown = false;
    int m_tablesShown = -1;
    qint64 m_lastShownMs = 0;
    QElapsedTimer m_clock;
};
