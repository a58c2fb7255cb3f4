#include "windows/helpform.h"

#include <algorithm>
#include <iterator>

#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextDocument>
#include <QTextEdit>

#include "controls/accessible.h"
#include "controls/flatpanel.h"
#include "controls/selbutton.h"
#include "windows/aboutform.h"
#include "windows/windowstyle.h"

using namespace windowstyle;

namespace {

struct PageButton {
  int tag;
  int top;
  const char* caption;
};

constexpr PageButton pagebuttons[] = {{1, 8, "Overview"},
                                      {3, 32, "Game Play"},
                                      {4, 56, "Scoring"},
                                      {5, 80, "Documentation"},
                                      {6, 104, "License"}};

}  // namespace

QStringList Thelp::pagelines(int number) {
  switch (number) {
    case 1:
      return {
          "Overview",
          "",
          "This is a game I ran across while seaching the net. I love solitaire games ",
          "and this one seemed like a simple yet rewarding game. So here it is.",
      };
    case 3:
      return {
          "Game Play",
          "",
          "The goal is to sort the board to look like this:",
          "Row 1: 6/6, 6/5, 6/4, 6/3, 6/2, 6/1, 6/0",
          "Row 2: 5/5, 5/4, 5/3, 5/2, 5/1, 5/0",
          "Row 3: 4/4, 4/3, 4/2, 4/1, 4/0",
          "Row 4: 3/3, 3/2, 3/1, 3/0",
          "Row 5: 2/2, 2/1, 2/0",
          "Row 6: 1/1, 1/0",
          "Row 7: 0/0",
          "There will be an empty space at the end of each row when the board is ",
          "sorted properly.",
          "",
          "Only double bones can go in the first column to the left.",
          "",
          "Click on a double and then click on it's space in the first column on the ",
          "left.",
          "",
          "You can move any domino at any time by clicking on it and then clicking ",
          "on an empty space.",
          "",
          "When an empty space is revealed, the bone before it is the \"number\" ",
          "bone. A bone can be placed in the empty space as long as either of the ",
          "numbers on that moving piece matches the highest number on the number ",
          "bone.",
          "For example, if a row looks like this",
          "6/6, 2/3, 5/3, SPACE, 4/2",
          "Then you can place any bone that has a five on it in the space since the ",
          "highest number on the bone before the space is five.",
          "",
          "Keep moving the bones around until the board is sorted.",
          "",
          "You receive 100 clicks per game. The fewer clicks you use, the more ",
          "points you receive.",
          "",
          "You receeive five minutes to sort the board. The less time you use, the ",
          "more points you receive.",
          "",
          "If you run out of clicks or time, the game will end and you will not score ",
          "any points.",
          "",
          "By default, the Show Hints option is turned on. When this is turned on it, ",
          "valid moves are shown when you click a bone. You can turn this feature ",
          "off and on in the Options menu.",
      };
    case 4:
      return {
          "Scoring",
          "",
          "If you solve the board, you will receive the amount of clicks you have left ",
          "times 2 and the amount of time you have left times 2. Add those together to ",
          "get your final score.",
      };
    case 5:
      return {
          "History", "",  "July 13, 2013 - Version 1.0.0.1", "July 6, 2010 - Version 1.0.0.0",
          "",        " ",
      };
    case 6:
      return {
          "License Agreement ",
          "",
          "Pipshift is freeware from Quorvel Software. You may use it free of charge, "
          "for as long as you like, on as many computers as you like.",
          "",
          "You may give away copies of Pipshift, provided that each copy is complete and "
          "unchanged, carries this agreement, and is given free of charge. You may not sell "
          "it, rent it, or bundle it with anything that is sold without written permission "
          "from Quorvel Software.",
          "",
          "You may not change, take apart, or reverse engineer Pipshift, nor remove or alter "
          "its notices of ownership.",
          "",
          "Pipshift and its pictures, sounds and texts remain the property of Quorvel "
          "Software, which keeps every right not granted here.",
          "",
          "Pipshift is provided as it is, without warranty of any kind. Quorvel Software is "
          "not liable for any loss or damage that comes from using it or from being unable "
          "to use it.",
          "",
          "Using Pipshift means that you accept these terms. If you do not accept them, "
          "remove Pipshift from your computer.",
      };
    default:
      return {};
  }
}

QStringList Thelp::pageparagraphs(int number) {
  QStringList paragraphs;
  bool runson = false;
  for (const QString& line : pagelines(number)) {
    if (runson && !line.isEmpty())
      paragraphs.back() += line;
    else
      paragraphs << line;
    // A blank after the last word marks a line wrapped by hand; a line of blanks alone is text.
    runson = line.endsWith(u' ') && !line.trimmed().isEmpty();
  }
  return paragraphs;
}

