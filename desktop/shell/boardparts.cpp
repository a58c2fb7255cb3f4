#include "shell/boardparts.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "controls/drawing.h"
#include "controls/look.h"

namespace {

// A release counts only over the component the press went to, like a button: a player who
// presses on a bone and slides away has changed their mind.
bool releasedinside(const QWidget* widget, const QMouseEvent* event) {
  return widget->rect().contains(event->position().toPoint());
}

}  // namespace

QFont pixelfont(int pixels, bool bold) {
  QFont font = look::makefont(QStringLiteral("Sans Serif"), pixels, bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void fitwidth(QLabel* label, const QString& widest) {
  QFont font = label->font();
  const int needed = QFontMetrics(font).horizontalAdvance(widest);
  const int room = label->width() - 2;
  if (needed <= room || needed <= 0) return;
  font.setStretch(qMax(50, room * 100 / needed));
  label->setFont(font);
}

TShape::TShape(int tag, int penwidth, const QColor& color, QWidget* parent)
    : QWidget(parent), tag_(tag), penwidth_(penwidth), color_(color), restcolor_(color) {
  setProperty("Tag", tag);
}

void TShape::setColor(const QColor& color) {
  if (color == color_) return;
  const bool washinted = hinted();
  color_ = color;
  update();
  if (hinted() != washinted) {
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
  }
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QBrush hatch(color_, Qt::DiagCrossPattern);
  // Drawn larger than designed, the hatch and the rim grow with the shape, so it looks as at its
  // own size, only bigger.
  const qreal scale = controls::drawscale(this);
  if (scale != 1.0) hatch.setTransform(QTransform::fromScale(scale, scale));
  p.fillRect(rect(), hatch);
  // The rim is pen-width one-pixel frames, each just inside the last.
  const int penwidth = std::max(1, qRound(penwidth_ * scale));
  for (int inset = 0; inset < penwidth; ++inset) {
    const QRect frame = rect().adjusted(inset, inset, -inset, -inset);
    controls::drawframe(p, frame, color_, color_);
  }
}

void TShape::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void TShape::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (releasedinside(this, event)) emit released(this);
}

TBone::TBone(int number, QWidget* parent) : QWidget(parent), number_(number) {
  setProperty("Tag", 0);
  setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

void TBone::setpicture(const QPixmap& picture) {
  picture_ = picture;
  setAttribute(Qt::WA_TransparentForMouseEvents, picture_.isNull());
  update();
}

void TBone::clearpicture() {
  setpicture(QPixmap());
}

void TBone::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter p(this);
  // Stretched to the component, as the picture was drawn for exactly this size (or, drawn larger
  // than designed, from the 2x pictures: smoothly, where it is not exactly the size).
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawPixmap(rect(), picture_);
}

void TBone::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void TBone::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (releasedinside(this, event)) emit released(this);
}

TPicture::TPicture(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TPicture::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) event->accept();
}

void TPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  event->accept();
  if (rect().contains(event->position().toPoint())) emit clicked();
}
