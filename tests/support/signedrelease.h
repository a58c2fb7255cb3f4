// Keys and folders for the tests of the signed update: a key pair made by the test itself (no
// test ever sees the release key), and a program folder nobody may write.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

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
