#include "QtDesktopServices.h"

#include <QApplication>
#include <QMessageBox>

void QtDesktopServices::messageBox(Icon icon, const QString& title, const QString& text)
{
    const QMessageBox::Icon boxIcon = icon == Icon::Exclamation   ? QMessageBox::Warning
                                      : icon == Icon::Information ? QMessageBox::Information
                                                                  : QMessageBox::NoIcon;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, m_owner.data());
    box.exec();
}

void QtDesktopServices::beep()
{
    QApplication::beep();
}

void QtDesktopServices::setPointer(Pointer pointer)
{
    // The pointer is a property: the override cursor is set at most once and
    // the default pointer unwinds whatever stack anyone else left.
    if (pointer == Pointer::Hourglass) {
        if (QApplication::overrideCursor())
            QApplication::changeOverrideCursor(Qt::WaitCursor);
        else
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
}

DesktopServices::Pointer QtDesktopServices::pointer() const
{
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor ? Pointer::Hourglass : Pointer::Default;
}

void QtDesktopServices::doEvents()
{
    QCoreApplication::processEvents();
}
