#pragma once

#include <QVariant>

class QWidget;

// Keeps a window above all others or returns it to an ordinary one. The value
// left out (an invalid QVariant), true or -1 makes the window topmost; any
// other value (false, 1, a text) makes it ordinary. Position and size stay;
// a shown window stays shown and is activated.
void SetOnTop(QWidget* window, const QVariant& value = QVariant());

// The place SetOnTop chooses for a value: true for topmost.
bool onTopWanted(const QVariant& value);
