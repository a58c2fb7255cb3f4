#include "controls/drawing.h"

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QVariant>
#include <QWidget>

namespace controls {

Qt::Alignment horizontal(Qt::Alignment value) {
  if (value & Qt::AlignLeft) return Qt::AlignLeft;
  if (value & Qt::AlignRight) return Qt::AlignRight;
  return Qt::AlignHCenter;
}

void drawframe(QPainter& painter, const QRect& area, const QColor& light, const QColor& dark) {
  painter.fillRect(area.left(), area.top(), area.width(), 1, light);
  painter.fillRect(area.left(), area.top(), 1, area.height(), light);
  painter.fillRect(area.left(), area.bottom(), area.width(), 1, dark);
  painter.fillRect(area.right(), area.top(), 1, area.height(), dark);
}

qreal drawscale(const QWidget* widget) {
  const QVariant value = widget->property(drawscaleproperty);
  bool ok = false;
  const qreal scale = value.toReal(&ok);
  return ok && scale > 0 ? scale : 1.0;
}

}  // namespace controls
