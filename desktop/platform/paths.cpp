#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

QString withslash(const QString& folder) {
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

}  // namespace

QString programfolder() {
  return withslash(QCoreApplication::applicationDirPath());
}

bool canholdfiles(const QString& folder) {
  if (folder.isEmpty() || !QDir(folder).exists()) return false;
  // Permission bits do not tell the whole story (root, read-only mounts, ACLs): try it.
  QTemporaryFile probe(withslash(folder) + QStringLiteral(".pipshift-probe-XXXXXX"));
  return probe.open();
}

QString datafolderfor(const QString& programdir, const QString& fallbackdir) {
  // With no fallback to go to, stay beside the program: writes will fail and say so, but
  // nothing lands in some unrelated folder.
  if (canholdfiles(programdir) || fallbackdir.isEmpty()) return withslash(programdir);
  QDir().mkpath(fallbackdir);
  return withslash(fallbackdir);
}

QString datafolder() {
  static const QString folder = datafolderfor(
      programfolder(), QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
  return folder;
}
