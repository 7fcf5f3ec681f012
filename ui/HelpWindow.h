#pragma once

#include "DesktopServices.h"
#include "HelpViewer.h"

class QWidget;

// Shows a topic of a help file in a window of our own.
class HelpWindowViewer : public HelpViewer {
public:
    HelpWindowViewer(QWidget* owner, DesktopServices& desktop) : m_owner(owner), m_desktop(desktop) {}
    void showHelpTopic(const QString& helpFile, int context) override;

private:
    QWidget* m_owner;
    DesktopServices& m_desktop;
};
