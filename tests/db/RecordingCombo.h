#pragma once

// The data-file box as a list of calls, one readable line each: "clear",
// "add <item>", "text <text>"; each line is also handed to onCall.

#include "ComboBoxView.h"

#include <QString>
#include <QStringList>

#include <functional>

class RecordingCombo : public ComboBoxView {
public:
    void clear() override
    {
        record(QStringLiteral("clear"));
        items.clear();
        m_text.clear();
    }
    void addItem(const QString& item) override
    {
        record(QStringLiteral("add ") + item);
        items.append(item);
    }
    QString text() const override { return m_text; }
    void setText(const QString& text) override
    {
        record(QStringLiteral("text ") + text);
        m_text = text;
    }
    // Sets the text as the user or start-up did, before the code under test runs.
    void preset(const QString& text) { m_text = text; }

    QStringList calls;
    QStringList items;
    std::function<void(const QString& call)> onCall;

private:
    void record(const QString& call)
    {
        if (onCall)
            onCall(call);
        calls.append(call);
    }

    QString m_text;
};
