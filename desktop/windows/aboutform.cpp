#include "windows/aboutform.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QShowEvent>

#include "controls/accessible.h"
#include "controls/selbutton.h"
#include "controls/url.h"
#include "resources/resources.h"
#include "windows/windowstyle.h"

using namespace windowstyle;

namespace {

const char* const logopath = ":/images/aboutlogo.png";

}  // namespace

Tabout::Tabout(QWidget* owner) : QWidget(nullptr, Qt::Dialog), owner_(owner) {
  setObjectName("about");
  setWindowTitle("Pipshift - About");
  accessible::setrole(this, QAccessible::Dialog);
  setFixedSize(clientWidth, clientHeight);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  paintbackground(this);

  const QFont labelfont = makefont("Times New Roman", 13, true);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(18, 8, 265, 66);
  const QPixmap logo = resourcepicture(QString::fromLatin1(logopath));
  if (!logo.isNull()) {
    Image1->setPixmap(logo);
    Image1->resize(logo.deviceIndependentSize().toSize());  // a 2x picture shows at 1x size
  }
  accessible::hide(Image1);  // the logo says nothing the title does not

  QFont linkfont = makefont("MS Sans Serif", 16, true);
  linkfont.setUnderline(true);
  Label7 = makelabel(this, "Label7", siteaddress, linkfont, lilac, QRect(8, 72, 0, 0));
  Label7->setGeometry(8, 72, 289, 20);
  Label7->setAlignment(Qt::AlignCenter);
  Label7->setCursor(Qt::PointingHandCursor);
  Label7->installEventFilter(this);

  Label6 = makelabel(this, "Label6", "Programmed by: Quorvel Software", labelfont, lilac,
                     QRect(4, 122, 0, 0));
  Label2 = makelabel(this, "Label2", "Copyright (c)", labelfont, lilac, QRect(4, 138, 0, 0));
  Label3 =
      makelabel(this, "Label3", "2013 Quorvel Software.", labelfont, lilac, QRect(106, 138, 0, 0));
  Label4 = makelabel(this, "Label4", "All rights reserved.", labelfont, lilac, QRect(4, 154, 0, 0));

  Label1 = makelabel(this, "Label1", "Version", labelfont, lilac, QRect(48, 171, 0, 0));
  version = makelabel(this, "version", QString::fromLatin1(programversion()), labelfont, Qt::white,
                      QRect(96, 171, 0, 0));
  Label9 = makelabel(this, "Label9", ".1", labelfont, Qt::white, QRect(123, 171, 0, 0));
  // The three pieces must read as one line, "Version 1.0.0.1". Where the fonts at hand run wider
  // than the ones the places were chosen for, each piece moves right just enough not to cover
  // its neighbour.
  const int space = Label1->fontMetrics().horizontalAdvance(' ');
  version->move(std::max(version->x(), Label1->x() + Label1->width() + space), version->y());
  Label9->move(std::max(Label9->x(), version->x() + version->width()), Label9->y());

  button_done = new TSelButton(this);
  button_done->setObjectName("button_done");
  button_done->setGeometry(202, 164, 95, 20);
  stylebutton(button_done, "Done", true);
  connect(button_done, &TSelButton::OnClick, this, &Tabout::Button1Click);

  URL1 = new TURL(this);
  URL1->setObjectName("URL1");
  URL1->setURLType(utHttp);
  URL1->setURL(siteaddress);
}

QString Tabout::versiontext() const {
  return version->text();
}

void Tabout::openlink() {
  URL1->OpenURL();
}

void Tabout::Label7Click() {
  openlink();
}

void Tabout::Button1Click() {
  close();
}

void Tabout::showforward() {
  bringforward(this);
}

void Tabout::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    Button1Click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Tabout::showEvent(QShowEvent* event) {
  placeonshow(this, owner_, event);
  QWidget::showEvent(event);
}

// The link label is a click target: a left press and a left release over it open the site.
bool Tabout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label7) {
    if (event->type() == QEvent::MouseButtonPress) {
      auto* e = static_cast<QMouseEvent*>(event);
      linkpressed_ = e->button() == Qt::LeftButton;
      return linkpressed_;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton) return false;
      const bool click = linkpressed_ && Label7->rect().contains(e->position().toPoint());
      linkpressed_ = false;
      if (click) Label7Click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
