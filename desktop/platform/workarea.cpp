#include "platform/workarea.h"

#include <QScreen>

QPoint centredwithin(QRect frame, const QPoint& centre, const QScreen* screen) {
  frame.moveCenter(centre);
  if (screen) {
    const QRect area = screen->availableGeometry();
    if (frame.right() > area.right()) frame.moveRight(area.right());
    if (frame.bottom() > area.bottom()) frame.moveBottom(area.bottom());
    if (frame.left() < area.left()) frame.moveLeft(area.left());
    if (frame.top() < area.top()) frame.moveTop(area.top());
  }
  return frame.topLeft();
}
