#pragma once

#include "DesktopServices.h"

#include <QPointer>
#include <QWidget>

// The desktop services on Qt: message boxes modal over the main window, the
// system beep, the application-wide override cursor and processEvents().
class QtDesktopServices : public DesktopServices {
public:
    explicit QtDesktopServices(QWidget* owner = nullptr) : m_owner(owner) {}

    // The window the message boxes are modal over; may change when the main
    // window is loaded again.
    void setOwner(QWidget* owner) { m_owner = owner; }
    QWidget* owner() const { return m_owner; }

    void messageBox(Icon icon, const QString& title, const QString& text) override;
    void beep() override;
    void setPointer(Pointer pointer) override;
    Pointer pointer() const override;
    void doEvents() override;

private:
    QPointer<QWidget> m_owner;
};
