#pragma once

// The download client's Get() under a watchdog, so a client that hangs fails its test instead of
// holding up the whole run.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "online/httpprot.h"

struct GetOutcome {
  bool raised = false;  // Get() raised; code and message are the exception's
  int code = 0;
  QString message;
  bool timedout = false;  // the watchdog had to abort the client
  qint64 elapsedms = 0;   // how long Get() took to return
};

inline GetOutcome runget(THttpCli& client, int watchdogms = 20000) {
  GetOutcome out;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    out.timedout = true;
    client.Abort();
  });
  watchdog.start(watchdogms);
  QElapsedTimer clock;
  clock.start();
  try {
    client.Get();
  } catch (const EHttpException& e) {
    out.raised = true;
    out.code = e.code();
    out.message = e.message();
  }
  out.elapsedms = clock.elapsed();
  return out;
}
