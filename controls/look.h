#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

// The look every window shares: the dark board colour behind everything, the lilac of its
// captions, and fonts sized in pixels so a window keeps its design whatever the system font size.
namespace look {

inline const QColor background{0x34, 0x41, 0x43};
inline const QColor lilac{0x92, 0x94, 0xC4};

// A font by family, pixel height and boldness.
QFont makefont(const QString& family, int pixels, bool bold = false);

// Fills a window's background with the board colour.
void paintbackground(QWidget* window);

// The colour a widget writes its text in.
void settextcolor(QWidget* widget, const QColor& color);

}  // namespace look
