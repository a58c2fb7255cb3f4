#pragma once

#include <Qt>

class QColor;
class QPainter;
class QRect;
class QWidget;

// What the controls that draw themselves draw alike.
namespace controls {

// Where a caption goes across its control: Qt::AlignLeft, Qt::AlignRight, or Qt::AlignHCenter for
// anything else.
Qt::Alignment horizontal(Qt::Alignment value);

// A one-pixel frame on the edge of area: top and left in light, bottom and right in dark, the dark
// edges taking the two corners they share with the light ones as a sunken frame does.
void drawframe(QPainter& painter, const QRect& area, const QColor& light, const QColor& dark);

// The name of the property through which a window tells a control that it is drawn larger than
// designed (2.0: twice the size). Lines and margins a control draws grow with it.
inline constexpr char drawscaleproperty[] = "drawscale";

// The scale a widget is drawn at: its drawscale property, 1 where none is set.
qreal drawscale(const QWidget* widget);

}  // namespace controls
