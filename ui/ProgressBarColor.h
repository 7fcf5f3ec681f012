#pragma once

#include <QColor>
#include <QtGlobal>

class QProgressBar;

// The colour value 0x00BBGGRR as a colour.
QColor colorFromBgr(quint32 colour);

// Paints the bar's chunk in the given colour (0x00BBGGRR).
void SetBarColor(QProgressBar* bar, quint32 colour);
