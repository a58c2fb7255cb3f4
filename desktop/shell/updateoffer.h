#pragma once

// The update offer over the board: the panel that says an update is available, its OK and Cancel,
// the status line of the update run, and what they do. The main window keeps the version fetch
// (checkupdate) and its handler names and hands each event on to this class.

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>

#include "installer/manifest.h"

class QLabel;
class QWidget;
class TFlatPanel;
class TImageButton;
class Tupdater;

class UpdatePanel : public QObject {
  Q_OBJECT

 public:
  struct Setup {
    // The running program file, which an update replaces.
    QString programfile;
    // The update server's base address and the installer's name (both known only once the
    // settings are read, after the panel is made), and the site named when an update fails.
    std::function<QString()> updateserver;
    QString siteaddress;
    std::function<QString()> installerfile;
    // The key a release must be signed with; empty: the release key built into the program.
    QByteArray publickey;
    // Our own version, as the About window shows it.
    std::function<QString()> version;
    // Saves what this run gained before the installer starts.
    std::function<void()> save;
    // Shows a message; ends the process once the installer runs (none: at once, exit code 0).
    std::function<void(const QString&)> message;
    std::function<void()> exit;
  };

  // Makes the panel, hidden, on the board with the given picture button maker.
  using ButtonMaker =
      std::function<TImageButton*(QWidget* parent, const char* name, const QString& image,
                                  const QString& text, int left, int top)>;
  UpdatePanel(QWidget* board, const ButtonMaker& makebutton, Setup setup,
              QObject* parent = nullptr);
  ~UpdatePanel() override;

  // The version text came with the given HTTP status: asks for its manifest and offers the
  // update when the answer was a success (2xx) and the manifest vouches for a newer release.
  void checkupdateDoneString(const QByteArray& result, int status);
  // Shows the offer of a release already vouched for.
  void offer(const manifest::Release& release);
  void button_updateyesClick();
  void button_updatecancelClick();
  // A new game was started: a failed update's panel makes way for it.
  void startgame();

  // Whether the program may update itself at all (its folder takes files and is ours alone).
  bool canoffer() const;
  Tupdater* updater();

  // Components, by their names.
  TFlatPanel* panel_update = nullptr;
  QLabel* label_update = nullptr;
  TImageButton* button_updateyes = nullptr;
  TImageButton* button_updatecancel = nullptr;

 private:
  // The run ended without replacing the program: the status stays, and Cancel closes it.
  void aborted();

  Setup setup_;
  Tupdater* updater_ = nullptr;
};
