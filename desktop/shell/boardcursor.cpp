#include "shell/boardcursor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "controls/drawing.h"
#include "shell/boardparts.h"

namespace {

// Notes whether the last press anywhere in the program was a key's or a mouse button's. Apart
// from the keys' own filter, which an application-wide one would see every event of twice.
class InputWatch : public QObject {
 public:
  InputWatch(bool& bykeys, QObject* parent) : QObject(parent), bykeys_(bykeys) {}
  ~InputWatch() override {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::ShortcutOverride:
        bykeys_ = true;
        break;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
        bykeys_ = false;
        break;
      default:
        break;
    }
    return false;
  }

 private:
  bool& bykeys_;
};

}  // namespace

// Gold: it stands out on the dark board, on the hatch and beside the red highlight alike.
const QColor BoardCursor::color(0xFF, 0xD4, 0x00);

BoardCursor::BoardCursor(const Slots& slotwidgets)
    : QWidget(slotwidgets[1]->parentWidget()), slots_(slotwidgets) {
  setObjectName(QStringLiteral("boardcursor"));
  setAttribute(Qt::WA_TransparentForMouseEvents, true);
  // The frame is a picture of where the keyboard is; the slot under it is what a screen reader
  // is told about.
  setAccessibleName(QString());
  hide();
  place();
}

void BoardCursor::home() {
  moveto(1);
}

void BoardCursor::moveto(int slot) {
  const game::Point at = game::getcoords(slot);
  row_ = at.y;
  column_ = at.x;
  place();
  emit moved(slot);
}

bool BoardCursor::step(int key) {
  int row = row_;
  int column = column_;
  switch (key) {
    case Qt::Key_Left:
      column = std::max(0, column - 1);
      break;
    case Qt::Key_Right:
      column = std::min(game::rowlength(row) - 1, column + 1);
      break;
    case Qt::Key_Up:
      // Every row is at least as long as the one below it, so the column is always there.
      row = std::max(0, row - 1);
      break;
    case Qt::Key_Down:
      if (row + 1 < game::kRowCount) {
        ++row;
        column = std::min(column, game::rowlength(row) - 1);
      }
      break;
    default:
      return false;
  }
  if (row != row_ || column != column_) {
    row_ = row;
    column_ = column;
    place();
    emit moved(slot());
  }
  return true;
}

void BoardCursor::setshown(bool shown) {
  shown_ = shown;
  setVisible(shown);
}

void BoardCursor::place() {
  const QRect around = slots_[slot()]->geometry();
  const int gap = int(std::lround(margin * controls::drawscale(this)));
  setGeometry(around.adjusted(-gap, -gap, gap, gap));
  update();
}

void BoardCursor::focusslot() {
  slots_[slot()]->setFocus(Qt::OtherFocusReason);
}

void BoardCursor::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int width = std::max(1, int(std::lround(thickness * controls::drawscale(this))));
  for (int inset = 0; inset < width; ++inset) {
    controls::drawframe(p, rect().adjusted(inset, inset, -inset, -inset), color, color);
  }
}

// ---- Keys -----------------------------------------------------------------------------------

BoardKeys::BoardKeys(QWidget* window, BoardCursor* cursor)
    : QObject(window), window_(window), cursor_(cursor) {
  window_->installEventFilter(this);
  // Which of keys and mouse the player uses is seen in every window of the program: a game is
  // also started from the deal chooser, or by a menu opened from the keyboard.
  qApp->installEventFilter(new InputWatch(bykeys_, this));
  watchwindow();
  // A slot acted on from elsewhere (a screen reader's "press") is where the keyboard is now.
  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    connect(cursor->allslots()[slot], &TShape::activated, this, [this, slot] {
      cursor_->moveto(slot);
      if (boardhaskeyboard()) cursor_->focusslot();
      emit activated(slot);
    });
  }
}

void BoardKeys::addpanel(QWidget* panel, QAbstractButton* enter, QAbstractButton* escape,
                         QWidget* focus) {
  panels_.push_back({panel, enter, escape, focus});
  panel->installEventFilter(this);
  if (focus && panel->isVisibleTo(window_)) focus->setFocus(Qt::OtherFocusReason);
}

void BoardKeys::newgame() {
  cursor_->home();
  cursor_->setshown(bykeys_);
  // Unless the player is typing, the keyboard is on the board from the start of the game.
  if (boardhaskeyboard()) cursor_->focusslot();
}

const BoardKeys::Panel* BoardKeys::panelfor(const QObject* widget) const {
  for (const Panel& panel : panels_) {
    if (panel.widget == widget) return &panel;
  }
  return nullptr;
}

// The panels stack like their parent's children, the last made or raised on top. A panel inside
// another (the wait over the cleared board's buttons) goes with the one that holds it.
QWidget* BoardKeys::toppanel() const {
  QWidget* top = nullptr;
  qsizetype topindex = -1;
  for (const Panel& panel : panels_) {
    QWidget* widget = panel.widget;
    if (!widget || !widget->isVisibleTo(window_) || nested(widget)) continue;
    const qsizetype index = widget->parentWidget()->children().indexOf(widget);
    if (index > topindex) {
      top = widget;
      topindex = index;
    }
  }
  return top;
}

bool BoardKeys::nested(const QWidget* widget) const {
  return std::any_of(panels_.begin(), panels_.end(), [widget](const Panel& outer) {
    return outer.widget && outer.widget != widget && outer.widget->isAncestorOf(widget);
  });
}

