// The high-score page as a screen reader reads it: one document named by the page's title, its
// table a row to a line with the cells apart, none of the marks Qt keeps in the document, and
// the reader's places (caret, selection) landing on the page's own.
#include "htmlview/pagetext.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include "htmlview/htmlview.h"

namespace {

const QString scorepage = QStringLiteral(
    "<html><head><title>Pipshift High Scores</title></head><body>"
    "<h1>High Scores</h1>"
    "<table><tr><th>Rank</th><th>Name</th><th>Score</th></tr>"
    "<tr><td>1</td><td>Ann</td><td>512</td></tr>"
    "<tr><td>2</td><td><a href=\"http://127.0.0.1/kim\">Kim</a></td><td>498</td></tr>"
    "</table><p>Updated daily.</p></body></html>");

bool hasmarks(const QString& text) {
  for (QChar c : text)
    if ((c.unicode() >= 0xFDD0 && c.unicode() <= 0xFDEF) || c == QChar::ParagraphSeparator ||
        c == QChar::ObjectReplacementCharacter)
      return true;
  return false;
}

}  // namespace

TEST(PageText, ATableReadsARowToALineWithItsCellsApartAndNoMarks) {
  QTextDocument document;
  document.setHtml(scorepage);
  // What a reader was given before: the document's own text, marks and all.
  QTextCursor all(&document);
  all.select(QTextCursor::Document);
  ASSERT_TRUE(hasmarks(all.selectedText())) << "the marks this guards against are gone from Qt";

  const PageText page(document);
  EXPECT_FALSE(hasmarks(page.text()));
  EXPECT_EQ(page.text().toStdString(),
            "High Scores\n"
            "Rank\tName\tScore\n"
            "1\tAnn\t512\n"
            "2\tKim\t498\n"
            "\n"  // the paragraph Qt keeps after every table
            "Updated daily.");
}

TEST(PageText, EveryReadingPlaceIsTheSamePlaceOnThePage) {
  QTextDocument document;
  document.setHtml(scorepage);
  const PageText page(document);
  // Each character read is the character at the document position it maps to.
  for (int offset = 0; offset < page.size(); ++offset) {
    const QChar read = page.text().at(offset);
    if (read == u'\n' || read == u'\t') continue;
    const int position = page.pageposition(offset);
    EXPECT_EQ(document.characterAt(position), read) << "offset " << offset;
    EXPECT_EQ(page.readingoffset(position), offset);
  }
  // A separator stands at the end of the paragraph before it, as a caret after its last word.
  const int tab = int(page.text().indexOf(u'\t'));
  EXPECT_EQ(page.pageposition(tab), page.pageposition(tab - 1) + 1);
  // Out of range either way stays inside.
  EXPECT_EQ(page.readingoffset(-5), 0);
  EXPECT_EQ(page.readingoffset(document.characterCount() + 10), page.size());
  EXPECT_EQ(page.pageposition(page.size() + 10), document.characterCount() - 1);

  const PageText empty(QTextDocument{});
  EXPECT_EQ(empty.text(), "");
  EXPECT_EQ(empty.readingoffset(3), 0);
}

TEST(PageText, TheViewIsOneDocumentNamedByItsTitleThatTheReaderMovesIn) {
  THTMLView view;
  view.resize(479, 505);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Document);
  EXPECT_EQ(iface->text(QAccessible::Name), "Page") << "before any page has come";
  EXPECT_EQ(iface->childCount(), 0) << "the view's area and scroll bars are not read";

  view.LoadFromString(scorepage);
  EXPECT_EQ(iface->text(QAccessible::Name), "Pipshift High Scores");
  QAccessibleTextInterface* text = iface->textInterface();
  ASSERT_NE(text, nullptr);
  const QString read = text->text(0, text->characterCount());
  EXPECT_FALSE(hasmarks(read));
  EXPECT_TRUE(read.contains("2\tKim\t498")) << read.toStdString();

  // The reader puts the caret on "Kim": the page's cursor is there.
  const int kim = int(read.indexOf("Kim"));
  text->setCursorPosition(kim);
  QTextCursor probe = view.textCursor();
  probe.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, 3);
  EXPECT_EQ(probe.selectedText(), "Kim");
  EXPECT_EQ(text->cursorPosition(), kim);
  // And the page's selection is read back where it is.
  text->setSelection(0, kim, kim + 3);
  EXPECT_EQ(view.textCursor().selectedText(), "Kim");
  int start = -1, end = -1;
  text->selection(0, &start, &end);
  EXPECT_EQ(start, kim);
  EXPECT_EQ(end, kim + 3);
  // A new page is read anew.
  view.LoadFromString("<p>Nothing yet</p>");
  EXPECT_EQ(text->text(0, text->characterCount()), "Nothing yet");
}
