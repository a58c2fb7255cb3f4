#pragma once

// Small helpers the control tests share: grabbing a widget's pixels and finding where a colour
// was painted.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <ostream>

// Readable failure messages for the Qt value types the tests compare.
inline void PrintTo(const QColor& c, std::ostream* os) {
  *os << c.name().toStdString();
}
inline void PrintTo(const QPoint& p, std::ostream* os) {
  *os << "(" << p.x() << "," << p.y() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* os) {
  *os << s.width() << "x" << s.height();
}
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.width() << "x" << r.height() << "+" << r.x() << "+" << r.y();
}

namespace painttest {

inline QImage grabbed(QWidget& w) {
  return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QColor at(const QImage& img, int x, int y) {
  return img.pixelColor(x, y);
}

// Bounding box of every pixel painted exactly in `color`; empty when there is none.
inline QRect boundsof(const QImage& img, const QColor& color, const QRect& within = QRect()) {
  const QRect area = within.isNull() ? img.rect() : within & img.rect();
  const QRgb want = color.rgb();
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF)) box |= QRect(x, y, 1, 1);
  return box;
}

inline int countof(const QImage& img, const QColor& color) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == (color.rgb() & 0xFFFFFF)) ++n;
  return n;
}

// A caption font with no smoothing, so every glyph pixel is exactly the pen colour.
inline QFont crispfont(int pixels, bool bold = true) {
  QFont f("DejaVu Sans");
  f.setPixelSize(pixels);
  f.setBold(bold);
  f.setStyleStrategy(QFont::NoAntialias);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

}  // namespace painttest
