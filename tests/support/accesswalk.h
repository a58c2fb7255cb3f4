#pragma once

// What a screen reader meets under a window, read through Qt's accessibility as the AT-SPI bridge
// reads it: every object that is not hidden, and the ones among them that it could not name.

#include <QAccessible>
#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace accesswalk {

// Every object under root (root included) that is not hidden, parents before their children.
inline std::vector<QAccessibleInterface*> reachable(QObject* root) {
  std::vector<QAccessibleInterface*> found;
  std::vector<QAccessibleInterface*> todo;
  if (QAccessibleInterface* top = QAccessible::queryAccessibleInterface(root)) todo.push_back(top);
  while (!todo.empty()) {
    QAccessibleInterface* iface = todo.back();
    todo.pop_back();
    if (!iface->isValid() || iface->state().invisible) continue;
    found.push_back(iface);
    for (int i = iface->childCount() - 1; i >= 0; --i)
      if (QAccessibleInterface* child = iface->child(i)) todo.push_back(child);
  }
  return found;
}

// How a test names an object in a failure: its role, and its class and object name.
inline QString describe(QAccessibleInterface* iface) {
  QObject* object = iface->object();
  return QStringLiteral("%1 (%2 \"%3\")")
      .arg(qAccessibleRoleString(iface->role()))
      .arg(object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("?"))
      .arg(object ? object->objectName() : QString());
}

// The objects a reader reaches that have no name, or no role but a filler's.
inline QStringList unnamed(QObject* root) {
  QStringList out;
  for (QAccessibleInterface* iface : reachable(root)) {
    if (iface->text(QAccessible::Name).trimmed().isEmpty() ||
        iface->role() == QAccessible::Client || iface->role() == QAccessible::NoRole)
      out << describe(iface);
  }
  return out;
}

// The names a reader reads, in the order it meets them.
inline QStringList names(QObject* root) {
  QStringList out;
  for (QAccessibleInterface* iface : reachable(root)) out << iface->text(QAccessible::Name);
  return out;
}

}  // namespace accesswalk
