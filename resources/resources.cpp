#include "resources/resources.h"

#include <QFile>

QStringList resourcecuenames() {
  return {"click", "entered", "gameover", "invalid", "place", "time", "timeup", "unclick"};
}

QString resourcecuepath(const QString& name) {
  const QString lower = name.toLower();
  // Only plain cue names: a name carrying a path must never reach outside :/sounds.
  if (lower.isEmpty() || !resourcecuenames().contains(lower)) return {};
  const QString path = QStringLiteral(":/sounds/") + lower + QStringLiteral(".wav");
  return QFile::exists(path) ? path : QString();
}
