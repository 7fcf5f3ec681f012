#pragma once

// The help window's figure: how long it takes to open topics with pictures,
// in this process (a QApplication is needed; offscreen will do).
#include <QString>

struct HelpWindowFigure {
    int topics = 0;           // topics with pictures opened
    double firstMedianMs = 0; // first opening of each: its pictures decoded and drawn
    double firstWorstMs = 0;
    double againMedianMs = 0; // the same topics opened once more
    int boxes = 0;            // message boxes: a failure, not a fast opening
};

// Opens the file's topics with pictures (at most maxTopics) one after the other in the help
// window, each laid out and painted before the clock stops.
HelpWindowFigure measureHelpWindow(const QString& helpFile, int maxTopics);
