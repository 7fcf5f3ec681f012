#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the core needs from the desktop: message boxes, the beep, the
// application-wide mouse pointer and "let the window catch up". The Qt
// implementation lives in ui/; tests use RecordingDesktop.
class DesktopServices {
public:
    enum class Icon { None, Exclamation, Information };
    enum class Pointer { Default, Hourglass };

    virtual ~DesktopServices() = default;

    // Modal box with one OK button; returns when the user has closed it.
    virtual void messageBox(Icon icon, const QString& title, const QString& text) = 0;
    virtual void beep() = 0;
    // A property, not a stack: setting the hourglass twice and the default
    // once leaves the default pointer.
    virtual void setPointer(Pointer pointer) = 0;
    virtual Pointer pointer() const = 0;
    // Lets pending window events run once.
    virtual void doEvents() = 0;
};

// Records every call as one readable line, so tests can assert the exact
// sequence: "box !|Vindo-ZUL|text", "box i|...", "box -|...", "beep",
// "pointer default", "pointer hourglass", "doevents".
class RecordingDesktop : public DesktopServices {
public:
    void messageBox(Icon icon, const QString& title, const QString& text) override;
    void beep() override;
    void setPointer(Pointer pointer) override;
    Pointer pointer() const override { return m_pointer; }
    void doEvents() override;

    QStringList events;
    // Called inside messageBox and doEvents, so a test can act while a box is
    // "open" or while the window catches up (for instance kill a file).
    std::function<void(const QString& event)> onEvent;

    // Only the message boxes, in order.
    QStringList boxes() const;
    void clear() { events.clear(); }

private:
    void record(const QString& line);
    Pointer m_pointer = Pointer::Default;
};
