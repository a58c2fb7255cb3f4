#include "resources/resources.h"

#include <QFile>
#include <QImageReader>
#include <QPixmapCache>

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

QPixmap resourcepicture(const QString& path) {
  QPixmap picture;
  if (QPixmapCache::find(path, &picture)) return picture;
  QImageReader reader(path, "png");
  reader.setAutoDetectImageFormat(false);
  picture = QPixmap::fromImage(reader.read());
  if (!picture.isNull()) QPixmapCache::insert(path, picture);
  return picture;
}
