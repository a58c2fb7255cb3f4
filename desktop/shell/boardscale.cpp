#include "shell/boardscale.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "controls/drawing.h"
#include "resources/resources.h"

namespace {

// Widgets that place their own insides (a text box's, a scroll area's) are scaled as a whole;
// what is inside them follows by their own layout.
bool placesitsown(const QWidget* widget) {
  return widget->layout() || qobject_cast<const QLineEdit*>(widget) ||
         qobject_cast<const QAbstractScrollArea*>(widget) || widget->inherits("QAbstractSpinBox") ||
         widget->inherits("QComboBox");
}

}  // namespace

BoardScale::BoardScale(QWidget* client, QWidget* board, const QSize& design)
    : QObject(board), client_(client), board_(board), design_(design), resting_(design) {
  // The frame's designed place is taken now, where it was made: at a scale of 1 it may be moved
  // to the centre before the scale first changes, and that place is no design.
  designof(board_, 1.0);
  client_->installEventFilter(this);
}

qreal BoardScale::scalefor(const QSize& client, const QSize& design) {
  if (design.isEmpty()) return 1.0;
  const qreal fit =
      std::min(qreal(client.width()) / design.width(), qreal(client.height()) / design.height());
  // Smaller only where the screen itself is smaller than the board: the window is never made
  // smaller than the board otherwise.
  return std::max(fit < 1.0 ? 1.0 / steps : 1.0, std::floor(fit * steps) / steps);
}

int BoardScale::px(int length) const {
  return int(std::lround(length * scale_));
}

bool BoardScale::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) {
    setscale(scalefor(client_->size(), design_));
  }
  return false;
}

void BoardScale::setresting(const QSize& resting) {
  resting_ = resting;
  board_->move(centred(scale_));
}

void BoardScale::setscale(qreal scale) {
  const qreal from = scale_;
  if (scale == from) {
    // At the same scale a larger or smaller client area only moves the board to its new centre.
    board_->move(centred(scale));
    return;
  }
  apply(from, scale);
  scale_ = scale;
  emit scalechanged(scale);
}

QPoint BoardScale::centred(qreal scale) const {
  QRect place = map(QRect(QPoint(2, 2), QSize(1, 1)), scale);
  for (const Design& design : designs_) {
    if (design.widget == board_) place = map(design.geometry, scale);
  }
  if (scale == 1.0 && client_->width() <= resting_.width() &&
      client_->height() <= resting_.height())
    return place.topLeft();
  const QSize area = map(QRect(QPoint(), design_), scale).size();
  const QPoint offset(std::max(0, (client_->width() - area.width()) / 2),
                      std::max(0, (client_->height() - area.height()) / 2));
  return place.topLeft() + offset;
}

QRect BoardScale::map(const QRect& rect, qreal scale) const {
  const int left = int(std::lround(rect.left() * scale));
  const int top = int(std::lround(rect.top() * scale));
  const int right = int(std::lround((rect.left() + rect.width()) * scale));
  const int bottom = int(std::lround((rect.top() + rect.height()) * scale));
  return {left, top, right - left, bottom - top};
}

// The inverse of map(): exact for any rectangle map() gave at a scale of 1 or more, which never
// rounds by as much as half a designed pixel. (Below 1 it may be a pixel out; what moves on the
// board is placed again after every change of scale.)
QRect BoardScale::unmap(const QRect& rect, qreal scale) const {
  const int left = int(std::lround(rect.left() / scale));
  const int top = int(std::lround(rect.top() / scale));
  const int right = int(std::lround((rect.left() + rect.width()) / scale));
  const int bottom = int(std::lround((rect.top() + rect.height()) / scale));
  return {left, top, right - left, bottom - top};
}

QFont BoardScale::scaled(const QFont& font, qreal scale) {
  QFont result = font;
  if (font.pixelSize() > 0) {
    result.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * scale))));
  } else if (font.pointSizeF() > 0) {
    result.setPointSizeF(font.pointSizeF() * scale);
  }
  return result;
}

void BoardScale::collect(QWidget* parent, std::vector<QWidget*>& into) const {
  for (QObject* child : parent->children()) {
    if (!child->isWidgetType()) continue;
    auto* widget = static_cast<QWidget*>(child);
    if (widget->isWindow()) continue;
    into.push_back(widget);
    if (!placesitsown(widget)) collect(widget, into);
  }
}

BoardScale::Design& BoardScale::designof(QWidget* widget, qreal from) {
  for (Design& design : designs_) {
    if (design.widget != widget) continue;
    // Moved since it was placed: its designed place is where it stands now, unscaled. (The board's
    // frame is only ever moved by this, to the centre.)
    if (widget != board_ && widget->geometry() != design.placed)
      design.geometry = unmap(widget->geometry(), from);
    if (design.ownfont && widget->font() != design.placedfont)
      design.font = scaled(widget->font(), 1.0 / from);
    return design;
  }
  Design design;
  design.widget = widget;
  design.geometry = from == 1.0 ? widget->geometry() : unmap(widget->geometry(), from);
  design.ownfont = widget->testAttribute(Qt::WA_SetFont);
  design.font = from == 1.0 ? widget->font() : scaled(widget->font(), 1.0 / from);
  if (const auto* label = qobject_cast<QLabel*>(widget)) {
    const QSize shown = label->pixmap().deviceIndependentSize().toSize();
    design.picture = from == 1.0 ? shown : (QSizeF(shown) / from).toSize();
  }
  designs_.push_back(design);
  return designs_.back();
}

void BoardScale::apply(qreal from, qreal to) {
  std::vector<QWidget*> widgets{board_};
  collect(board_, widgets);
  // Known widgets first, so that the vector of designs is not moved under the references below.
  designs_.erase(std::remove_if(designs_.begin(), designs_.end(),
                                [](const Design& d) { return d.widget.isNull(); }),
                 designs_.end());
  designs_.reserve(designs_.size() + widgets.size());

  for (QWidget* widget : widgets) {
    Design& design = designof(widget, from);

    QRect place = to == 1.0 ? design.geometry : map(design.geometry, to);
    // The whole layout at this scale, centred in the client area.
    if (widget == board_) place.moveTopLeft(centred(to));
    widget->setGeometry(place);
    design.placed = widget->geometry();

    if (design.ownfont) {
      widget->setFont(to == 1.0 ? design.font : scaled(design.font, to));
      design.placedfont = widget->font();
    } else if (widget == board_) {
      // What inside the board takes its font from the window takes it larger too.
      widget->setFont(to == 1.0 ? QFont() : scaled(design.font, to));
    }

    widget->setProperty(controls::drawscaleproperty, to == 1.0 ? QVariant() : QVariant(to));

    const QString picture = widget->property(picturepathproperty).toString();
    auto* label = qobject_cast<QLabel*>(widget);
    if (label && !picture.isEmpty() && !design.picture.isEmpty()) {
      label->setPixmap(to == 1.0 ? resourcepicture(picture)
                                 : resourcepicture(picture, (QSizeF(design.picture) * to).toSize(),
                                                   widget->devicePixelRatioF()));
    }
    widget->update();
  }
}
