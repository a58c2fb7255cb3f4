#include "controls/accessible.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

#include "controls/flatpanel.h"
#include "controls/selbutton.h"

namespace accessible {

namespace {

// What the factory below reads off a widget, so the widgets themselves need not know of readers.
constexpr char roleproperty[] = "pipshift_accessrole";
constexpr char hiddenproperty[] = "pipshift_accesshidden";

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

// A widget a reader is not told about, nor about anything it holds.
class HiddenAccessible : public QAccessibleWidget {
 public:
  explicit HiddenAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Client) {}

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.invisible = true;
    return s;
  }
  int childCount() const override { return 0; }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

// A widget that another part of the program marked with a property of its own, named like ours,
// for a factory of its own (the board's notices are flat panels too). Qt asks the factories in
// the reverse order of their installing; that factory answers for the widget whatever the order.
bool markedelsewhere(const QObject* object) {
  const QList<QByteArray> names = object->dynamicPropertyNames();
  for (const QByteArray& name : names)
    if (name.startsWith("pipshift_") && name != roleproperty && name != hiddenproperty) return true;
  return false;
}

// Qt may have made the widget's accessible object before it was marked (where a reader listens,
// when it was first shown or hidden); the next one asked for is made anew, by the factory.
void remake(QWidget* widget) {
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

}  // namespace

QAccessibleInterface* interfacefor(const QString& classname, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  if (widget->property(hiddenproperty).toBool()) return new HiddenAccessible(widget);
  const QVariant role = widget->property(roleproperty);
  if (role.isValid()) return new QAccessibleWidget(widget, QAccessible::Role(role.toInt()));
  if (markedelsewhere(widget)) return nullptr;
  if (classname == QLatin1String("TSelButton"))
    return new SelButtonAccessible(static_cast<TSelButton*>(widget));
  if (classname == QLatin1String("TFlatPanel"))
    return new PanelAccessible(static_cast<TFlatPanel*>(widget));
  return nullptr;
}

void install() {
  static const bool installed = [] {
    QAccessible::installFactory(interfacefor);
    return true;
  }();
  Q_UNUSED(installed);
}

void setrole(QWidget* widget, QAccessible::Role role) {
  install();
  widget->setProperty(roleproperty, int(role));
  remake(widget);
}

void hide(QWidget* widget) {
  install();
  widget->setProperty(hiddenproperty, true);
  remake(widget);
}

void textonly(QAbstractScrollArea* area) {
  hide(area->viewport());
  // The frames Qt keeps the scroll bars in.
  for (QWidget* child : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QString name = child->objectName();
    if (name.startsWith(QLatin1String("qt_scrollarea_")) &&
        name.endsWith(QLatin1String("container")))
      hide(child);
  }
}

}  // namespace accessible
