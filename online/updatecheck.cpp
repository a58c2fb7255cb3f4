#include "online/updatecheck.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "platform/desktop.h"

namespace {

const char* const productword = "pipshift";

// The installer's download is good only when the server said so and sent all it announced.
bool complete(const THttpCli& client) {
  if (client.ResponseCode() < 200 || client.ResponseCode() > 299) return false;
  return client.ContentLength() < 0 || client.RcvdCount() == client.ContentLength();
}

}  // namespace

QString defaultupdateserver() {
  return QStringLiteral("http://www.quorvel.example/");
}

QString updatebase(const QString& configured) {
  if (configured.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
      configured.size() > 7 && configured.endsWith(QLatin1Char('/'))) {
    return configured;
  }
  return defaultupdateserver();
}

QString versionaddress(const QString& base) {
  return base + QLatin1String(productword) + QLatin1Char('/') + QLatin1String(productword) +
         QStringLiteral("version.txt");
}

QString installeraddress(const QString& base, const QString& installerfile) {
  return base + QLatin1String(productword) + QLatin1Char('/') + installerfile;
}

bool updateoffered(const QByteArray& body, const QString& version) {
  return body != version.toLatin1();
}

QString backupname(const QString& programfile) {
  const qsizetype slash = programfile.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = programfile.lastIndexOf(QLatin1Char('.'));
  // A dot that starts the file name begins a hidden name, not an extension.
  if (dot > slash + 1) return programfile.left(dot) + QStringLiteral(".BAK");
  return programfile + QStringLiteral(".BAK");
}

QString installerlocalpath(const QString& programfile, const QString& address) {
  const QString segment = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
  if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..")) {
    return {};
  }
  return programfile.left(programfile.lastIndexOf(QLatin1Char('/')) + 1) + segment;
}

Tupdater::Tupdater(const QString& programfile, const QString& baseurl, const QString& siteaddress,
                   QObject* parent)
    : QObject(parent),
      programfile_(programfile),
      baseurl_(baseurl),
      siteaddress_(siteaddress),
      exithook_([] { std::_Exit(0); }) {}

QString Tupdater::installeraddress() const {
  return ::installeraddress(baseurl_, installerfile_);
}

void Tupdater::setstatus(const QString& text) {
  status_ = text;
  emit statuschanged(text);
}

void Tupdater::message(const QString& text) {
  if (messagehook_) {
    messagehook_(text);
  } else if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
    QMessageBox::warning(nullptr, QStringLiteral("Pipshift"), text);
  } else {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  }
}

void Tupdater::update() {
  if (running_) return;
  running_ = true;
  setstatus(QStringLiteral("Updating. Please Wait..."));
  backup_ = backupname(programfile_);
  if (QFileInfo::exists(backup_)) QFile::remove(backup_);
  renamed_ = QFile::rename(programfile_, backup_);
  try {
    downloadit();
  } catch (...) {
    restore();
    running_ = false;
    throw;
  }
  running_ = false;
}

// Puts the program file back under its own name, so that the player can start it again.
void Tupdater::restore() {
  if (!renamed_) return;
  if (!QFileInfo::exists(programfile_) && QFile::rename(backup_, programfile_)) renamed_ = false;
}

void Tupdater::downloadit() {
  const QString address = installeraddress();
  getupdate_.setRequestUrl(address);
  const QString path = installerlocalpath(programfile_, address);
  // The installer must neither land outside the program's folder nor replace the program or its
  // backup.
  if (path.isEmpty() || path == programfile_ || path == backup_) {
    setstatus(QStringLiteral("Download Aborted"));
    restore();
    return;
  }

  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    message(QStringLiteral("Cannot create file %1").arg(path));
    restore();
    return;
  }

  bool ok = false;
  getupdate_.setBodyStream(&file);
  try {
    getupdate_.Get();
    ok = complete(getupdate_);
  } catch (const EHttpException&) {
    ok = false;
  } catch (...) {
    getupdate_.setBodyStream(nullptr);
    file.close();
    file.remove();
    throw;
  }
  getupdate_.setBodyStream(nullptr);
  file.close();
  if (file.error() != QFileDevice::NoError) ok = false;
  if (!ok) {
    // Half an installer is worth nothing and would only be mistaken for a whole one.
    file.remove();
    setstatus(QStringLiteral("Download Aborted"));
    restore();
    return;
  }
  setstatus(QStringLiteral("Received ") + QString::number(QFileInfo(path).size()) +
            QStringLiteral(" bytes"));

  setstatus(QStringLiteral("Installing"));
  file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser |
                      QFileDevice::ExeGroup | QFileDevice::ExeOther);
  if (desktop().startDetached(
          path, {QStringLiteral("/SP-"), QStringLiteral("/silent"), QStringLiteral("/noicons")})) {
    // The games and settings of this run are kept before the process ends for the installer.
    if (savehook_) {
      try {
        savehook_();
      } catch (...) {
        // The installer is already running; a failed save must not keep this process alive.
      }
    }
    if (exithook_) exithook_();
    return;
  }
  message(QStringLiteral("There was an error in the update process. Please download") +
          QString::fromLatin1(productword).toUpper() + QStringLiteral(" manually from ") +
          siteaddress_ + QLatin1Char('.'));
  restore();
}
