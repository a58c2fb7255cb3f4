// A write-only device with room for a given number of bytes, like a disk that runs full: a write
// that does not fit fails whole with "No space left on device", and what fitted is kept in
// written. Used by the download client's tests and its fuzzer alike, so it needs nothing but
// Qt Core.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

class FullDisk : public QIODevice {
 public:
  explicit FullDisk(qint64 room) : room_(room) { open(QIODevice::WriteOnly); }
  QByteArray written;

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 length) override {
    if (length > room_) {
      setErrorString(QStringLiteral("No space left on device"));
      return -1;
    }
    room_ -= length;
    written.append(data, length);
    return length;
  }

 private:
  qint64 room_;
};
