#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include "controls/look.h"

class QLabel;
class QShowEvent;
class QWidget;
class TSelButton;

// Looks the help and About windows share.
namespace windowstyle {

using look::lilac;
using look::makefont;
using look::makelabel;
using look::paintbackground;

inline const QColor navy{0x00, 0x00, 0x80};
inline const QColor pagebackground{0xB5, 0xB7, 0xD7};

// The selection-button look of the help pages' buttons: lilac face, white border, bold navy
// "Arial" caption turning black under the pointer, no change of face colour.
void stylebutton(TSelButton* button, const QString& caption, bool centred);

// Makes a window a companion of its owner: kept above it, and not a window that keeps the
// program running once the owner has closed.
void keepabove(QWidget* window, const QWidget* owner);

// Shows a window, or brings it forward when it is already open.
void bringforward(QWidget* window);

// For a companion's showEvent: opening again after being closed keeps the window above its owner,
// fits it to the work area of its owner's screen (see controls::fitworkarea) and centres it again;
// coming back from the task bar leaves it where the player put it.
void placeonshow(QWidget* window, const QWidget* owner, const QShowEvent* event);

}  // namespace windowstyle
