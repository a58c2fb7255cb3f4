#include "shell/boardaccess.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QLabel>
#include <QWidget>

#include "shell/boardcursor.h"
#include "shell/boardparts.h"

namespace {

// What the factory below reads off a widget: set by BoardAccess, so the widgets themselves need
// not know about readers.
constexpr char selectedproperty[] = "pipshift_selected";
constexpr char hiddenproperty[] = "pipshift_unread";
constexpr char titleproperty[] = "pipshift_title";
constexpr char detailproperty[] = "pipshift_detail";
constexpr char quietproperty[] = "pipshift_quiet";

const QString hinttext = QStringLiteral("The selected bone may go here");

// A slot: a button named for what lies on it, that the keyboard can reach and a reader can press.
class SlotAccessible : public QAccessibleWidget {
 public:
  explicit SlotAccessible(TShape* shape) : QAccessibleWidget(shape, QAccessible::Button) {}

  TShape* shape() const { return static_cast<TShape*>(widget()); }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Description) {
      if (shape()->hinted()) return hinttext;
      if (shape()->property(selectedproperty).toBool()) return QStringLiteral("Selected");
      return {};
    }
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.focusable = true;
    s.selectable = true;
    s.selected = shape()->property(selectedproperty).toBool();
    // Marked by the hints: there is no state of that name, and "checked" is what a reader says
    // for a mark that is on.
    s.checked = shape()->hinted();
    return s;
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& name) override {
    if (name == pressAction()) {
      shape()->activate();
      return;
    }
    QAccessibleWidget::doAction(name);
  }
};

// A part a reader is not told about: it shows nothing the slots do not already say.
class UnreadAccessible : public QAccessibleWidget {
 public:
  explicit UnreadAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Client) {}
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.invisible = true;
    return s;
  }
};

// A panel that reports what happened, named by its title line.
class NoticeAccessible : public QAccessibleWidget {
 public:
  explicit NoticeAccessible(QWidget* widget)
      : QAccessibleWidget(widget, QAccessible::Notification) {}
  QString text(QAccessible::Text t) const override {
    const char* property = t == QAccessible::Name          ? titleproperty
                           : t == QAccessible::Description ? detailproperty
                                                           : nullptr;
    if (property) {
      if (const auto* label = qobject_cast<QLabel*>(widget()->property(property).value<QObject*>()))
        return label->text();
    }
    return QAccessibleWidget::text(t);
  }
};

// A label read for its text whenever a reader asks. A QLabel tells a reader of every new text as a
// name change unless it has a name of its own; it is given one (see BoardAccess::quiet), and this
// reads its text in that name's place.
class QuietAccessible : public QAccessibleWidget {
 public:
  explicit QuietAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return static_cast<QLabel*>(widget())->text();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface* boardfactory(const QString& classname, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (widget->property(hiddenproperty).toBool()) return new UnreadAccessible(widget);
  if (widget->property(titleproperty).isValid()) return new NoticeAccessible(widget);
  if (widget->property(quietproperty).toBool()) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return new QuietAccessible(label);
  }
  if (classname == QLatin1String("TShape")) return new SlotAccessible(static_cast<TShape*>(widget));
  return nullptr;
}

// Qt may have made the widget's accessible object before it was marked: where a reader is already
// listening, when the widget was first shown or hidden, and whether or not one listens, when a
// label's text was first set. The next one asked for is made anew, by the factory.
void remake(QWidget* widget) {
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

}  // namespace

BoardAccess::BoardAccess(const Slots& slotwidgets, QObject* parent)
    : QObject(parent), slots_(slotwidgets) {
  static const bool installed = [] {
    QAccessible::installFactory(boardfactory);
    return true;
  }();
  Q_UNUSED(installed);
  // Of no size: it is there to be read, not seen or clicked.
  spoken_ = new QLabel(slots_[1]->parentWidget());
  spoken_->setObjectName(QStringLiteral("boardspoken"));
  spoken_->setGeometry(0, 0, 0, 0);
  spoken_->hide();
  addnotice(spoken_, spoken_);
  update(game::Board{}, 0);
}

QString BoardAccess::spoken() const {
  return spoken_->text();
}

void BoardAccess::say(const QString& text) {
  spoken_->setText(text);
  if (spoken_->isHidden()) {
    spoken_->show();
    return;
  }
  justshown_ = nullptr;
  announce(spoken_);
}

QString BoardAccess::slotname(int slot, int bone) {
  const game::Point at = game::getcoords(slot);
  const QString where = QStringLiteral("Row %1, column %2: ").arg(at.y + 1).arg(at.x + 1);
  if (bone == 0) return where + QStringLiteral("empty");
  return where + QStringLiteral("%1/%2").arg(game::gettopnum(bone)).arg(game::getbotnum(bone));
}

void BoardAccess::update(const game::Board& board, int selectedbone) {
  const int selectedslot = selectedbone != 0 ? game::slotof(board, selectedbone) : 0;
  auto bonename = [](int bone) {
    return QStringLiteral("%1/%2").arg(game::gettopnum(bone)).arg(game::getbotnum(bone));
  };
  // A bone placed is told by the names of the two slots; one put down where it lay, by this.
  if (selectedbone != 0 && selectedbone != pickedbone_) {
    say(bonename(selectedbone) + QStringLiteral(" picked up"));
  } else if (selectedbone == 0 && pickedbone_ != 0 &&
             game::slotof(board, pickedbone_) == pickedslot_) {
    say(bonename(pickedbone_) + QStringLiteral(" let go"));
  }
  pickedbone_ = selectedbone;
  pickedslot_ = selectedslot;
  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    TShape* shape = slots_[slot];
    // Setting a new name tells a reader by itself.
    const QString name = slotname(slot, game::boneat(board, slot));
    if (shape->accessibleName() != name) shape->setAccessibleName(name);
    const bool selected = slot == selectedslot;
    if (shape->property(selectedproperty).toBool() != selected) {
      shape->setProperty(selectedproperty, selected);
      QAccessible::State changed;
      changed.selected = true;
      QAccessibleStateChangeEvent event(shape, changed);
      QAccessible::updateAccessibility(&event);
    }
  }
}

void BoardAccess::addnotice(QWidget* panel, QLabel* title, QLabel* detail) {
  panel->setProperty(titleproperty, QVariant::fromValue<QObject*>(title));
  if (detail) panel->setProperty(detailproperty, QVariant::fromValue<QObject*>(detail));
  panel->installEventFilter(this);
  remake(panel);
}

bool BoardAccess::eventFilter(QObject* watched, QEvent* event) {
  // Showing the panel tells a reader by itself; announce() need not tell it twice.
  if (event->type() == QEvent::Show) justshown_ = qobject_cast<QWidget*>(watched);
  return false;
}

void BoardAccess::announce(QWidget* panel) {
  const bool shownnow = justshown_ == panel;
  justshown_ = nullptr;
  if (shownnow || !panel->isVisible()) return;
  QAccessibleEvent named(panel, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&named);
  QAccessibleEvent shown(panel, QAccessible::ObjectShow);
  QAccessible::updateAccessibility(&shown);
}

void BoardAccess::quiet(QLabel* clock) {
  clock->setProperty(quietproperty, true);
  // Any name stops the label telling of its texts; the caption is read in its place.
  clock->setAccessibleName(QStringLiteral("Time"));
  remake(clock);
}

void BoardAccess::hide(QWidget* widget) {
  widget->setProperty(hiddenproperty, true);
  remake(widget);
}
