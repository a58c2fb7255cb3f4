#include "resources/resources.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmapCache>

namespace {

// Decodes one picture file once; later calls share it.
QPixmap decode(const QString& path) {
  QPixmap picture;
  if (QPixmapCache::find(path, &picture)) return picture;
  QImageReader reader(path, "png");
  reader.setAutoDetectImageFormat(false);
  picture = QPixmap::fromImage(reader.read());
  if (!picture.isNull()) QPixmapCache::insert(path, picture);
  return picture;
}

// The 2x picture of a picture: logo.png has logo@2x.png beside it.
QString twicepath(const QString& path) {
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot <= path.lastIndexOf(QLatin1Char('/'))) return path + QStringLiteral("@2x");
  return path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

QPixmap twice(const QString& path) {
  QPixmap finer = decode(twicepath(path));
  if (!finer.isNull()) finer.setDevicePixelRatio(2.0);
  return finer;
}

}  // namespace

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
  return resourcepicture(path, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

QPixmap resourcepicture(const QString& path, qreal ratio) {
  if (ratio > 1.0) {
    const QPixmap finer = twice(path);
    if (!finer.isNull()) return finer;
  }
  return decode(path);
}

QPixmap resourcepicture(const QString& path, const QSize& size, qreal ratio) {
  const QPixmap plain = decode(path);
  if (plain.isNull() || size.isEmpty() || ratio <= 0) return plain;
  const QSize device = (QSizeF(size) * ratio).toSize();
  if (device == plain.size()) {
    QPixmap exact = plain;
    exact.setDevicePixelRatio(ratio);
    return exact;
  }
  const QString key =
      QStringLiteral("%1 %2x%3 %4").arg(path).arg(size.width()).arg(size.height()).arg(ratio);
  QPixmap drawn;
  if (QPixmapCache::find(key, &drawn)) return drawn;
  // The finest picture there is whenever more device pixels are asked for than the 1x one has:
  // taken as it is where it fits exactly, else resampled smoothly, never enlarged from the 1x.
  QPixmap source = plain;
  if (device.width() > plain.width() || device.height() > plain.height()) {
    const QPixmap finer = twice(path);
    if (!finer.isNull()) source = finer;
  }
  drawn = source.size() == device
              ? source
              : source.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  drawn.setDevicePixelRatio(ratio);
  QPixmapCache::insert(key, drawn);
  return drawn;
}
