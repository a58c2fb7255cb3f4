#pragma once

#include <Qt>

class QColor;
class QPainter;
class QRect;

// What the controls that draw themselves draw alike.
namespace controls {

// Where a caption goes across its control: Qt::AlignLeft, Qt::AlignRight, or Qt::AlignHCenter for
// anything else.
Qt::Alignment horizontal(Qt::Alignment value);

// A one-pixel frame on the edge of area: top and left in light, bottom and right in dark, the dark
// edges taking the two corners they share with the light ones as a sunken frame does.
void drawframe(QPainter& painter, const QRect& area, const QColor& light, const QColor& dark);

}  // namespace controls
