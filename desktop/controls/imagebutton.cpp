#include "controls/imagebutton.h"

#include <QEvent>
#include <QPaintEngine>
#include <QPainter>

#include "controls/drawing.h"
#include "resources/resources.h"

namespace {

const QColor fallbackface(0x1C, 0x2A, 0x6E);
const QColor fallbackborder(0xC8, 0xD0, 0xF0);

}  // namespace

TImageButton::TImageButton(const QString& image, const QString& text, QWidget* parent)
    : QAbstractButton(parent) {
  // Picture buttons are pointed at; a window whose buttons Tab should reach says so (Qt::TabFocus,
  // so a click never leaves a mark), and a button is marked only while it has the keyboard.
  setFocusPolicy(Qt::NoFocus);
  setText(text);
  setAccessibleName(text);
  resize(defaultWidth, defaultHeight);
  setImage(image);
}

void TImageButton::setImage(const QString& image) {
  image_ = image;
  picture_ = image.isEmpty() ? QPixmap() : resourcepicture(image);
  update();
}

void TImageButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) update();
  QAbstractButton::changeEvent(event);
}

QRect TImageButton::faceplace() const {
  const int shift = isDown() ? std::max(1, qRound(controls::drawscale(this))) : 0;
  return rect().translated(shift, shift);
}

// The ratio of what is painted on now: a window moved to a screen of another ratio, or a button
// painted into a picture, gets the picture drawn for it, not the one it was made with. (Painting
// into a picture is redirected: the engine's device is the one painted on.)
qreal TImageButton::paintratio(const QPainter& p) const {
  const QPaintDevice* target = p.paintEngine() ? p.paintEngine()->paintDevice() : nullptr;
  return target ? target->devicePixelRatioF() : devicePixelRatioF();
}

void TImageButton::drawstate(QPainter& p, const QRect& face) const {
  if (!isEnabled()) p.fillRect(rect(), QColor(0, 0, 0, 90));
  if (hasFocus()) {
    const int inset = std::max(2, qRound(2 * controls::drawscale(this)));
    p.setPen(QPen(Qt::white, std::max(1, qRound(controls::drawscale(this))), Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(face.adjusted(inset, inset, -inset - 1, -inset - 1));
  }
}

void TImageButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect face = faceplace();

  if (!picture_.isNull()) {
    const qreal ratio = paintratio(p);
    if (size() == picture_.deviceIndependentSize().toSize()) {
      p.drawPixmap(face.topLeft(), resourcepicture(image_, ratio));
    } else {
      // Drawn larger than designed: the picture drawn for that size, not this one enlarged.
      p.drawPixmap(face.topLeft(), resourcepicture(image_, size(), ratio));
    }
  } else {
    p.fillRect(face, fallbackface);
    p.setPen(fallbackborder);
    p.drawRect(face.adjusted(0, 0, -1, -1));
    p.setPen(isEnabled() ? fallbackborder : fallbackborder.darker(160));
    p.drawText(face, Qt::AlignCenter | Qt::TextSingleLine, text());
  }
  drawstate(p, face);
}
