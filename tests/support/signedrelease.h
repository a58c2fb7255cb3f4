// Keys and folders for the tests of the signed update: a key pair made by the test itself (no
// test ever sees the release key), and a program folder nobody may write.
#pragma once

#include <sodium.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include "installer/manifest.h"
#include "installer/signature.h"

class TestKey {
 public:
  TestKey() { signature::makekeypair(public_, secret_); }
  ~TestKey() { signature::wipe(secret_); }
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;

  QByteArray publickey() const { return bytes(public_); }
  // The 64 raw bytes of data's detached signature.
  QByteArray sign(const QByteArray& data) const {
    return bytes(signature::sign(data.constData(), std::size_t(data.size()), secret_));
  }
  const signature::Bytes& secret() const { return secret_; }

  // The release of an installer's bytes, and its manifest signed by this key.
  static manifest::Release release(const QByteArray& installer, const QByteArray& version,
                                   const QByteArray& product = "pipshift",
                                   const QByteArray& name = "pshsetup.exe") {
    manifest::Release r;
    r.product = product.toStdString();
    r.version = version.toStdString();
    r.installer = name.toStdString();
    r.length = std::uint64_t(installer.size());
    r.hash.assign(manifest::hashbytes, 0);
    crypto_generichash(r.hash.data(), r.hash.size(),
                       reinterpret_cast<const unsigned char*>(installer.constData()),
                       std::size_t(installer.size()), nullptr, 0);
    return r;
  }
  QByteArray manifestof(const manifest::Release& r) const {
    return QByteArray::fromStdString(manifest::write(r, secret_));
  }
  QByteArray manifestof(const QByteArray& installer, const QByteArray& version) const {
    return manifestof(release(installer, version));
  }

  static QByteArray bytes(const signature::Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
  }
  static signature::Bytes bytes(const QByteArray& b) {
    return signature::Bytes(b.begin(), b.end());
  }

 private:
  signature::Bytes public_;
  signature::Bytes secret_;
};

// A folder in which no file can be created. Made read-only when that is enough; where it is not
// (the tests run as root, who writes anywhere), a folder of the kernel's own that takes no files.
inline QString unwritablefolder(const QString& scratch) {
  QDir(scratch).mkpath(QStringLiteral("readonly"));
  const QString folder = scratch + QStringLiteral("/readonly");
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  QFile probe(folder + QStringLiteral("/probe"));
  if (!probe.open(QIODevice::WriteOnly)) return folder;
  probe.remove();
  return QStringLiteral("/proc");
}
