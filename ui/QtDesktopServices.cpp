#include "QtDesktopServices.h"

#include "Controls.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

// Where a window of its present size stands in the middle of its owner, or of
// the screen when there is no owner or it is not shown.
QPoint centredPosition(const QWidget* window, const QWidget* owner)
{
    QRect area;
    if (owner && owner->isVisible()) {
        area = owner->window()->frameGeometry();
    } else {
        const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return window->pos();
        area = screen->availableGeometry();
    }
    return area.center() - QPoint(window->width() / 2, window->height() / 2);
}

// A message box in the middle of its owner, or of the screen while the owner
// is not shown (a start that fails before the main window appears).
class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event); // sets the final size
        move(centredPosition(this, parentWidget()));
    }
};

} // namespace

void QtDesktopServices::messageBox(Icon icon, const QString& title, const QString& text)
{
    const QMessageBox::Icon boxIcon = icon == Icon::Exclamation   ? QMessageBox::Warning
                                      : icon == Icon::Information ? QMessageBox::Information
                                                                  : QMessageBox::NoIcon;
    CentredMessageBox box(boxIcon, title, text, QMessageBox::Ok, m_owner.data(), FixedDialogFlags);
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
