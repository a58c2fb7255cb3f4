#pragma once

// An `xdg-open` of our own, first on PATH while the object lives: a script in a scratch folder
// that appends the arguments of each call to a record. The real desktop adapter can then be
// watched from outside without a browser ever starting.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

class RecordingOpener {
 public:
  RecordingOpener() : previouspath_(qgetenv("PATH")) {
    record_ = QDir(folder_.path()).filePath(QStringLiteral("opened"));
    QFile script(QDir(folder_.path()).filePath(QStringLiteral("xdg-open")));
    // Each call: the argument count, then every argument, each ended by a NUL byte; a call half
    // written is not taken for a whole one.
    const QByteArray text =
        "#!/bin/sh\nprintf '%s\\0' \"$#\" \"$@\" >> '" + QFile::encodeName(record_) + "'\n";
    ready_ =
        folder_.isValid() && script.open(QIODevice::WriteOnly) && script.write(text) == text.size();
    script.close();
    ready_ =
        ready_ && script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(folder_.path()) + ":" + previouspath_);
  }
  ~RecordingOpener() { qputenv("PATH", previouspath_); }
  RecordingOpener(const RecordingOpener&) = delete;
  RecordingOpener& operator=(const RecordingOpener&) = delete;

  bool ready() const { return ready_; }

  // The arguments of each call recorded so far, in order.
  QList<QStringList> calls() const {
    QFile file(record_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> fields = file.readAll().split('\0');
    QList<QStringList> found;
    // The last field is what follows the last NUL: empty once every call is whole.
    for (qsizetype at = 0; at + 1 < fields.size();) {
      const int count = fields[at].toInt();
      if (at + 1 + count >= fields.size()) break;
      QStringList arguments;
      for (int k = 1; k <= count; ++k) arguments << QString::fromUtf8(fields[at + k]);
      found << arguments;
      at += 1 + count;
    }
    return found;
  }

  // The calls once there are at least n of them, or what there is when none come in time.
  QList<QStringList> waitforcalls(int n, int timeoutms = 10000) const {
    QDeadlineTimer deadline(timeoutms);
    while (calls().size() < n && !deadline.hasExpired()) QTest::qWait(10);
    return calls();
  }

 private:
  QTemporaryDir folder_;
  QByteArray previouspath_;
  QString record_;
  bool ready_ = false;
};
