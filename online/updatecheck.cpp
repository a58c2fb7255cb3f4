#include "online/updatecheck.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "installer/releasekey.h"
#include "installer/signature.h"
#include "platform/desktop.h"
#include "platform/paths.h"

namespace {

QString productword() {
  return QString::fromLatin1(product::word);
}

// The installer's download is good only when the server said so and sent all it announced, and
// that was something: an empty installer is no installer.
bool complete(const THttpCli& client) {
  if (client.ResponseCode() < 200 || client.ResponseCode() > 299) return false;
  if (client.RcvdCount() <= 0) return false;
  return client.ContentLength() < 0 || client.RcvdCount() == client.ContentLength();
}

// Holds a small answer whole and refuses to grow past its limit: a signature is 64 bytes, and a
// server that sends more must not fill the memory with it.
class SmallBody : public QIODevice {
 public:
  explicit SmallBody(qint64 limit) : limit_(limit) { open(QIODevice::WriteOnly); }
  const QByteArray& bytes() const { return bytes_; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (bytes_.size() + size > limit_) {
      setErrorString(QStringLiteral("more than %1 bytes").arg(limit_));
      return -1;
    }
    bytes_.append(data, size);
    return size;
  }

 private:
  qint64 limit_;
  QByteArray bytes_;
};

}  // namespace

