#include "controls/fitwindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVariant>
#include <QWidget>

#include "platform/workarea.h"

namespace controls {

namespace {

constexpr char designproperty[] = "designsize";
const char* const areaname = "fitworkarea";

// Moves the window's content into a scrolled area of the designed size.
QScrollArea* scrolled(QWidget* window, const QSize& design) {
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("fitcontent"));
  content->setPalette(window->palette());
  content->setAutoFillBackground(true);
  content->setFixedSize(design);
  const QObjectList children = window->children();
  for (QObject* child : children) {
    if (!child->isWidgetType()) continue;
    auto* widget = static_cast<QWidget*>(child);
    if (widget->isWindow()) continue;
    const bool hidden = widget->isHidden();
    const QRect place = widget->geometry();
    widget->setParent(content);
    widget->setGeometry(place);
    if (!hidden) widget->show();
  }
  auto* area = new QScrollArea(window);
  area->setObjectName(QString::fromLatin1(areaname));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(false);
  area->setWidget(content);
  return area;
}

}  // namespace

void fitworkarea(QWidget* window, const QScreen* screen, const QWidget* framedlike) {
  if (!window || !screen) return;
  QSize design = window->property(designproperty).toSize();
  if (!design.isValid()) {
    design = window->size();
    window->setProperty(designproperty, design);
  }
  QSize frame = window->frameGeometry().size() - window->geometry().size();
  if (frame.isNull() && framedlike)
    frame = framedlike->frameGeometry().size() - framedlike->geometry().size();
  const QSize room = screen->availableGeometry().size() - frame;
  auto* area =
      window->findChild<QScrollArea*>(QString::fromLatin1(areaname), Qt::FindDirectChildrenOnly);
  if (!area && design.width() <= room.width() && design.height() <= room.height()) {
    window->setFixedSize(design);
    return;
  }
  if (!area) area = scrolled(window, design);
  const QSize size = design.boundedTo(room.expandedTo(QSize(1, 1)));
  window->setFixedSize(size);
  area->setGeometry(QRect(QPoint(), size));
  area->show();
}

void centreon(QWidget* window, const QWidget* owner) {
  auto decoration = [](const QWidget* w) {
    const QRect outer = w->frameGeometry();
    const QRect inner = w->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
  };
  QMargins frame = decoration(window);
  if (frame.isNull() && owner) frame = decoration(owner);
  QScreen* screen = nullptr;
  QPoint centre;
  if (owner && owner->isVisible()) {
    centre = owner->frameGeometry().center();
    screen = owner->screen();
  } else {
    screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    centre = screen->availableGeometry().center();
  }
  const QPoint outer = centredwithin(window->geometry().marginsAdded(frame), centre, screen);
  // The client area is placed, not the frame. Qt turns a frame position into the client's from
  // the frame it knows; of a window made but not yet framed it knows none, and a window manager
  // (openbox) then put the frame around the client where the frame should have gone, its title
  // bar above the top of the screen.
  window->setGeometry(QRect(outer + QPoint(frame.left(), frame.top()), window->size()));
}

}  // namespace controls
