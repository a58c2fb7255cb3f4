#pragma once

// The update check and self-update behind the main window's update panel. The window owns the
// panel, its label and its buttons; this file holds what they do: which addresses to ask, whether
// the published version calls for an update, and the whole update run (move the program file
// aside, download the installer next to it, start it, leave).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

#include "online/httpprot.h"

// The update server the program asks unless the settings name another.
QString defaultupdateserver();
// The base URL to use: the configured one when it is an http address ending in "/", else the
// default.
QString updatebase(const QString& configured);
// base + "pipshift/pipshiftversion.txt"
QString versionaddress(const QString& base);
// base + "pipshift/" + installerfile
QString installeraddress(const QString& base,
                         const QString& installerfile = QStringLiteral("pshsetup.exe"));
// True when the published version text differs from ours in any byte.
bool updateoffered(const QByteArray& body, const QString& version);
// The program file's path with its extension replaced by ".BAK" (appended when it has none).
QString backupname(const QString& programfile);
// The program's folder followed by the address's last segment; empty when that segment is empty,
// "." or "..", which would name no file of its own.
QString installerlocalpath(const QString& programfile, const QString& address);

class Tupdater : public QObject {
  Q_OBJECT

 public:
  Tupdater(const QString& programfile, const QString& baseurl, const QString& siteaddress,
           QObject* parent = nullptr);

  // The installer's file name on the server, "pshsetup.exe" unless set.
  void setinstallerfile(const QString& name) { installerfile_ = name; }
  QString installeraddress() const;
  // Saves what the running program would lose by ending at once (tally, settings).
  void setsavehook(std::function<void()> hook) { savehook_ = std::move(hook); }
  // Ends the process once the installer runs; by default at once with exit code 0.
  void setexithook(std::function<void()> hook) { exithook_ = std::move(hook); }
  // Shows a message to the player; by default a message box.
  void setmessagehook(std::function<void(const QString&)> hook) { messagehook_ = std::move(hook); }

  THttpCli& getupdate() { return getupdate_; }
  const QString& status() const { return status_; }
  bool running() const { return running_; }

  // Accepting the offer: moves the program file aside under its backup name and runs
  // downloadit(). When the update cannot go on, the program file gets its own name back.
  void update();

 signals:
  // The text for the panel's status line.
  void statuschanged(const QString& text);

 private:
  void downloadit();
  void setstatus(const QString& text);
  void message(const QString& text);
  void restore();

  QString programfile_;
  QString baseurl_;
  QString siteaddress_;
  QString installerfile_ = QStringLiteral("pshsetup.exe");
  QString backup_;
  bool renamed_ = false;
  bool running_ = false;
  QString status_;
  THttpCli getupdate_;
  std::function<void()> savehook_;
  std::function<void()> exithook_;
  std::function<void(const QString&)> messagehook_;
};
