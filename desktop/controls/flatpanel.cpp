#include "controls/flatpanel.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QPainter>
#include <QPixmap>

#include "controls/accessible.h"
#include "controls/drawing.h"

namespace {

// A flat panel groups what it holds: named by its caption, or by the name its window gave it.
class PanelAccessible : public QAccessibleWidget {
 public:
  explicit PanelAccessible(TFlatPanel* panel) : QAccessibleWidget(panel, QAccessible::Grouping) {}

  QString text(QAccessible::Text t) const override {
    const auto* panel = static_cast<const TFlatPanel*>(widget());
    if (t == QAccessible::Name && panel->accessibleName().isEmpty()) return panel->caption();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* readpanel(QWidget* widget) {
  return new PanelAccessible(static_cast<TFlatPanel*>(widget));
}

}  // namespace

TFlatPanel::TFlatPanel(QWidget* parent) : QWidget(parent) {
  accessible::install("TFlatPanel", readpanel);
  resize(defaultWidth, defaultHeight);
  applyopacity();
}

// A see-through face is left to Qt's compositing: the backing store already holds whatever the
// parent (and anything beneath) drew at the panel's current place, so the face is right wherever
// the panel has moved. An opaque face tells Qt not to bother painting underneath.
void TFlatPanel::applyopacity() {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent, !transparent_);
}

void TFlatPanel::setTransparent(bool value) {
  transparent_ = value;
  applyopacity();
  update();
}

void TFlatPanel::setColorHighLight(const QColor& value) {
  colorhighlight_ = value;
  update();
}

void TFlatPanel::setColorShadow(const QColor& value) {
  colorshadow_ = value;
  update();
}

void TFlatPanel::setAlignment(Qt::Alignment value) {
  value = controls::horizontal(value);
  if (value == alignment_) return;
  alignment_ = value;
  update();
}

void TFlatPanel::setCaption(const QString& value) {
  if (value == caption_) return;
  caption_ = value;
  update();
  // A reader names the panel by its caption.
  QAccessibleEvent event(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&event);
}

QColor TFlatPanel::color() const {
  if (!parentcolor_) return color_;
  if (const QWidget* p = parentWidget()) return p->palette().color(p->backgroundRole());
  return palette().color(QPalette::Window);
}

void TFlatPanel::setColor(const QColor& value) {
  color_ = value;
  parentcolor_ = false;
  update();
}

void TFlatPanel::setParentColor(bool value) {
  if (value == parentcolor_) return;
  if (!value && !color_.isValid()) color_ = color();  // keep the face as it looks now
  parentcolor_ = value;
  update();
}

QColor TFlatPanel::fontColor() const {
  return fontcolor_.isValid() ? fontcolor_
                              : palette().color(QPalette::Active, QPalette::WindowText);
}

void TFlatPanel::setFontColor(const QColor& value) {
  fontcolor_ = value;
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
  buffer.fill(transparent_ ? QColor(Qt::transparent) : color());

  {
    QPainter p(&buffer);
    // One pixel wide, or as many as the panel is drawn larger than designed.
    const int frame = std::max(1, qRound(controls::drawscale(this)));
    for (int inset = 0; inset < frame; ++inset) {
      const QRect edge = rect().adjusted(inset, inset, -inset, -inset);
      if (!edge.isEmpty()) controls::drawframe(p, edge, colorhighlight_, colorshadow_);
    }

    if (!caption_.isEmpty()) {
      const QRect area = captionrect();
      // Clipped to the caption rectangle: a long caption stops at the frame instead of
      // overwriting it, and never wraps.
      p.setClipRect(area);
      p.setFont(font());
      const int flags = Qt::TextSingleLine | Qt::AlignVCenter | int(alignment_);
      if (isEnabled()) {
        p.setPen(fontColor());
        p.drawText(area, flags, caption_);
      } else {
        p.setPen(palette().color(QPalette::Active, QPalette::Light));
        p.drawText(area.translated(1, 1), flags, caption_);
        p.setPen(palette().color(QPalette::Active, QPalette::Dark));
        p.drawText(area, flags, caption_);
      }
    }
  }

  QPainter out(this);
  if (!transparent_) out.setCompositionMode(QPainter::CompositionMode_Source);
  out.drawPixmap(0, 0, buffer);
}

TFlatPanel* makeoverlay(QWidget* parent, const char* name, const QRect& place,
                        const QColor& frame) {
  auto* panel = new TFlatPanel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setGeometry(place);
  panel->setColorHighLight(frame);
  panel->setColorShadow(frame);
  panel->hide();
  return panel;
}
