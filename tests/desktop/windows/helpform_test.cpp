#include "windows/helpform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QWindow>
#include <memory>

#include "controls/flatpanel.h"
#include "controls/selbutton.h"
#include "windows/aboutform.h"

namespace {

QStringList paragraphs(const QTextEdit* page) {
  QStringList out;
  for (QTextBlock b = page->document()->begin(); b.isValid(); b = b.next()) out << b.text();
  return out;
}

// The main window, the About window and the help window, made in the program's order.
class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.setGeometry(200, 150, 640, 480);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    aboutwindow = std::make_unique<Tabout>(&owner);
    helpwindow = std::make_unique<Thelp>(&owner, aboutwindow.get());
    about = aboutwindow.get();
    help = helpwindow.get();
  }

  TSelButton* button(const char* name) const {
    auto* b = help->findChild<TSelButton*>(name);
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  void click(TSelButton* b) const { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(20, 10)); }
  QString title() const { return help->label_caption->text(); }
  QString shownpage() const {
    QStringList visible;
    for (int n : Thelp::pagenumbers)
      if (help->memo[n]->isVisibleTo(help)) visible << help->memo[n]->objectName();
    return visible.join(",");
  }

  QWidget owner;
  std::unique_ptr<Tabout> aboutwindow;
  std::unique_ptr<Thelp> helpwindow;
  Tabout* about = nullptr;
  Thelp* help = nullptr;
};

}  // namespace

TEST_F(HelpTest, LayoutOfTheWindow) {
  EXPECT_EQ(help->objectName(), "help");
  EXPECT_EQ(help->windowTitle(), "Pipshift - Help File");
  EXPECT_EQ(help->size(), QSize(523, 431));
  EXPECT_EQ(help->minimumSize(), help->maximumSize()) << "fixed size";
  EXPECT_TRUE(help->isWindow());
  EXPECT_FALSE(help->isModal());

  auto* side = help->findChild<TFlatPanel*>("panel_side");
  auto* main = help->findChild<TFlatPanel*>("panel_main");
  ASSERT_TRUE(side && main);
  EXPECT_EQ(side->geometry(), QRect(0, 0, 137, 431));
  EXPECT_EQ(main->geometry(), QRect(137, 0, 386, 431));
  for (TFlatPanel* p : {side, main}) {
    EXPECT_TRUE(p->transparent());
    EXPECT_EQ(p->colorHighLight(), QColor(Qt::black));
    EXPECT_EQ(p->colorShadow(), QColor(Qt::black));
  }

  const struct {
    const char* name;
    int tag, top;
    const char* caption;
  } pages[] = {{"SelButton1", 1, 8, "Overview"},
               {"SelButton3", 3, 32, "Game Play"},
               {"SelButton4", 4, 56, "Scoring"},
               {"SelButton5", 5, 80, "Documentation"},
               {"SelButton6", 6, 104, "License"}};
  for (const auto& p : pages) {
    TSelButton* b = button(p.name);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->parentWidget(), side);
    EXPECT_EQ(b->geometry(), QRect(7, p.top, 122, 20)) << p.name;
    EXPECT_EQ(b->tag(), p.tag);
    EXPECT_EQ(b->caption(), p.caption);
    EXPECT_EQ(b->alignment(), Qt::AlignLeft);
    EXPECT_EQ(help->SelButton[p.tag], b);
  }
  EXPECT_EQ(button("button_about")->geometry(), QRect(7, 152, 122, 20));
  EXPECT_EQ(button("button_about")->caption(), "About");
  EXPECT_EQ(button("button_done")->geometry(), QRect(18, 404, 95, 20));
  EXPECT_EQ(button("button_done")->caption(), "Done");
  EXPECT_EQ(button("button_done")->alignment(), Qt::AlignHCenter);

  QStringList maker;
  for (QLabel* l : side->findChildren<QLabel*>()) {
    EXPECT_EQ(l->x(), 12);
    EXPECT_LT(l->geometry().right(), side->width() - 1) << l->text().toStdString() << " is cut off";
    maker << QString::number(l->y()) + " " + l->text();
  }
  maker.sort();
  ASSERT_EQ(maker.size(), 4);
  EXPECT_EQ(maker[0], "336 Created by:");
  EXPECT_EQ(maker[1], "352 Quorvel Software");
  EXPECT_TRUE(maker[2].startsWith("368 "));
  EXPECT_TRUE(maker[3].startsWith("384 "));

  auto* caption = help->findChild<QLabel*>("label_caption");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->parentWidget(), main);
  EXPECT_EQ(caption->height(), 20);
}

