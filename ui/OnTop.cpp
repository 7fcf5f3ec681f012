#include "OnTop.h"

#include <QWidget>

bool onTopWanted(const QVariant& value)
{
    if (!value.isValid())
        return true;
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::LongLong:
    case QMetaType::Long:
        return value.toLongLong() == -1;
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble() == -1.0;
    default:
        return false;
    }
}

void SetOnTop(QWidget* window, const QVariant& value)
{
    if (!window)
        return;
    const bool onTop = onTopWanted(value);
    const bool isOnTop = window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (onTop != isOnTop) {
        // Changing the flags re-creates the native window and hides it.
        const bool wasVisible = window->isVisible();
        const QPoint position = window->pos();
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        window->move(position);
        if (wasVisible)
            window->show();
    }
    if (window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
}
