#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"

#include <QString>

class QWidget;

// The main window as browsing sees it.
class BrowseHost {
public:
    virtual ~BrowseHost() = default;
    virtual QWidget* hostWindow() = 0;               // owner of the modal chooser
    virtual QString programPathText() const = 0;     // Text1
    virtual void setProgramPathText(const QString& text) = 0;
    virtual ComboBoxView& dataCombo() = 0;           // cboDB
    virtual QString browseTag(int index) const = 0;  // Tag of btnBrowse(index)
    virtual void focusProgramPath() = 0;             // Text1.SetFocus
    virtual void startRelink() = 0;                  // btnPropoj_Click
};

// btnBrowse_Click with the element index: 0 the program file, 1 the data file.
void BrowseForFile(BrowseHost& host, DesktopServices& desktop, int index);
