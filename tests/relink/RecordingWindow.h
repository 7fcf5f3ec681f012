#pragma once

#include "../db/RecordingCombo.h"
#include "MainWindowView.h"
#include "RunTimeError.h"

#include <QString>
#include <QStringList>

#include <functional>

// The main window as a list of calls, one readable line each ("ontop 1",
// "propoj 0", "lblDB /a/ -> /b/", "cbo add /x", ...). Lines go to an outside
// log so that the desktop's events can be merged into the same sequence.
class RecordingWindow : public MainWindowView {
public:
    explicit RecordingWindow(QStringList& log) : m_log(log)
    {
        m_combo.onCall = [this](const QString& call) { record(QStringLiteral("cbo ") + call); };
    }

    void setOnTop(bool onTop) override { record(QStringLiteral("ontop %1").arg(onTop)); }
    void setLinkButtonEnabled(bool enabled) override { record(QStringLiteral("propoj %1").arg(enabled)); }
    void setExitButtonEnabled(bool enabled) override { record(QStringLiteral("storno %1").arg(enabled)); }
    void focusMainPanel() override { record(QStringLiteral("focus Picture1")); }
    void focusExitButton() override { record(QStringLiteral("focus btnStorno")); }
    void setDbCaption(const QString& caption) override { record(QStringLiteral("lblDB ") + caption); }
    void setTableCaption(const QString& caption) override { record(QStringLiteral("lblTabulka ") + caption); }
    void setProgressValue(int value) override { record(QStringLiteral("value %1").arg(value)); }
    void setProgressMax(int max) override { record(QStringLiteral("max %1").arg(max)); }
    void setProgressVisible(bool visible) override { record(QStringLiteral("bar %1").arg(visible)); }
    void setStatusPanelVisible(bool visible) override { record(QStringLiteral("Picture2 %1").arg(visible)); }
    QString programPathText() const override { return text1; }
    ComboBoxView& dataCombo() override { return m_combo; }
    void setRunInProgress(bool running) override { record(QStringLiteral("running %1").arg(running)); }
    void unloadAndEndProcess() override { record(QStringLiteral("unload")); }

    RecordingCombo& combo() { return m_combo; }

    QString text1;
    // Called for every line before it is kept; a test may throw from it to
    // make that window call fail (a RunTimeError, as the window system would).
    std::function<void(const QString& line)> onCall;

private:
    void record(const QString& line)
    {
        if (onCall)
            onCall(line);
        m_log.append(line);
    }

    QStringList& m_log;
    RecordingCombo m_combo;
};
