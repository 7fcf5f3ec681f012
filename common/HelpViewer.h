#pragma once

#include <QString>

// Shows one topic of a help file. The window's help button and F1 call it
// with HelpFilePath() and context 805; the viewer reports its own failures.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    virtual void showHelpTopic(const QString& helpFile, int context) = 0;
};
