#pragma once

#include <QPoint>
#include <QRect>

class QScreen;

// Where a window whose frame is frame goes when centred on centre: moved just enough to lie within
// the screen's work area (the desktop less its panels), so the whole window can be reached wherever
// its owner stands. Without a screen it is only centred.
QPoint centredwithin(QRect frame, const QPoint& centre, const QScreen* screen);
