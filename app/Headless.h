#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"
#include "MainWindowView.h"
#include "WindowlessView.h"

#include <QString>

// Starts without a window system. A calling program may start the utility
// where no display can be reached; Qt would abort before anything is written.
// Then an unattended relink runs without windows: message boxes go to
// standard error as "title: text", the settings are written as in a windowed
// run and the process ends by itself. A start that needs a window says so in
// one line and ends with a non-zero exit code.

// The one line printed when a window would be needed.
inline const QString kNeedsDisplayText = QStringLiteral("DIVadedadi potřebuje grafické prostředí (DISPLAY).");

// True when no platform is chosen (QT_QPA_PLATFORM, -platform) and neither
// the Wayland display in WAYLAND_DISPLAY nor the X display in DISPLAY accepts
// a connection.
// Runs before any application object exists.
bool needsHeadless(int argc, char* argv[]);

// The whole process without windows, for the argument text read from argv
// before; returns the exit code.
int runHeadless(int argc, char* argv[], const QString& argumentText);

// Message boxes as lines on standard error; beep, pointer and "let the window
// catch up" do nothing visible.
class HeadlessDesktop : public DesktopServices {
public:
    void messageBox(Icon icon, const QString& title, const QString& text) override;
    void beep() override {}
    void setPointer(Pointer pointer) override { m_pointer = pointer; }
    Pointer pointer() const override { return m_pointer; }
    void doEvents() override {}

    // The line a box becomes: "title: text", line breaks of the text as blanks.
    static QString boxLine(const QString& title, const QString& text);

private:
    Pointer m_pointer = Pointer::Default;
};

// The main window without widgets.
using HeadlessWindow = WindowlessView;
