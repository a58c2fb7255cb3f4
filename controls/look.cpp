#include "controls/look.h"

#include <QPalette>
#include <QWidget>

namespace look {

QFont makefont(const QString& family, int pixels, bool bold) {
  QFont font(family);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

void paintbackground(QWidget* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, background);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
}

void settextcolor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

}  // namespace look
