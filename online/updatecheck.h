#pragma once

// The update check and self-update behind the main window's update panel. The window owns the
// panel, its label and its buttons; this file holds what they do: which addresses to ask, whether
// the published version calls for an update, and the whole update run (download the installer
// and its signature next to the program, check the signature, move the program aside, start the
// installer, leave).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

#include "online/httpprot.h"
#include "product/product.h"

class QIODevice;

// base + "pipshift/pipshiftversion.txt"
QString versionaddress(const QString& base);
// base + "pipshift/" + installerfile
QString installeraddress(const QString& base, const QString& installerfile =
                                                  QString::fromLatin1(product::installerfile));
// The installer's detached signature: its address with ".sig" added.
QString signatureaddress(const QString& installeraddress);
// True when the published version text differs from ours in any byte.
bool updateoffered(const QByteArray& body, const QString& version);
// The program file's path with its extension replaced by ".BAK" (appended when it has none).
QString backupname(const QString& programfile);
// The program's folder followed by the address's last segment; empty when that segment is empty,
// "." or "..", which would name no file of its own.
QString installerlocalpath(const QString& programfile, const QString& address);
// True when the program's folder takes new files, so that an installer can replace the program
// there. A program installed where it cannot write (a package in /usr/bin) is its package
// manager's to update: it neither asks for the version nor offers an update.
bool canupdate(const QString& programfile);

class Tupdater : public QObject {
  Q_OBJECT

 public:
  // The longest a whole download (installer and signature) may take, in milliseconds, however
  // steadily its bytes come: a server that sends one byte every few seconds never trips the
  // client's timeout for silence, and must not hold the update for ever.
  static constexpr int DefaultBound = 10 * 60 * 1000;

  Tupdater(const QString& programfile, const QString& baseurl, const QString& siteaddress,
           QObject* parent = nullptr);
  ~Tupdater() override;

  // The installer's file name on the server, "pshsetup.exe" unless set.
  void setinstallerfile(const QString& name) { installerfile_ = name; }
  QString installeraddress() const;
  // The Ed25519 public key an installer's signature must verify with; the release key built into
  // the program unless set.
  void setpublickey(const QByteArray& key) { publickey_ = key; }
  // See DefaultBound.
  void setbound(int milliseconds) { bound_ = milliseconds; }
  // Saves what the running program would lose by ending at once (tally, settings). Runs before
  // the installer starts, so the two never write the folder at the same time.
  void setsavehook(std::function<void()> hook) { savehook_ = std::move(hook); }
  // Ends the process once the installer runs; by default at once with exit code 0.
  void setexithook(std::function<void()> hook) { exithook_ = std::move(hook); }
  // Shows a message to the player; by default a message box.
  void setmessagehook(std::function<void(const QString&)> hook) { messagehook_ = std::move(hook); }

  THttpCli& getupdate() { return getupdate_; }
  const QString& status() const { return status_; }
  bool running() const { return running_; }

  // Accepting the offer: downloads the installer under a temporary name beside the program, then
  // its signature; only when the signature verifies is it given its own name and the program
  // moved aside under its backup name, the settings and the tally saved and the installer
  // started. Anything else ends in "Download Aborted" with the download removed and the program
  // as it was.
  void update();

 signals:
  // The text for the panel's status line.
  void statuschanged(const QString& text);

 private:
  void downloadit();
  // Downloads address into stream; true when the server sent a whole, non-empty answer.
  bool fetch(const QString& address, QIODevice* stream);
  class PartFile;
  void removestaleparts(const QString& installerpath) const;
  void install(PartFile& part, const QString& path);
  void aborted();
  void setstatus(const QString& text);
  void message(const QString& text);
  void restore();

  QString programfile_;
  QString baseurl_;
  QString siteaddress_;
  QString installerfile_ = QString::fromLatin1(product::installerfile);
  QByteArray publickey_;
  int bound_ = DefaultBound;
  bool overtime_ = false;
  QString backup_;
  bool renamed_ = false;
  bool running_ = false;
  QString status_;
  THttpCli getupdate_;
  std::function<void()> savehook_;
  std::function<void()> exithook_;
  std::function<void(const QString&)> messagehook_;
};