TEST_F(HelpTest, PagesAreReadOnlyScrollingAndOutOfTheTabOrder) {
  for (int n : Thelp::pagenumbers) {
    auto* page = help->findChild<QTextEdit*>(QString("memo%1").arg(n));
    ASSERT_NE(page, nullptr) << n;
    EXPECT_EQ(help->memo[n], page);
    EXPECT_TRUE(page->isReadOnly());
    EXPECT_EQ(page->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(page->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(page->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(page->document()->documentMargin(), 5);
    EXPECT_EQ(page->palette().color(QPalette::Base), QColor(0xB5, 0xB7, 0xD7));
    EXPECT_EQ(page->geometry(), help->memo[1]->geometry()) << "stacked on one another";
    EXPECT_EQ(paragraphs(page), Thelp::pageparagraphs(n));
  }
  EXPECT_EQ(help->findChild<QTextEdit*>("memo2"), nullptr);

  // Typing into a page changes nothing.
  QTextEdit* page = help->memo[4];
  const QString before = page->toPlainText();
  page->setFocus();
  QTest::keyClicks(page, "xyz");
  EXPECT_EQ(page->toPlainText(), before);
}

TEST(HelpPages, TextsReadAsWritten) {
  const QStringList overview = Thelp::pagelines(1);
  ASSERT_EQ(overview.size(), 4);
  EXPECT_EQ(overview[2],
            "This is a game I ran across while seaching the net. I love solitaire games ");

  const QStringList play = Thelp::pagelines(3);
  ASSERT_EQ(play.size(), 44);
  EXPECT_EQ(play[0], "Game Play");
  // Each row lists its suit once, from the double down, which is the board the game checks.
  EXPECT_EQ(play[3], "Row 1: 6/6, 6/5, 6/4, 6/3, 6/2, 6/1, 6/0");
  for (int row = 1; row <= 7; ++row) {
    const int suit = 7 - row;
    QStringList bones;
    for (int low = suit; low >= 0; --low) bones << QString("%1/%2").arg(suit).arg(low);
    EXPECT_EQ(play[2 + row], QString("Row %1: ").arg(row) + bones.join(", "));
  }
  EXPECT_EQ(play[15], "Click on a double and then click on it's space in the first column on the ");
  EXPECT_EQ(play[21], "When an empty space is revealed, the bone before it is the \"number\" ");
  EXPECT_EQ(play[26], "6/6, 2/3, 5/3, SPACE, 4/2");
  EXPECT_EQ(play[35], "You receeive five minutes to sort the board. The less time you use, the ");
  EXPECT_EQ(play[43], "off and on in the Options menu.");

  const QStringList scoring = Thelp::pagelines(4);
  ASSERT_EQ(scoring.size(), 5);
  EXPECT_EQ(scoring[4], "get your final score.");

  const QStringList history = Thelp::pagelines(5);
  const QStringList wanthistory = {
      "History", "", "July 13, 2013 - Version 1.0.0.1", "July 6, 2010 - Version 1.0.0.0", "", " "};
  EXPECT_EQ(history, wanthistory);

  const QStringList license = Thelp::pagelines(6);
  ASSERT_GT(license.size(), 2);
  EXPECT_EQ(license[0], "License Agreement ");
  EXPECT_TRUE(license.join(' ').contains("Quorvel Software"));

  EXPECT_TRUE(Thelp::pagelines(2).isEmpty());
}

TEST_F(HelpTest, StartsOnTheOverview) {
  EXPECT_EQ(shownpage(), "memo1");
  EXPECT_EQ(help->currentpage(), help->memo[1]);
  EXPECT_EQ(title(), "Overview");
  EXPECT_FALSE(help->isVisible());
}

TEST_F(HelpTest, PageButtonShowsItsPageUnderItsCaption) {
  help->showforward();
  click(button("SelButton5"));
  EXPECT_EQ(title(), "Documentation");
  EXPECT_EQ(shownpage(), "memo5");
  EXPECT_EQ(paragraphs(help->currentpage()).first(), "History");

  click(button("SelButton3"));
  EXPECT_EQ(title(), "Game Play");
  EXPECT_EQ(shownpage(), "memo3");

  click(button("SelButton6"));
  EXPECT_EQ(shownpage(), "memo6");
  EXPECT_EQ(paragraphs(help->currentpage()).first(), "License Agreement ");

  click(button("SelButton1"));
  EXPECT_EQ(title(), "Overview");
  EXPECT_EQ(shownpage(), "memo1");
}

TEST_F(HelpTest, TheKeysGoThroughTheTopicsAndScrollThePage) {
  help->showforward();
  auto key = [this](Qt::Key k) { QTest::keyClick(help, k); };
  QStringList titles{title()};
  for (int k = 0; k < 5; ++k) {
    key(Qt::Key_Down);
    titles << title();
  }
  EXPECT_EQ(titles, QStringList({"Overview", "Game Play", "Scoring", "Documentation", "License",
                                 "License"}))
      << "Down goes to the topic below, as its button would, and stops at the last";
  EXPECT_EQ(shownpage(), "memo6");
  key(Qt::Key_Up);
  EXPECT_EQ(title(), "Documentation");
  EXPECT_EQ(shownpage(), "memo5");

  // Every page fits the window as written; one made longer shows the page keys at work.
  for (int k = 0; k < 80; ++k) help->currentpage()->append(QString("line %1").arg(k));
  QScrollBar* bar = help->currentpage()->verticalScrollBar();
  ASSERT_TRUE(QTest::qWaitFor([bar] { return bar->maximum() > bar->pageStep(); }));
  key(Qt::Key_Home);
  EXPECT_EQ(bar->value(), 0);
  key(Qt::Key_PageDown);
  EXPECT_EQ(bar->value(), bar->pageStep());
  key(Qt::Key_End);
  EXPECT_EQ(bar->value(), bar->maximum());
  key(Qt::Key_PageUp);
  EXPECT_EQ(bar->value(), bar->maximum() - bar->pageStep());
  key(Qt::Key_Home);
  EXPECT_EQ(bar->value(), 0);

  for (int k = 0; k < 6; ++k) key(Qt::Key_Up);
  EXPECT_EQ(title(), "Overview") << "Up stops at the first topic";
}

TEST_F(HelpTest, AButtonWithoutAPageChangesNothing) {
  TSelButton stray(help);
  stray.setTag(2);
  stray.setCaption("Nothing");
  help->SelButton1Click(button("SelButton4"));
  help->SelButton1Click(&stray);
  EXPECT_EQ(title(), "Scoring");
  EXPECT_EQ(shownpage(), "memo4");
}

TEST_F(HelpTest, ChosenPageSurvivesDoneAndReopening) {
  help->showforward();
  click(button("SelButton4"));
  click(button("button_done"));
  EXPECT_FALSE(help->isVisible());

  help->showforward();
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(title(), "Scoring");
  EXPECT_EQ(shownpage(), "memo4");
}

TEST_F(HelpTest, BringingForwardAnOpenWindowKeepsItsPageAndPlace) {
  help->showforward();
  click(button("SelButton3"));
  help->move(help->pos() + QPoint(13, 7));
  const QPoint placed = help->pos();

  help->showforward();
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(shownpage(), "memo3");
  EXPECT_EQ(title(), "Game Play");
  EXPECT_EQ(help->pos(), placed) << "an open window is not moved back to the centre";
}

TEST_F(HelpTest, OpensCentredOnTheMainWindow) {
  help->showforward();
  const QPoint diff = help->frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(diff.manhattanLength(), 2);
  ASSERT_NE(help->windowHandle(), nullptr);
  EXPECT_EQ(help->windowHandle()->transientParent(), owner.windowHandle())
      << "kept above the main window, and no reason to keep running once it closes";
  EXPECT_EQ(owner.findChild<QWidget*>("button_done"), nullptr)
      << "the main window's components are not mixed with the help window's";

  click(button("button_done"));
  owner.move(owner.pos() - QPoint(40, 30));
  help->showforward();
  const QPoint again = help->frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(again.manhattanLength(), 2);
}

TEST_F(HelpTest, NeverOpensOffTheScreen) {
  const QRect area = owner.screen()->availableGeometry();
  owner.move(area.right() - 100, area.bottom() - 80);
  help->showforward();
  EXPECT_TRUE(area.contains(help->frameGeometry()));
}

TEST_F(HelpTest, AboutButtonOpensAboutAndHelpStaysOpen) {
  help->showforward();
  click(button("SelButton4"));
  click(button("button_about"));
  EXPECT_TRUE(about->isVisible());
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(shownpage(), "memo4");
  EXPECT_FALSE(about->isModal());
}

TEST_F(HelpTest, ClosingHidesAndKeepsTheWindow) {
  help->showforward();
  click(button("SelButton6"));
  QPointer<Thelp> alive(help);
  help->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(alive);
  EXPECT_FALSE(help->isVisible());
  help->showforward();
  EXPECT_EQ(shownpage(), "memo6");
}
