#include "controls/selbutton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "controls/accessible.h"
#include "controls/drawing.h"

namespace {

// A selection button: a button named by its caption, that a reader can press.
class SelButtonAccessible : public QAccessibleWidget {
 public:
  explicit SelButtonAccessible(TSelButton* button)
      : QAccessibleWidget(button, QAccessible::Button) {}

  TSelButton* button() const { return static_cast<TSelButton*>(widget()); }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && button()->accessibleName().isEmpty()) return button()->caption();
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    // Switched off, the button still looks as it always does, but a press does nothing.
    if (!button()->buttonEnabled()) s.disabled = true;
    return s;
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& name) override {
    if (name == pressAction()) {
      button()->click();
      return;
    }
    QAccessibleWidget::doAction(name);
  }
};

QAccessibleInterface* readbutton(QWidget* widget) {
  return new SelButtonAccessible(static_cast<TSelButton*>(widget));
}

}  // namespace

TSelButton::TSelButton(QWidget* parent) : QWidget(parent) {
  accessible::install("TSelButton", readbutton);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);  // mouse moves are reported without a button held, as callers expect
  setFont(QFont("Arial", 8));
  color_ = palette().color(QPalette::Active, QPalette::Button);
  pressedcaption_ = fontcolor_;
  resize(defaultWidth, defaultHeight);
  connect(this, &QObject::objectNameChanged, this, [this] {
    if (!captionset_) showface(Face::normal);
  });
}

QString TSelButton::caption() const {
  return captionset_ ? caption_ : objectName();
}

void TSelButton::setCaption(const QString& value) {
  const bool renamed = caption() != value;
  caption_ = value;
  captionset_ = true;
  showface(Face::normal);
  // A reader names the button by its caption.
  if (renamed) {
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
  }
}

void TSelButton::click() {
  if (enabled_) emit OnClick(this);
}

void TSelButton::setColor(const QColor& value) {
  color_ = value;
  showface(Face::normal);
}

void TSelButton::setColorBorder(const QColor& value) {
  colorborder_ = value;
  showface(Face::normal);
}

void TSelButton::setAlignment(Qt::Alignment value) {
  alignment_ = controls::horizontal(value);
  showface(Face::normal);
}

void TSelButton::setBorderWidth(int value) {
  borderwidth_ = std::max(0, value);
  showface(Face::normal);
}

void TSelButton::setFontColor(const QColor& value) {
  fontcolor_ = value;
  showface(Face::normal);
}

void TSelButton::setButtonEnabled(bool value) {
  enabled_ = value;
  // A switched-off button must not go on looking hovered or held.
  if (!value) showface(Face::normal);
}

QColor TSelButton::captioncolor(Face face) const {
  switch (face) {
    case Face::normal:
      return fontcolor_;
    case Face::over:
      return colorovercaption_;
    case Face::pressed:
      return pressedcaption_;
  }
  return fontcolor_;
}

void TSelButton::showface(Face face) {
  // The pressed face keeps whatever caption colour was on screen when the button went down.
  if (face == Face::pressed && face_ != Face::pressed) pressedcaption_ = captioncolor(face_);
  face_ = face;
  update();
}

QPoint TSelButton::captionorigin(Face face, Qt::Alignment alignment, QSize button, QSize caption) {
  // Each half is taken on its own with C++'s truncating division; the positions depend on it.
  const int w = button.width();
  const int tw = caption.width();
  int x;
  if (alignment & Qt::AlignLeft)
    x = 5;
  else if (alignment & Qt::AlignRight)
    x = w - tw - 6;
  else
    x = w / 2 - tw / 2;
  int y = button.height() / 2 - caption.height() / 2;
  if (face == Face::pressed) {
    ++x;
    ++y;
  }
  return {x, y};
}

void TSelButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width();
  const int h = height();
  const QColor face = face_ == Face::normal ? color_
                      : face_ == Face::over ? colorover_
                                            : colordown_;

  // The face starts one pixel inside the edge whatever the border width.
  p.fillRect(QRect(1, 1, w - 2, h - 2), face);

  const QString text = caption();
  if (!text.isEmpty()) {
    const QFontMetrics fm(font());
    const QSize size(fm.horizontalAdvance(text), fm.height());
    const QPoint at = captionorigin(face_, alignment_, {w, h}, size);
    p.setFont(font());
    p.setPen(captioncolor(face_));
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(face);
    p.drawText(at.x(), at.y() + fm.ascent(), text);
  }

  for (int i = 0; i < borderwidth_; ++i) {
    const QRect r(i, i, w - 2 * i, h - 2 * i);
    if (r.isEmpty()) break;
    controls::drawframe(p, r, colorborder_, colorborder_);
  }
}

bool TSelButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !showhint_) {
    event->ignore();
    return true;
  }
  return QWidget::event(event);
}

void TSelButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) showface(Face::normal);
  QWidget::changeEvent(event);
}

void TSelButton::pointerentered() {
  pointerinside_ = true;
  if (enabled_) showface(Face::over);
}

void TSelButton::pointerleft() {
  pointerinside_ = false;
  showface(Face::normal);
}

void TSelButton::enterEvent(QEnterEvent*) {
  if (!pointerinside_) pointerentered();
}

void TSelButton::leaveEvent(QEvent*) {
  pointerleft();
}

void TSelButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  // While a button is held Qt keeps the mouse on this widget and holds back enter and leave, so
  // crossing the edge is noticed here instead.
  if (event->buttons() != Qt::NoButton) {
    const bool inside = rect().contains(pos);
    if (inside && !pointerinside_)
      pointerentered();
    else if (!inside && pointerinside_)
      pointerleft();
  }
  emit OnMouseMove(this, event->modifiers(), pos.x(), pos.y());
}

void TSelButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  leftdown_ = true;
  if (!enabled_) return;
  const QPoint pos = event->position().toPoint();
  QPointer<TSelButton> alive(this);
  emit OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (alive) showface(Face::pressed);
}

// A left release over the button is a click, and the click is reported before the release:
// normal face, OnClick, OnMouseUp, then the over face if the pointer is still on the button.
// Released elsewhere, only OnMouseUp is raised and the face is left alone.
void TSelButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  const QPoint pos = event->position().toPoint();
  const bool inside = rect().contains(pos);
  const bool clicked = leftdown_ && inside;
  leftdown_ = false;
  pointerinside_ = inside;

  QPointer<TSelButton> alive(this);
  if (clicked) {
    showface(Face::normal);
    if (enabled_) emit OnClick(this);
    if (!alive) return;
  }
  if (!enabled_) return;
  emit OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (!alive) return;
  // A click handler may have hidden the window; then the pointer is no longer over this button.
  if (inside && isVisible()) showface(Face::over);
}
