#pragma once

#include "ComboBoxView.h"

#include <QString>

// The main window as the relink run sees it. The Qt window implements it;
// tests use a recording fake. A call may throw RunTimeError (for instance
// giving the focus to a hidden button); the run decides what a failure means.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    virtual void setOnTop(bool onTop) = 0;             // SetOnTop with the window
    virtual void setLinkButtonEnabled(bool enabled) = 0; // btnPropoj
    virtual void setExitButtonEnabled(bool enabled) = 0; // btnStorno
    virtual void focusMainPanel() = 0;                 // Picture1
    virtual void focusExitButton() = 0;                // btnStorno
    virtual void setDbCaption(const QString& caption) = 0;    // lblDB
    virtual void setTableCaption(const QString& caption) = 0; // lblTabulka
    virtual void setProgressValue(int value) = 0;       // ProgressBar1.Value
    virtual void setProgressMax(int max) = 0;           // ProgressBar1.Max
    virtual void setProgressVisible(bool visible) = 0;  // ProgressBar1
    virtual void setStatusPanelVisible(bool visible) = 0; // Picture2
    virtual QString programPathText() const = 0;        // Text1
    virtual ComboBoxView& dataCombo() = 0;              // cboDB
    // While a run is in progress the link-button rule never switches the
    // button on.
    virtual void setRunInProgress(bool running) = 0;
    // Unloads the window and ends the process at once (gAutoBrowse).
    virtual void unloadAndEndProcess() = 0;
};
