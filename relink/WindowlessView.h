#pragma once

#include "ComboBoxView.h"
#include "MainWindowView.h"

#include <QString>
#include <QStringList>

// The main window as the relink run sees it, without widgets: the two path
// texts and the data-file list are kept, everything else is accepted and
// forgotten. Used where no window can be shown (no display, benchmarks,
// fuzzing).
class WindowlessView : public MainWindowView, public ComboBoxView {
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
    const QStringList& items() const { return m_items; }
    bool ended() const { return m_ended; }

private:
    QString m_programPath;
    QString m_dataPath;
    QStringList m_items;
    bool m_ended = false;
};
