#pragma once

#include <QStringList>

#include "platform/desktop.h"

// Stands in for the desktop while it lives, so no test starts a browser or a program; remembers
// each address it was asked to open.
class RecordingDesktop : public Desktop {
 public:
  RecordingDesktop() { setdesktop(this); }
  ~RecordingDesktop() override { setdesktop(nullptr); }
  bool openurl(const QString& address) override {
    opened << address;
    return accept;
  }
  bool startdetached(const QString&, const QStringList&) override { return false; }

  QStringList opened;
  bool accept = true;
};
