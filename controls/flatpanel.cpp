#include "controls/flatpanel.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

#include "controls/drawing.h"

TFlatPanel::TFlatPanel(QWidget* parent) : QWidget(parent) {
  resize(defaultWidth, defaultHeight);
  applyOpacity();
}

// A see-through face is left to Qt's compositing: the backing store already holds whatever the
// parent (and anything beneath) drew at the panel's current place, so the face is right wherever
// the panel has moved. An opaque face tells Qt not to bother painting underneath.
void TFlatPanel::applyOpacity() {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent, !m_transparent);
}

void TFlatPanel::setTransparent(bool value) {
  m_transparent = value;
  applyOpacity();
  update();
}

void TFlatPanel::setColorHighLight(const QColor& value) {
  m_colorhighlight = value;
  update();
}

void TFlatPanel::setColorShadow(const QColor& value) {
  m_colorshadow = value;
  update();
}

void TFlatPanel::setAlignment(Qt::Alignment value) {
  value = controls::horizontal(value);
  if (value == m_alignment) return;
  m_alignment = value;
  update();
}

void TFlatPanel::setCaption(const QString& value) {
  if (value == m_caption) return;
  m_caption = value;
  update();
}

QColor TFlatPanel::color() const {
  if (!m_parentcolor) return m_color;
  if (const QWidget* p = parentWidget()) return p->palette().color(p->backgroundRole());
  return palette().color(QPalette::Window);
}

void TFlatPanel::setColor(const QColor& value) {
  m_color = value;
  m_parentcolor = false;
  update();
}

void TFlatPanel::setParentColor(bool value) {
  if (value == m_parentcolor) return;
  if (!value && !m_color.isValid()) m_color = color();  // keep the face as it looks now
  m_parentcolor = value;
  update();
}

QColor TFlatPanel::fontColor() const {
  return m_fontcolor.isValid() ? m_fontcolor
                               : palette().color(QPalette::Active, QPalette::WindowText);
}

void TFlatPanel::setFontColor(const QColor& value) {
  m_fontcolor = value;
  update();
}

void TFlatPanel::changeEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
      update();
      break;
    default:
      break;
  }
  QWidget::changeEvent(event);
}

// Everything is drawn into one off-screen picture first and reaches the widget in a single copy,
// so face, frame and caption never show half-drawn.
void TFlatPanel::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  QPixmap buffer(size() * ratio);
  buffer.setDevicePixelRatio(ratio);
  buffer.fill(m_transparent ? QColor(Qt::transparent) : color());

  {
    QPainter p(&buffer);
    // One pixel wide, or as many as the panel is drawn larger than designed.
    const int frame = std::max(1, qRound(controls::drawscale(this)));
    for (int inset = 0; inset < frame; ++inset) {
      const QRect edge = rect().adjusted(inset, inset, -inset, -inset);
      if (!edge.isEmpty()) controls::drawframe(p, edge, m_colorhighlight, m_colorshadow);
    }

    if (!m_caption.isEmpty()) {
      const QRect area = captionRect();
      // Clipped to the caption rectangle: a long caption stops at the frame instead of
      // overwriting it, and never wraps.
      p.setClipRect(area);
      p.setFont(font());
      const int flags = Qt::TextSingleLine | Qt::AlignVCenter | int(m_alignment);
      if (isEnabled()) {
        p.setPen(fontColor());
        p.drawText(area, flags, m_caption);
      } else {
        p.setPen(palette().color(QPalette::Active, QPalette::Light));
        p.drawText(area.translated(1, 1), flags, m_caption);
        p.setPen(palette().color(QPalette::Active, QPalette::Dark));
        p.drawText(area, flags, m_caption);
      }
    }
  }

  QPainter out(this);
  if (!m_transparent) out.setCompositionMode(QPainter::CompositionMode_Source);
  out.drawPixmap(0, 0, buffer);
}
