#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLabel;
class TFlatPanel;
class THTMLView;
class THTTPGet;
class TImageButton;
class TURL;

// The high-score window: the score server's list page in an HTML view, with the program's logo
// and a Done button. It is created once at start-up and only ever shown and closed. It also
// posts scores for the main window (postscore), since the list follows a successful post.
//
// Both fetches run in the background; nothing here waits for the network. Until the first page
// has arrived the view says what is going on: that the list is being fetched, or that it could
// not be reached; once a page has come, a failed fetch leaves it in view. A post the server
// refuses (any status but 2xx) is reported at once; a post that never gets an answer is left to
// the main window's countdown.
class Thighscore : public QDialog {
  Q_OBJECT

 public:
  // scoreserverbase: the score server's "http://" base address, ending in "/".
  explicit Thighscore(const QString& scoreserverbase, QWidget* parent = nullptr);

  QString scoreserverbase() const { return base_; }

  // Starts fetching the list page; while an earlier fetch is still running this does nothing
  // and that fetch's page is the one shown.
  void loadit();
  // Starts posting a score. The texts are sent as they are (encoded for the address).
  void postscore(const QString& name, const QString& date, const QString& score);
  // Shows the window without blocking the main window, or brings it forward when it is open.
  void showforward();

  // Handlers of the window's components.
  void senditDoneString(THTTPGet* Sender, const QByteArray& Result);
  void senditError(THTTPGet* Sender);
  void getitDoneString(THTTPGet* Sender, const QByteArray& Result);
  void getitError(THTTPGet* Sender);
  void displayhtmlHotSpotClick(QObject* Sender, const QString& SRC, bool& Handled);
  void button_doneClick();

  // The address a click on a link in the page at pageaddress opens, or an empty text when the
  // click must not reach the desktop. The page comes from the network and the desktop opens
  // whatever it is handed, local files and programs included, so only web and mail addresses
  // (http, https, mailto) leave the program. A link relative to the page is taken relative to
  // the page's own address, as a browser would take it; handed on as it stands, the desktop
  // would look for it among the player's files.
  static QString linkaddress(const QString& link, const QString& pageaddress);
  // The scheme a link begins with, in lower case; empty when it has none.
  static QString schemeof(const QString& link);

  // The list page's bytes as text: the encoding the page declares (byte order mark or
  // <meta charset>), else UTF-8, else Latin-1 for pages that are not valid UTF-8.
  static QString pagetext(const QByteArray& page);

  // What the view shows while the first page is on its way, and when it could not be had.
  static QString fetchingnotice();
  static QString unreachablenotice(const QString& address);
  // Whether an answer of that HTTP status means the server took the post.
  static bool postanswered(int status) { return status >= 200 && status <= 299; }

 signals:
  // The server answered a post. The main window ends its wait when it hears this; the list is
  // fetched and the window shown right after.
  void postaccepted();
  // The server answered a post with a refusal (post limit, a bad field, its database down):
  // nothing was stored.
  void postrefused();

 private:
  bool pageshown_ = false;
  QString base_;
  QLabel* Image1;
  QLabel* Label1;
  TFlatPanel* panel_main;
  THTMLView* displayhtml;
  TImageButton* button_done;
  TURL* URL1;
  THTTPGet* getit;
  THTTPGet* sendit;
};
