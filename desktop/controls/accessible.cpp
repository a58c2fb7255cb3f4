#include "controls/accessible.h"

#include <QAbstractScrollArea>
#include <QAccessibleWidget>
#include <QHash>
#include <QVariant>
#include <QWidget>

namespace accessible {

namespace {

// What the factory below reads off a widget, so the widgets themselves need not know of readers.
constexpr char roleproperty[] = "pipshift_accessrole";
constexpr char hiddenproperty[] = "pipshift_accesshidden";

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

// The controls' readers, by class name.
QHash<QString, reader>& readers() {
  static QHash<QString, reader> known;
  return known;
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
  const reader read = readers().value(classname);
  return read ? read(widget) : nullptr;
}

void install() {
  static const bool installed = [] {
    QAccessible::installFactory(interfacefor);
    return true;
  }();
  Q_UNUSED(installed);
}

void install(const char* classname, reader read) {
  install();
  readers().insert(QString::fromLatin1(classname), read);
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