// A download while it is unfinished or unchecked: a file of its own beside the installer, hidden,
// never taken for it, removed unless it is kept.
class Tupdater::PartFile {
 public:
  explicit PartFile(const QString& installerpath) {
    const QFileInfo info(installerpath);
    QByteArray name = QFile::encodeName(info.path() + QStringLiteral("/.") + info.fileName() +
                                        QStringLiteral(".XXXXXX.part"));
    const int fd = ::mkostemps(name.data(), 5, O_CLOEXEC);
    if (fd < 0) return;
    name_ = QFile::decodeName(name);
    if (!file_.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) ::close(fd);
  }
  ~PartFile() {
    file_.close();
    if (!kept_ && !name_.isEmpty()) QFile::remove(name_);
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  bool isopen() const { return file_.isOpen(); }
  QFile& file() { return file_; }
  const QString& name() const { return name_; }
  // Made whole on disk and closed: a program still open for writing cannot be started.
  bool finish() {
    const bool ondisk = file_.flush() && ::fsync(file_.handle()) == 0;
    file_.close();
    return ondisk && file_.error() == QFileDevice::NoError;
  }
  // Once it has taken the installer's name.
  void keep() { kept_ = true; }

 private:
  QFile file_;
  QString name_;
  bool kept_ = false;
};

QString versionaddress(const QString& base) {
  return base + productword() + QLatin1Char('/') + QString::fromLatin1(product::versionfile);
}

QString installeraddress(const QString& base, const QString& installerfile) {
  return base + productword() + QLatin1Char('/') + installerfile;
}

QString signatureaddress(const QString& installeraddress) {
  return installeraddress + QStringLiteral(".sig");
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

bool canupdate(const QString& programfile) {
  return canholdfiles(QFileInfo(programfile).path());
}

Tupdater::Tupdater(const QString& programfile, const QString& baseurl, const QString& siteaddress,
                   QObject* parent)
    : QObject(parent),
      programfile_(programfile),
      baseurl_(baseurl),
      siteaddress_(siteaddress),
      exithook_([] { std::_Exit(0); }) {
  const signature::Bytes key = releasepublickey();
  publickey_ = QByteArray(reinterpret_cast<const char*>(key.data()), qsizetype(key.size()));
}

Tupdater::~Tupdater() = default;

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

void Tupdater::aborted() {
  setstatus(QStringLiteral("Download Aborted"));
}

void Tupdater::update() {
  if (running_) return;
  running_ = true;
  renamed_ = false;
  setstatus(QStringLiteral("Updating. Please Wait..."));
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

bool Tupdater::fetch(const QString& address, QIODevice* stream) {
  getupdate_.setRequestUrl(address);
  getupdate_.setBodyStream(stream);
  bool ok = false;
  try {
    getupdate_.Get();
    ok = !overtime_ && complete(getupdate_);
  } catch (const EHttpException&) {
    ok = false;
  } catch (...) {
    getupdate_.setBodyStream(nullptr);
    throw;
  }
  getupdate_.setBodyStream(nullptr);
  return ok;
}

// Downloads that a killed or stopped program left behind. One younger than the bound may belong
// to an update still running in another copy of the program, and stays.
void Tupdater::removestaleparts(const QString& installerpath) const {
  const QFileInfo info(installerpath);
  const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-qint64(bound_));
  const QFileInfoList parts =
      QDir(info.path())
          .entryInfoList({QStringLiteral(".") + info.fileName() + QStringLiteral(".*.part")},
                         QDir::Files | QDir::Hidden);
  for (const QFileInfo& part : parts) {
    if (!part.isSymLink() && part.lastModified().toUTC() < before) {
      QFile::remove(part.filePath());
    }
  }
}

void Tupdater::downloadit() {
  const QString address = installeraddress();
  const QString path = installerlocalpath(programfile_, address);
  backup_ = backupname(programfile_);
  // The installer must neither land outside the program's folder nor replace the program or its
  // backup.
  if (path.isEmpty() || path == programfile_ || path == backup_) {
    aborted();
    return;
  }
  const QFileInfo target(path);
  if (target.exists() && !target.isFile()) {
    message(QStringLiteral("Cannot create file %1").arg(path));
    return;
  }
  removestaleparts(path);

  // Until it is whole and its signature verifies, the download has a name of its own that
  // nothing starts; a process killed meanwhile leaves the program as it was.
  PartFile part(path);
  if (!part.isopen()) {
    message(QStringLiteral("Cannot create file %1").arg(path));
    return;
  }

  overtime_ = false;
  QTimer bound;
  bound.setSingleShot(true);
  connect(&bound, &QTimer::timeout, this, [this] {
    overtime_ = true;
    getupdate_.Abort();
  });
  bound.start(bound_);

  bool ok = fetch(address, &part.file()) && part.finish();
  if (ok) {
    setstatus(QStringLiteral("Received ") + QString::number(QFileInfo(part.name()).size()) +
              QStringLiteral(" bytes"));
  }
  // The signature, from the same folder with the same client: 64 bytes, not one more.
  SmallBody sig{qint64(signature::signaturebytes)};
  ok = ok && fetch(signatureaddress(address), &sig) &&
       sig.bytes().size() == qsizetype(signature::signaturebytes);
  bound.stop();
  ok = ok && signature::verifyfile(QFile::encodeName(part.name()).toStdString(),
                                   signature::Bytes(sig.bytes().begin(), sig.bytes().end()),
                                   signature::Bytes(publickey_.begin(), publickey_.end()));
  if (!ok) {
    // Half an installer, or one nobody vouches for, is worth nothing and must never be run; the
    // part goes with this function.
    aborted();
    return;
  }
  install(part, path);
}

// The download verified: it takes the installer's name, the program moves aside, what the run
// gained is saved, and the installer starts in a folder nobody else writes any more.
void Tupdater::install(PartFile& part, const QString& path) {
  QFile::setPermissions(part.name(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                         QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther);
  if (::rename(QFile::encodeName(part.name()).constData(), QFile::encodeName(path).constData()) !=
      0) {
    message(QStringLiteral("Cannot create file %1").arg(path));
    aborted();
    return;
  }
  part.keep();

  if (QFileInfo::exists(backup_)) QFile::remove(backup_);
  renamed_ = QFile::rename(programfile_, backup_);

  if (savehook_) {
    try {
      savehook_();
    } catch (...) {
      // The update goes on: what could not be saved now would be lost just the same by staying.
    }
  }
  setstatus(QStringLiteral("Installing"));
  if (desktop().startdetached(
          path, {QStringLiteral("/SP-"), QStringLiteral("/silent"), QStringLiteral("/noicons")})) {
    if (exithook_) exithook_();
    return;
  }
  message(QStringLiteral("There was an error in the update process. Please download") +
          productword().toUpper() + QStringLiteral(" manually from ") + siteaddress_ +
          QLatin1Char('.'));
  restore();
}
