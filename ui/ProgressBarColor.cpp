#include "ProgressBarColor.h"

#include <QProgressBar>

QColor colorFromBgr(quint32 colour)
{
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

void SetBarColor(QProgressBar* bar, quint32 colour)
{
    if (!bar)
        return;
    const QColor chunk = colorFromBgr(colour);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, chunk);
    bar->setPalette(palette);
    // The palette alone leaves the shading to the style; the chunk rule gives
    // the exact colour on every style.
    bar->setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid #808080; background: #f0f0f0; }"
                                      "QProgressBar::chunk { background-color: %1; }")
                           .arg(chunk.name()));
}
