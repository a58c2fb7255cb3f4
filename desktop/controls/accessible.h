#pragma once

#include <QAccessible>
#include <QString>

class QAbstractScrollArea;
class QWidget;

// How a screen reader (over Qt's accessibility, which reaches Orca and the other readers through
// AT-SPI) meets the controls and windows of ours that Qt knows nothing about.
//
// A reader lists every object under a window and reads each by its role and name, so each has
// both: the selection buttons are buttons named by their captions, a flat panel is a group named
// by its caption or by what it holds, and a window is a frame or a dialog named by its title.
// Whatever only lays the others out, or shows nothing the others do not say, is left out.
namespace accessible {

// Installs the factory below, once; every window of ours calls it before it makes its parts.
void install();

// How a control of ours is read: the interface for one of its widgets.
using reader = QAccessibleInterface* (*)(QWidget* widget);

// Installs the factory and has it read the widgets of the class named through read. Each control
// calls it as it is made, so the controls know this file and this file knows no control.
void install(const char* classname, reader read);

// The factory install() gives Qt: the interface for object, or null where Qt's own (or another
// part's, for a widget marked with a "pipshift_" property of its own) is to read it.
QAccessibleInterface* interfacefor(const QString& classname, QObject* object);

// Reads a widget in the given role (QAccessible::Window for a frame, QAccessible::Dialog, ...),
// named by its accessible name, or a window by its title.
void setrole(QWidget* widget, QAccessible::Role role);

// Leaves a widget, and with it everything it holds, out of what a reader meets.
void hide(QWidget* widget);

// A scrolled text read as its text alone: the area it is drawn on and the frames that hold its
// scroll bars are left out, as the text scrolls under the reader's keys.
void textonly(QAbstractScrollArea* area);

}  // namespace accessible