Thelp::Thelp(QWidget* owner, Tabout* about)
    : QWidget(nullptr, Qt::Window), owner_(owner), about_(about) {
  setObjectName("help");
  setWindowTitle("Pipshift - Help File");
  accessible::setrole(this, QAccessible::Window);
  setFixedSize(clientWidth, clientHeight);
  paintbackground(this);
  setFont(makefont("MS Sans Serif", 11));

  panel_side = new TFlatPanel(this);
  panel_side->setObjectName("panel_side");
  panel_side->setGeometry(0, 0, 137, clientHeight);
  panel_side->setTransparent(true);
  panel_side->setColorHighLight(Qt::black);
  panel_side->setColorShadow(Qt::black);
  panel_side->setAccessibleName("Topics");

  for (const PageButton& b : pagebuttons) {
    auto* button = new TSelButton(panel_side);
    button->setObjectName(QString("SelButton%1").arg(b.tag));
    button->setGeometry(7, b.top, 122, 20);
    button->setTag(b.tag);
    stylebutton(button, b.caption, false);
    connect(button, &TSelButton::OnClick, this, &Thelp::SelButton1Click);
    SelButton[b.tag] = button;
  }

  button_about = new TSelButton(panel_side);
  button_about->setObjectName("button_about");
  button_about->setGeometry(7, 152, 122, 20);
  stylebutton(button_about, "About", false);
  connect(button_about, &TSelButton::OnClick, this, &Thelp::button_aboutClick);

  const QFont makerfont = makefont("MS Sans Serif", 11);
  makelabel(panel_side, "label_created", "Created by:", makerfont, lilac, QRect(12, 336, 0, 0));
  makelabel(panel_side, "label_maker", "Quorvel Software", makerfont, lilac, QRect(12, 352, 0, 0));
  makelabel(panel_side, "label_rights1", "Copyright (c) 2013.", makerfont, lilac,
            QRect(12, 368, 0, 0));
  makelabel(panel_side, "label_rights2", "All rights reserved.", makerfont, lilac,
            QRect(12, 384, 0, 0));

  button_done = new TSelButton(panel_side);
  button_done->setObjectName("button_done");
  button_done->setGeometry(18, 404, 95, 20);
  stylebutton(button_done, "Done", true);
  connect(button_done, &TSelButton::OnClick, this, &Thelp::button_doneClick);

  panel_main = new TFlatPanel(this);
  panel_main->setObjectName("panel_main");
  panel_main->setGeometry(137, 0, clientWidth - 137, clientHeight);
  panel_main->setTransparent(true);
  panel_main->setColorHighLight(Qt::black);
  panel_main->setColorShadow(Qt::black);
  panel_main->setAccessibleName("Help page");

  // Title and pages sit inside the panel's one-pixel frame so the frame stays in sight.
  const QRect inside = panel_main->rect().adjusted(1, 1, -1, -1);
  label_caption =
      makelabel(panel_main, "label_caption", "Overview", makefont("MS Sans Serif", 16, true), lilac,
                QRect(inside.left(), inside.top(), 0, 0));
  label_caption->setGeometry(inside.left(), inside.top(), inside.width(), 20);
  label_caption->setAlignment(Qt::AlignCenter);

  const QRect pagearea(inside.left(), inside.top() + 20, inside.width(), inside.height() - 20);
  for (int number : pagenumbers) {
    auto* page = new QTextEdit(panel_main);
    page->setObjectName(QString("memo%1").arg(number));
    page->setGeometry(pagearea);
    page->setReadOnly(true);
    page->setFrameShape(QFrame::NoFrame);
    page->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    page->setLineWrapMode(QTextEdit::WidgetWidth);
    page->setFocusPolicy(Qt::ClickFocus);  // readable and selectable, but out of the Tab order
    page->setFont(makefont("Arial", 11));
    QPalette pal = page->palette();
    pal.setColor(QPalette::Base, pagebackground);
    pal.setColor(QPalette::Text, Qt::black);
    page->setPalette(pal);
    page->document()->setDocumentMargin(5);
    page->setPlainText(pageparagraphs(number).join('\n'));
    // Read by the title its button gives it.
    for (const PageButton& b : pagebuttons)
      if (b.tag == number) page->setAccessibleName(b.caption);
    accessible::textonly(page);
    memo[number] = page;
  }

  FormCreate();
}

void Thelp::FormCreate() {
  bringtotop(memo[1]);
}

void Thelp::bringtotop(QTextEdit* page) {
  // Only the page on top is shown, so what is read (and what a screen reader finds) is the page
  // on top and nothing beneath it.
  for (QTextEdit* other : memo)
    if (other && other != page) other->hide();
  page->show();
  page->raise();
  current_ = page;
}

void Thelp::SelButton1Click(TSelButton* sender) {
  if (!sender) return;
  // Each page button carries the number of its page; the page is found by its name.
  auto* page = findChild<QTextEdit*>(QString("memo%1").arg(sender->tag()));
  if (!page) return;  // a button without a page changes nothing rather than blank the window
  bringtotop(page);
  label_caption->setText(sender->caption());
}

void Thelp::button_aboutClick() {
  if (about_) about_->showforward();
}

void Thelp::button_doneClick() {
  hide();
}

void Thelp::showforward() {
  bringforward(this);
}

// The keyboard reads the help as the mouse does: Esc is Done, Up and Down go to the topic above or
// below (as its button would), and the page keys scroll the page on show.
void Thelp::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() != Qt::NoModifier) {
    QWidget::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      button_doneClick();
      return;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      const int step = event->key() == Qt::Key_Down ? 1 : -1;
      auto at = std::find_if(std::begin(pagebuttons), std::end(pagebuttons),
                             [this](const PageButton& b) { return memo[b.tag] == current_; });
      if (at == std::end(pagebuttons)) return;
      const auto to = at + step;
      if (to >= std::begin(pagebuttons) && to < std::end(pagebuttons))
        SelButton1Click(SelButton[to->tag]);
      return;
    }
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: {
      const int key = event->key();
      const auto action = key == Qt::Key_PageUp     ? QAbstractSlider::SliderPageStepSub
                          : key == Qt::Key_PageDown ? QAbstractSlider::SliderPageStepAdd
                          : key == Qt::Key_Home     ? QAbstractSlider::SliderToMinimum
                                                    : QAbstractSlider::SliderToMaximum;
      if (current_) current_->verticalScrollBar()->triggerAction(action);
      return;
    }
    default:
      QWidget::keyPressEvent(event);
  }
}

void Thelp::showEvent(QShowEvent* event) {
  placeonshow(this, owner_, event);
  QWidget::showEvent(event);
}
