#include "online/updatecheck.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    // Held while this program writes it: a download nobody holds is a killed run's leftover.
    ::flock(fd, LOCK_EX | LOCK_NB);
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

QString releaseaddress(const QString& base) {
  return base + productword() + QLatin1Char('/') + QString::fromLatin1(product::releasefile);
}

bool updateoffered(const QByteArray& body, const QString& version) {
  const std::string ours = version.toStdString();
  const std::string_view published(body.constData(), std::size_t(body.size()));
  return manifest::isversion(published) && manifest::isversion(ours) &&
         manifest::compareversions(published, ours) > 0;
}

std::optional<manifest::Release> vouchedrelease(const QByteArray& manifesttext,
                                                const QByteArray& versiontext,
                                                const QString& version, const QByteArray& publickey,
                                                const QString& installerfile) {
  if (!updateoffered(versiontext, version)) return std::nullopt;
  auto release =
      manifest::read(std::string_view(manifesttext.constData(), std::size_t(manifesttext.size())),
                     signature::Bytes(publickey.begin(), publickey.end()));
  if (!release || release->product != product::word ||
      release->version != versiontext.toStdString() ||
      release->installer != installerfile.toStdString() || release->length == 0 ||
      release->length > std::uint64_t(THttpCli::MaxBodyLimit)) {
    return std::nullopt;
  }
  return release;
}

bool privatefolder(const QString& folder) {
  struct stat st {};
  if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return true;
  return (st.st_mode & S_ISVTX) != 0 && st.st_uid == ::geteuid();
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
  const QString folder = QFileInfo(programfile).path();
  return canholdfiles(folder) && privatefolder(folder);
}

void removeleftoverdownloads(const QString& programfile, const QString& installerfile) {
  const QString folder = QFileInfo(programfile).path();
  const QFileInfoList parts =
      QDir(folder).entryInfoList({QStringLiteral(".") + installerfile + QStringLiteral(".*.part")},
                                 QDir::Files | QDir::Hidden);
  for (const QFileInfo& part : parts) {
    if (part.isSymLink()) continue;
    const QByteArray name = QFile::encodeName(part.filePath());
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    // Nobody holds it: the run that wrote it has ended without finishing it.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(name.constData());
    ::close(fd);
  }
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
  setstatus(QStringLiteral("Updating. Please Wait..."));
  try {
    downloadit();
  } catch (...) {
    running_ = false;
    throw;
  }
  running_ = false;
}

bool Tupdater::askrelease(const QByteArray& versiontext, const QString& version) {
  release_.reset();
  if (running_ || !updateoffered(versiontext, version)) return false;
  running_ = true;
  SmallBody text{qint64(manifest::maxbytes)};
  getupdate_.setMaxBody(qint64(manifest::maxbytes));
  bool ok = false;
  try {
    ok = fetch(releaseaddress(baseurl_), &text);
  } catch (...) {
    running_ = false;
    throw;
  }
  running_ = false;
  if (ok) release_ = vouchedrelease(text.bytes(), versiontext, version, publickey_, installerfile_);
  return release_.has_value();
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

void Tupdater::downloadit() {
  // Nothing but the release the offer's manifest vouched for is ever downloaded.
  if (!release_) {
    aborted();
    return;
  }
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
  removeleftoverdownloads(programfile_, target.fileName());

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

  // Not a byte more than the manifest says the installer has: an endless answer ends here.
  getupdate_.setMaxBody(qint64(release_->length));
  bool ok = fetch(address, &part.file()) && part.finish();
  if (ok) {
    setstatus(QStringLiteral("Received ") + QString::number(QFileInfo(part.name()).size()) +
              QStringLiteral(" bytes"));
  }
  // The very bytes the manifest vouches for, and nothing else.
  std::uint64_t length = 0;
  const std::optional<signature::Bytes> hash =
      ok ? manifest::hashfile(QFile::encodeName(part.name()).toStdString(), &length) : std::nullopt;
  ok = ok && hash && length == release_->length && *hash == release_->hash;
  // The signature, from the same folder with the same client: 64 bytes, not one more. The
  // manifest already binds these bytes; programs of earlier releases check only this signature,
  // so every release carries it, and checking it too means two independent checks must both
  // fail before an installer nobody signed could run.
  SmallBody sig{qint64(signature::signaturebytes)};
  getupdate_.setMaxBody(qint64(signature::signaturebytes));
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

// The download verified: it takes the installer's name, a backup of the program is made beside
// it, what the run gained is saved, and the installer starts. The program itself is never moved:
// whenever this process is killed, the folder holds it under its own name, and the installer
// replaces it by one rename.
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
  makebackup();

  if (savehook_) {
    try {
      savehook_();
    } catch (...) {
      // The update goes on: what could not be saved now would be lost just the same by staying.
    }
  }
  setstatus(QStringLiteral("Installing"));
  // Ends only once the installer has told us it runs; otherwise this program stays.
  if (desktop().startinstaller(
          path, {QStringLiteral("/SP-"), QStringLiteral("/silent"), QStringLiteral("/noicons")})) {
    if (exithook_) exithook_();
    return;
  }
  message(QStringLiteral("There was an error in the update process. Please download") +
          productword().toUpper() + QStringLiteral(" manually from ") + siteaddress_ +
          QLatin1Char('.'));
  aborted();
}

// The program as it was, under its backup name: a second name for the same file where the folder
// allows it, else a copy made whole under a temporary name first. The running program keeps its
// own name all along.
bool Tupdater::makebackup() const {
  const QByteArray program = QFile::encodeName(programfile_);
  const QByteArray backup = QFile::encodeName(backup_);
  ::unlink(backup.constData());
  if (::link(program.constData(), backup.constData()) == 0) return true;
  const QString copy = backup_ + QStringLiteral(".new");
  QFile::remove(copy);
  if (QFile::copy(programfile_, copy) &&
      ::rename(QFile::encodeName(copy).constData(), backup.constData()) == 0) {
    return true;
  }
  QFile::remove(copy);
  return false;
}
