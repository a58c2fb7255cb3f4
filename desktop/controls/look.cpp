#include "controls/look.h"

#include <QLabel>
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

QLabel* makelabel(QWidget* parent, const QString& name, const QString& text, const QFont& font,
                  const QColor& color, const QRect& place, Qt::Alignment alignment) {
  auto* label = new QLabel(text, parent);
  if (!name.isEmpty()) label->setObjectName(name);
  label->setFont(font);
  label->setAlignment(alignment);
  label->setAutoFillBackground(false);
  settextcolor(label, color);
  if (place.isEmpty()) {
    label->adjustSize();
    label->move(place.topLeft());
  } else {
    label->setGeometry(place);
  }
  return label;
}

}  // namespace look
