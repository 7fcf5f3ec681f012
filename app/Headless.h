#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"
#include "MainWindowView.h"

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

// The whole process without windows; returns the exit code.
int runHeadless(int argc, char* argv[]);

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

// The main window as the relink run sees it, without widgets: the two path
// texts and the data-file list are kept, everything else is accepted and
// forgotten.
class HeadlessWindow : public MainWindowView, public ComboBoxView {
public:
    void setOnTop(bool) override {}
    void setLinkButtonEnabled(bool) override {}
    void setExitButtonEnabled(bool) override {}
    void focusMainPanel() override {}
    void focusExitButton() override {}
    void setDbCaption(const QString&) override {}
    void setTableCaption(const QString&) override {}
    void setProgressValue(int) override {}
    void setProgressMax(int) override {}
    void setProgressVisible(bool) override {}
    void setStatusPanelVisible(bool) override {}
    QString programPathText() const override { return m_programPath; }
    ComboBoxView& dataCombo() override { return *this; }
    void setRunInProgress(bool) override {}
    void unloadAndEndProcess() override { m_ended = true; }

    void clear() override
    {
        m_items.clear();
        m_dataPath.clear();
    }
    void addItem(const QString& item) override { m_items.append(item); }
    QString text() const override { return m_dataPath; }
    void setText(const QString& text) override { m_dataPath = text; }

    void setProgramPathText(const QString& text) { m_programPath = text; }
    bool ended() const { return m_ended; }

private:
    QString m_programPath;
    QString m_dataPath;
    QStringList m_items;
    bool m_ended = false;
};
