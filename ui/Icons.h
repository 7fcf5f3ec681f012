#pragma once

#include <QIcon>
#include <QPixmap>

// The window icon: two computers joined by a network cable, 32 x 32 and 16 x 16.
QPixmap NetworkPixmap(int size);
QIcon WindowIcon();

// The help button's picture: a yellow question mark with a black outline on
// silver, 16 x 16.
QPixmap HelpPixmap();
