#pragma once

class QScreen;
class QWidget;

namespace controls {

// Keeps a window of a fixed, designed size within the screen's work area (the desktop less its
// panels). Where the designed size does not fit (a small screen, or a large scale factor, which
// makes every window that much larger on the screen), the window is made as large as fits and its
// content scrolls inside it; where it fits, the window is as designed and nothing scrolls.
//
// The content keeps its layout: the window's children move, as they are, into a scrolled area of
// the designed size the first time the window does not fit. The frame the window manager draws
// counts: until the window has been on screen its frame is unknown, and that of `framedlike`, a
// window the window manager has framed already, stands in for it.
void fitworkarea(QWidget* window, const QScreen* screen, const QWidget* framedlike = nullptr);

// Centres a window on its owner, kept within the work area of the owner's screen; a window without
// an owner on screen is centred on its own screen's work area. Until the window has been on screen
// its frame is unknown, and the owner's, which the window manager decorates alike, stands in. The
// title bar is always on the screen: the client area is placed below where the frame goes.
void centreon(QWidget* window, const QWidget* owner);

}  // namespace controls
