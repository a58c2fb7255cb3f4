#include "online/highscoreform.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStringDecoder>
#include <QUrl>

#include "controls/accessible.h"
#include "controls/fitwindow.h"
#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/look.h"
#include "controls/url.h"
#include "htmlview/htmlview.h"
#include "online/httpget.h"
#include "online/scorepost.h"
#include "resources/resources.h"

namespace {

const QColor panelcolour(0x40, 0x24, 0xAE);

// Both fetches are set up alike: any type, the program's agent text, text bodies and fresh
// answers from the server itself.
void configure(THTTPGet* fetch, const char* name) {
  fetch->setObjectName(QString::fromLatin1(name));
  fetch->setAcceptTypes(QStringLiteral("*/*"));
  fetch->setAgent(QStringLiteral("Orvandi HTTPGet"));
  fetch->setBinaryData(false);
  fetch->setUseCache(false);
  fetch->setWaitThread(false);
}

}  // namespace

Thighscore::Thighscore(const QString& scoreserverbase, QWidget* parent)
    : QDialog(parent), base_(scoreserverbase) {
  setObjectName(QStringLiteral("highscore"));
  setWindowTitle(QStringLiteral("Pipshift - High Scores"));
  setModal(false);
  setSizeGripEnabled(false);
  setFixedSize(603, 561);
  look::paintbackground(this);
  setFont(look::makefont(QStringLiteral("MS Sans Serif"), 11));

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(8, 8, 88, 102);
  Image1->setPixmap(resourcepicture(QStringLiteral(":/images/highscorelogo.png")));
  accessible::hide(Image1);  // a picture that says nothing the title does not

  Label1 = look::makelabel(this, QStringLiteral("Label1"), QStringLiteral("Quorvel Software"),
                           font(), look::lilac, QRect(8, 544, 0, 0));

  panel_main = new TFlatPanel(this);
  panel_main->setObjectName(QStringLiteral("panel_main"));
  panel_main->setGeometry(112, 8, 481, 507);
  panel_main->setColor(panelcolour);
  panel_main->setColorHighLight(Qt::white);
  panel_main->setColorShadow(Qt::white);
  panel_main->setAccessibleName(QStringLiteral("High score list"));

  displayhtml = new THTMLView(panel_main);
  displayhtml->setObjectName(QStringLiteral("displayhtml"));
  displayhtml->setGeometry(panel_main->rect().adjusted(1, 1, -1, -1));
  connect(displayhtml, &THTMLView::OnHotSpotClick, this, &Thighscore::displayhtmlHotSpotClick,
          Qt::DirectConnection);

  button_done =
      new TImageButton(QStringLiteral(":/images/button_done.png"), QStringLiteral("Done"), this);
  button_done->setObjectName(QStringLiteral("button_done"));
  button_done->setGeometry(467, 518, TImageButton::defaultWidth, TImageButton::defaultHeight);
  connect(button_done, &TImageButton::clicked, this, &Thighscore::button_doneClick);

  URL1 = new TURL(this);
  URL1->setObjectName(QStringLiteral("URL1"));
  URL1->setURLType(utnone);

  getit = new THTTPGet(this);
  configure(getit, "getit");
  connect(getit, &THTTPGet::OnDoneString, this, &Thighscore::getitDoneString);
  connect(getit, &THTTPGet::OnError, this, &Thighscore::getitError);
  sendit = new THTTPGet(this);
  configure(sendit, "sendit");
  connect(sendit, &THTTPGet::OnDoneString, this, &Thighscore::senditDoneString);
  connect(sendit, &THTTPGet::OnError, this, &Thighscore::senditError);

  // Centred on the desktop's work area; placing it here also keeps Qt from centring it on the
  // main window instead when it is first shown.
  controls::centreon(this, nullptr);
}

void Thighscore::loadit() {
  // A fetch already running keeps the notice or page it put up.
  const bool started = !getit->busy();
  getit->setPostQuery(QString());
  getit->setURL(listaddress(base_));
  getit->StartFetch();
  if (started && !pageshown_) displayhtml->LoadFromString(fetchingnotice(), QString());
}

void Thighscore::postscore(const QString& name, const QString& date, const QString& score) {
  sendit->setURL(postaddress(base_, name, date, score));
  sendit->StartFetch();
}

void Thighscore::showforward() {
  if (!isVisible()) {
    controls::fitworkarea(this, screen() ? screen() : QGuiApplication::primaryScreen());
  }
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

// The reply's text is not looked at, its status is: the server says "429", "400" or "500" with a
// page of words, and a refused score taken for a stored one would be lost without a word.
void Thighscore::senditDoneString(THTTPGet*, const QByteArray&) {
  if (!postanswered(sendit->status())) {
    emit postrefused();
    return;
  }
  emit postaccepted();
  loadit();
  showforward();
}

// A refusal without a body is a refusal still; no answer at all is for the countdown to judge.
void Thighscore::senditError(THTTPGet*) {
  const int status = sendit->status();
  if (status != 0 && !postanswered(status)) emit postrefused();
}

void Thighscore::getitDoneString(THTTPGet*, const QByteArray& Result) {
  pageshown_ = true;
  displayhtml->LoadFromString(pagetext(Result), QString());
}

// An earlier list stays in view; a window that never had one says why it stays empty.
void Thighscore::getitError(THTTPGet*) {
  if (!pageshown_) displayhtml->LoadFromString(unreachablenotice(listaddress(base_)), QString());
}

QString Thighscore::fetchingnotice() {
  return QStringLiteral("<p>Fetching the high-score list...</p>");
}

QString Thighscore::unreachablenotice(const QString& address) {
  return QStringLiteral("<p>The high-score list could not be reached at ") +
         address.toHtmlEscaped() + QStringLiteral(".</p>");
}

// Links open in the player's browser, never in the view itself. A target inside the page
// ("#name") is the view's own to scroll to.
void Thighscore::displayhtmlHotSpotClick(QObject*, const QString& SRC, bool& Handled) {
  if (SRC.startsWith(u'#')) return;
  Handled = true;
  const QString address = linkaddress(SRC, listaddress(base_));
  if (address.isEmpty()) return;
  URL1->setURL(address);
  URL1->OpenURL();
}

QString Thighscore::linkaddress(const QString& link, const QString& pageaddress) {
  // Blanks around an attribute's value are no part of the address, as in any browser.
  QString address = link.trimmed();
  if (schemeof(address).isEmpty()) {
    const QUrl relative(address);
    if (!relative.isValid()) return {};
    address = QUrl(pageaddress).resolved(relative).toString(QUrl::FullyEncoded);
  }
  for (const QChar c : address) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return {};
  }
  const QString scheme = schemeof(address);
  if (scheme != u"http" && scheme != u"https" && scheme != u"mailto") return {};
  return address;
}

QString Thighscore::schemeof(const QString& link) {
  const qsizetype colon = link.indexOf(u':');
  if (colon < 1) return {};
  for (qsizetype k = 0; k < colon; ++k) {
    const char16_t c = link[k].unicode();
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
    if (!letter && (k == 0 || !other)) return {};
  }
  return link.left(colon).toLower();
}

void Thighscore::button_doneClick() {
  close();
}

QString Thighscore::pagetext(const QByteArray& page) {
  const auto declared = QStringConverter::encodingForHtml(page);
  const QStringConverter::Encoding encoding = declared.value_or(QStringConverter::Utf8);
  // Stateless: the page is complete, so a sequence cut off at its end is an error, not a wait.
  QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
  QString text = decoder.decode(page);
  if (decoder.hasError() && encoding == QStringConverter::Utf8) return QString::fromLatin1(page);
  return text;
}
