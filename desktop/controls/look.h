#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <Qt>

class QLabel;
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

// A see-through label showing text in the given font and colour; name becomes its object name
// (none when empty). It takes the place given, or, when that has no size, its text's own size at
// the place's top left.
QLabel* makelabel(QWidget* parent, const QString& name, const QString& text, const QFont& font,
                  const QColor& color, const QRect& place,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);

}  // namespace look
