#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"
#include "MainWindowView.h"
#include "WindowlessView.h"

#include <QString>
#include <QStringList>

// A desktop that shows nothing and never waits, so a measurement holds only
// the work of the code under test. Message boxes are counted: a benchmark
// run that met a failure must not pass for a fast one.
class NullDesktop : public DesktopServices {
public:
    void messageBox(Icon, const QString&, const QString& text) override
    {
        ++boxes;
        lastBox = text;
    }
    void beep() override {}
    void setPointer(Pointer pointer) override { m_pointer = pointer; }
    Pointer pointer() const override { return m_pointer; }
    void doEvents() override {}

    int boxes = 0;
    QString lastBox;

private:
    Pointer m_pointer = Pointer::Default;
};

// The data-file box and the main window without a screen.
using NullCombo = WindowlessView;
using NullWindow = WindowlessView;