// The innermost panel shown inside the top one answers Enter and Esc; the top one when there is
// none.
const BoardKeys::Panel* BoardKeys::answering(const QWidget* top) const {
  const Panel* found = panelfor(top);
  for (const Panel& panel : panels_) {
    QWidget* widget = panel.widget;
    if (widget && widget->isVisibleTo(window_) && found && found->widget &&
        found->widget->isAncestorOf(widget))
      found = &panel;
  }
  return found;
}

// Under a panel shown above it: in view to the toolkit, out of the player's sight.
bool BoardKeys::covered(const QWidget* widget) const {
  for (const Panel& panel : panels_) {
    const QWidget* cover = panel.widget;
    if (!cover || cover == widget || cover->isAncestorOf(widget) || !cover->isVisibleTo(window_))
      continue;
    const QWidget* parent = cover->parentWidget();
    // The widget itself, or its forebear among the panel's siblings.
    const QWidget* branch = widget;
    while (branch && branch->parentWidget() != parent) branch = branch->parentWidget();
    if (!branch) continue;
    const QObjectList& stack = parent->children();
    if (stack.indexOf(branch) < stack.indexOf(cover) &&
        branch->geometry().intersects(cover->geometry()))
      return true;
  }
  return false;
}

bool BoardKeys::tab(bool next) {
  QWidget* top = toppanel();
  if (!top) return false;
  QList<QWidget*> chain;
  for (QWidget* widget : top->findChildren<QWidget*>()) {
    if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(window_) &&
        widget->isEnabled())
      chain << widget;
  }
  const qsizetype count = chain.size();
  const qsizetype at = chain.indexOf(window_->focusWidget());
  // From the focus onwards (a covered one included, so the keyboard leaves it for the next one
  // in view), the first widget the player can see.
  for (qsizetype step = 1; step <= count; ++step) {
    const qsizetype to = at < 0 ? (next ? step - 1 : count - step)
                                : (at + (next ? step : count * step - step)) % count;
    if (covered(chain[to])) continue;
    chain[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
  }
  return true;
}

// A text box keeps every key it takes: the board moves and acts only while none has the focus.
bool BoardKeys::boardhaskeyboard() const {
  const QWidget* focus = window_->focusWidget();
  return !focus || !focus->isVisibleTo(window_) || !focus->testAttribute(Qt::WA_InputMethodEnabled);
}

// Mouse presses reach the window system's window before any widget, whichever widget takes them.
void BoardKeys::watchwindow() {
  QWindow* handle = window_->windowHandle();
  if (!handle || handle == handle_) return;
  if (handle_) handle_->removeEventFilter(this);
  handle_ = handle;
  handle_->installEventFilter(this);
}

bool BoardKeys::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    switch (event->type()) {
      case QEvent::WinIdChange:
      case QEvent::Show:
        watchwindow();
        break;
      case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (keypress(key->key(), key->modifiers())) {
          key->accept();
          return true;
        }
        break;
      }
      default:
        break;
    }
    return false;
  }
  if (watched == handle_) {
    if (event->type() == QEvent::MouseButtonPress) cursor_->setshown(false);
    return false;
  }
  if (const Panel* panel = panelfor(watched)) {
    QWidget* focus = window_->focusWidget();
    if (event->type() == QEvent::Show && panel->focus) {
      panel->focus->setFocus(Qt::OtherFocusReason);
    } else if (event->type() == QEvent::Show && focus && covered(focus)) {
      // The button just pressed (Send Score) now lies under the panel it brought up: Space
      // must not press it again, so the keyboard goes on to the next one in view.
      tab(true);
    } else if (event->type() == QEvent::Hide) {
      // Sent before the toolkit moves a focus that the panel took with it; the keyboard goes
      // back to the board rather than to whatever widget comes next.
      const QWidget* focus = window_->focusWidget();
      if (!focus || panel->widget->isAncestorOf(focus)) cursor_->focusslot();
    }
  }
  return false;
}

bool BoardKeys::keypress(int key, Qt::KeyboardModifiers modifiers) {
  // Combinations belong to the menus and their shortcuts; the keypad's arrows count as arrows.
  if (modifiers & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) return false;
  switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      QWidget* top = toppanel();
      const Panel* panel = top ? answering(top) : nullptr;
      // A button the player has tabbed to takes Enter, unless the panel on top has a default
      // button of its own: that one is the answer Enter gives (the update panel's is Cancel, so
      // Enter never starts an update).
      auto* focused = qobject_cast<QAbstractButton*>(window_->focusWidget());
      if (key != Qt::Key_Escape && focused && focused->isVisibleTo(window_) &&
          focused->isEnabled() && !covered(focused) &&
          (!top || (top->isAncestorOf(focused) && !panel->enter))) {
        focused->click();
        return true;
      }
      if (!top) break;
      QAbstractButton* button = key == Qt::Key_Escape ? panel->escape : panel->enter;
      // The panel on top has the say even where it does nothing, so Enter never reaches the
      // board beneath a panel the player has not answered. A button the panel hides (the update
      // panel's, while the update runs) cannot be pressed by key either.
      if (button && button->isVisibleTo(window_) && button->isEnabled()) button->click();
      return true;
    }
    default:
      break;
  }
  if (!boardhaskeyboard()) return false;
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      cursor_->step(key);
      cursor_->setshown(true);
      cursor_->focusslot();
      return true;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      cursor_->setshown(true);
      cursor_->focusslot();
      emit activated(cursor_->slot());
      return true;
    default:
      return false;
  }
}
