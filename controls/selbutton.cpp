#include "controls/selbutton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "controls/drawing.h"

TSelButton::TSelButton(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);  // mouse moves are reported without a button held, as callers expect
  setFont(QFont("Arial", 8));
  m_color = palette().color(QPalette::Active, QPalette::Button);
  m_pressedcaption = m_fontcolor;
  resize(defaultWidth, defaultHeight);
  connect(this, &QObject::objectNameChanged, this, [this] {
    if (!m_captionset) showFace(Face::normal);
  });
}

QString TSelButton::caption() const {
  return m_captionset ? m_caption : objectName();
}

void TSelButton::setCaption(const QString& value) {
  m_caption = value;
  m_captionset = true;
  showFace(Face::normal);
}

void TSelButton::setColor(const QColor& value) {
  m_color = value;
  showFace(Face::normal);
}

void TSelButton::setColorBorder(const QColor& value) {
  m_colorborder = value;
  showFace(Face::normal);
}

void TSelButton::setAlignment(Qt::Alignment value) {
  m_alignment = controls::horizontal(value);
  showFace(Face::normal);
}

void TSelButton::setBorderWidth(int value) {
  m_borderwidth = std::max(0, value);
  showFace(Face::normal);
}

void TSelButton::setFontColor(const QColor& value) {
  m_fontcolor = value;
  showFace(Face::normal);
}

void TSelButton::setButtonEnabled(bool value) {
  m_enabled = value;
  // A switched-off button must not go on looking hovered or held.
  if (!value) showFace(Face::normal);
}

QColor TSelButton::captionColor(Face face) const {
  switch (face) {
    case Face::normal:
      return m_fontcolor;
    case Face::over:
      return m_colorovercaption;
    case Face::pressed:
      return m_pressedcaption;
  }
  return m_fontcolor;
}

void TSelButton::showFace(Face face) {
  // The pressed face keeps whatever caption colour was on screen when the button went down.
  if (face == Face::pressed && m_face != Face::pressed) m_pressedcaption = captionColor(m_face);
  m_face = face;
  update();
}

QPoint TSelButton::captionOrigin(Face face, Qt::Alignment alignment, QSize button, QSize caption) {
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
  const QColor face = m_face == Face::normal ? m_color
                      : m_face == Face::over ? m_colorover
                                             : m_colordown;

  // The face starts one pixel inside the edge whatever the border width.
  p.fillRect(QRect(1, 1, w - 2, h - 2), face);

  const QString text = caption();
  if (!text.isEmpty()) {
    const QFontMetrics fm(font());
    const QSize size(fm.horizontalAdvance(text), fm.height());
    const QPoint at = captionOrigin(m_face, m_alignment, {w, h}, size);
    p.setFont(font());
    p.setPen(captionColor(m_face));
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(face);
    p.drawText(at.x(), at.y() + fm.ascent(), text);
  }

  for (int i = 0; i < m_borderwidth; ++i) {
    const QRect r(i, i, w - 2 * i, h - 2 * i);
    if (r.isEmpty()) break;
    controls::drawframe(p, r, m_colorborder, m_colorborder);
  }
}

bool TSelButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !m_showhint) {
    event->ignore();
    return true;
  }
  return QWidget::event(event);
}

void TSelButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) showFace(Face::normal);
  QWidget::changeEvent(event);
}

void TSelButton::pointerEntered() {
  m_pointerinside = true;
  if (m_enabled) showFace(Face::over);
}

void TSelButton::pointerLeft() {
  m_pointerinside = false;
  showFace(Face::normal);
}

void TSelButton::enterEvent(QEnterEvent*) {
  if (!m_pointerinside) pointerEntered();
}

void TSelButton::leaveEvent(QEvent*) {
  pointerLeft();
}

void TSelButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  // While a button is held Qt keeps the mouse on this widget and holds back enter and leave, so
  // crossing the edge is noticed here instead.
  if (event->buttons() != Qt::NoButton) {
    const bool inside = rect().contains(pos);
    if (inside && !m_pointerinside)
      pointerEntered();
    else if (!inside && m_pointerinside)
      pointerLeft();
  }
  emit OnMouseMove(this, event->modifiers(), pos.x(), pos.y());
}

void TSelButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  m_leftdown = true;
  if (!m_enabled) return;
  const QPoint pos = event->position().toPoint();
  QPointer<TSelButton> alive(this);
  emit OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (alive) showFace(Face::pressed);
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
  const bool clicked = m_leftdown && inside;
  m_leftdown = false;
  m_pointerinside = inside;

  QPointer<TSelButton> alive(this);
  if (clicked) {
    showFace(Face::normal);
    if (m_enabled) emit OnClick(this);
    if (!alive) return;
  }
  if (!m_enabled) return;
  emit OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (!alive) return;
  // A click handler may have hidden the window; then the pointer is no longer over this button.
  if (inside && isVisible()) showFace(Face::over);
}
