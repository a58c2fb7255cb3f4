#pragma once

// The update check and self-update behind the main window's update panel (UpdatePanel in
// shell/updateoffer.h owns the panel, its label and its buttons); this file holds what they do:
// which addresses to ask, whether the published version and its signed manifest call for an
// update, and the whole update run (download the installer and its signature next to the
// program, check them against the manifest, keep a backup of the program, start the installer,
// leave once it runs).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "installer/manifest.h"
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
// base + "pipshift/pipshiftrelease.txt": the signed release manifest.
QString releaseaddress(const QString& base);
// True when the published version text is a dotted version (digits and dots, at most 32
// characters, nothing around it) strictly newer than ours, compared number by number. An error
// page, an older or the same version, or ours not being a dotted version: nothing to offer.
bool updateoffered(const QByteArray& body, const QString& version);
// The release a manifest vouches for when it is signed by publickey, is this product's, names the
// published version text exactly, that version is newer than ours, and its installer is the one
// we download and no larger than the client takes; none otherwise.
std::optional<manifest::Release> vouchedrelease(const QByteArray& manifesttext,
                                                const QByteArray& versiontext,
                                                const QString& version, const QByteArray& publickey,
                                                const QString& installerfile);
// False for a folder that users other than us can write (group- or world-writable), unless it is
// sticky and ours: another user could put a file of theirs under the installer's name between
// our check and its start.
bool privatefolder(const QString& folder);
// The program file's path with its extension replaced by ".BAK" (appended when it has none).
QString backupname(const QString& programfile);
// The program's folder followed by the address's last segment; empty when that segment is empty,
// "." or "..", which would name no file of its own.
QString installerlocalpath(const QString& programfile, const QString& address);
// True when the program's folder takes new files, so that an installer can replace the program
// there, and no other user can write it (privatefolder). A program installed where it cannot
// write (a package in /usr/bin) is its package manager's to update: it neither asks for the
// version nor offers an update.
bool canupdate(const QString& programfile);
// Removes downloads that no running update holds any more (a killed or stopped program's): each
// download is locked by the program writing it for as long as it runs.
void removeleftoverdownloads(
    const QString& programfile,
    const QString& installerfile = QString::fromLatin1(product::installerfile));

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
  // The release the download must match, as the offer's manifest vouched for it; none: any
  // download is refused.
  void setrelease(const manifest::Release& release) { release_ = release; }
  const std::optional<manifest::Release>& release() const { return release_; }
  // Asks for the signed manifest of the published version text and keeps the release when it
  // vouches for an update to it (vouchedrelease); true then. Blocks like the download, keeping
  // the window's events flowing.
  bool askrelease(const QByteArray& versiontext, const QString& version);
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

  // Accepting the offer: downloads the installer under a temporary name beside the program, no
  // longer than the release's length, then its signature; only when it has the release's length
  // and hash and the signature verifies is it given its own name, a backup of the program made
  // beside it (a hard link, or a copy), the settings and the tally saved and the installer
  // started. The program keeps its name throughout: the installer replaces it by one rename.
  // Anything else, a launch the installer never confirms included, ends in "Download Aborted"
  // with the download removed and the program as it was.
  void update();

 signals:
  // The text for the panel's status line.
  void statuschanged(const QString& text);

 private:
  void downloadit();
  // Downloads address into stream; true when the server sent a whole, non-empty answer.
  bool fetch(const QString& address, QIODevice* stream);
  class PartFile;
  void install(PartFile& part, const QString& path);
  bool makebackup() const;
  void aborted();
  void setstatus(const QString& text);
  void message(const QString& text);

  QString programfile_;
  QString baseurl_;
  QString siteaddress_;
  QString installerfile_ = QString::fromLatin1(product::installerfile);
  QByteArray publickey_;
  int bound_ = DefaultBound;
  bool overtime_ = false;
  QString backup_;
  std::optional<manifest::Release> release_;
  bool running_ = false;
  QString status_;
  THttpCli getupdate_;
  std::function<void()> savehook_;
  std::function<void()> exithook_;
  std::function<void(const QString&)> messagehook_;
};
