#pragma once

#include "ComboBoxView.h"
#include "DesktopServices.h"
#include "MainWindowView.h"

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

// The data-file box: keeps its items and text as a real combo box would.
class NullCombo : public ComboBoxView {
public:
    void clear() override
    {
        items.clear();
        m_text.clear();
    }
    void addItem(const QString& item) override { items.append(item); }
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }

    QStringList items;

private:
    QString m_text;
};

// The main window without a screen: it holds the two paths and ignores the rest.
class NullWindow : public MainWindowView {
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
    QString programPathText() const override { return programPath; }
    ComboBoxView& dataCombo() override { return combo; }
    void setRunInProgress(bool) override {}
    void unloadAndEndProcess() override {}

    QString programPath;
    NullCombo combo;
};
