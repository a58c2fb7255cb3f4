// Help and About as a screen reader meets them, and the help text wrapped once, by the page.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <memory>

#include "controls/selbutton.h"
#include "tests/support/accesswalk.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

namespace {

class WindowAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    about = std::make_unique<Tabout>(nullptr);
    help = std::make_unique<Thelp>(nullptr, about.get());
  }

  static QAccessibleInterface* reader(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
  }

  std::unique_ptr<Tabout> about;
  std::unique_ptr<Thelp> help;
};

}  // namespace

TEST_F(WindowAccess, TheHelpIsAFrameWhoseTopicsAreButtonsAndWhosePageIsNamed) {
  help->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help.get()));
  EXPECT_EQ(reader(help.get())->role(), QAccessible::Window);
  EXPECT_EQ(reader(help.get())->text(QAccessible::Name), "Pipshift - Help File");
  EXPECT_EQ(accesswalk::unnamed(help.get()), QStringList());

  QStringList buttons;
  for (QAccessibleInterface* iface : accesswalk::reachable(help.get()))
    if (iface->role() == QAccessible::Button) buttons << iface->text(QAccessible::Name);
  EXPECT_EQ(buttons, QStringList({"Overview", "Game Play", "Scoring", "Documentation", "License",
                                  "About", "Done"}));

  // Only the page on show is read, by its title, and it says its text.
  auto pages = [&] {
    QStringList out;
    for (QAccessibleInterface* iface : accesswalk::reachable(help.get()))
      if (qobject_cast<QTextEdit*>(iface->object())) out << iface->text(QAccessible::Name);
    return out;
  };
  EXPECT_EQ(pages(), QStringList({"Overview"}));
  QAccessibleInterface* button = reader(help->SelButton[4]);
  button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(pages(), QStringList({"Scoring"})) << "a reader's press chooses the page";
  QAccessibleTextInterface* text = reader(help->memo[4])->textInterface();
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->text(0, text->characterCount()).contains("get your final score."));
}

TEST_F(WindowAccess, AboutIsADialogWhoseLogoIsLeftOut) {
  about->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
  EXPECT_EQ(reader(about.get())->role(), QAccessible::Dialog);
  EXPECT_EQ(reader(about.get())->text(QAccessible::Name), "Pipshift - About");
  EXPECT_EQ(accesswalk::unnamed(about.get()), QStringList());
  const QStringList names = accesswalk::names(about.get());
  for (const char* name : {"Programmed by: Quorvel Software", "Version", ".1", "Done"})
    EXPECT_TRUE(names.contains(name)) << name << " in " << names.join(" | ").toStdString();
  EXPECT_TRUE(names.contains(about->versiontext()));
}

TEST_F(WindowAccess, TheHelpTextIsWrappedOnceByThePageNotAgainWhereItWasWrappedByHand) {
  // The lines as written end in a blank where their paragraph runs on.
  const QStringList lines = Thelp::pagelines(3);
  ASSERT_TRUE(
      lines.contains("There will be an empty space at the end of each row when the board is "));
  ASSERT_TRUE(lines.contains("sorted properly."));

  const QStringList shown = Thelp::pageparagraphs(3);
  EXPECT_TRUE(shown.contains(
      "There will be an empty space at the end of each row when the board is sorted properly."));
  EXPECT_TRUE(shown.contains(
      "Click on a double and then click on it's space in the first column on the left."));
  // The lines that stand alone stay alone: the target rows, the example, the empty lines.
  EXPECT_TRUE(shown.contains("Row 2: 5/5, 5/4, 5/3, 5/2, 5/1, 5/0"));
  EXPECT_TRUE(shown.contains("For example, if a row looks like this"));
  EXPECT_TRUE(shown.contains("6/6, 2/3, 5/3, SPACE, 4/2"));
  EXPECT_EQ(Thelp::pageparagraphs(5), Thelp::pagelines(5)) << "the history has no runs";
  EXPECT_EQ(Thelp::pageparagraphs(6).first(), "License Agreement ") << "a heading, then a gap";
  EXPECT_EQ(Thelp::pageparagraphs(1).size(), 3);

  for (int n : Thelp::pagenumbers) {
    // Not a word lost or added.
    EXPECT_EQ(Thelp::pageparagraphs(n).join(""), Thelp::pagelines(n).join("")) << n;
    // And no paragraph is still cut by hand where text follows it.
    const QStringList paragraphs = Thelp::pageparagraphs(n);
    for (qsizetype i = 0; i + 1 < paragraphs.size(); ++i) {
      const bool cut = paragraphs[i].endsWith(' ') && !paragraphs[i].trimmed().isEmpty() &&
                       !paragraphs[i + 1].isEmpty();
      EXPECT_FALSE(cut) << n << ": \"" << paragraphs[i].toStdString() << "\"";
    }
  }

  // On the page the run lies in one paragraph, however the page wraps it.
  help->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help.get()));
  const QTextDocument* page = help->memo[3]->document();
  const QTextBlock block = page->find("board is").block();
  ASSERT_TRUE(block.isValid());
  EXPECT_TRUE(block.text().contains("board is sorted properly."));
}
