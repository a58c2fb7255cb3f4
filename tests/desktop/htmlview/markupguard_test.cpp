#include "htmlview/markupguard.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {

// The deepest nesting of the given element names in html (all elements when names is empty),
// counting only start and end tags that pair up; text inside comments is not markup.
int deepest(const QString& html, const QStringList& names = {}) {
  static const QRegularExpression tag(
      QStringLiteral("<!--.*?-->|<(/?)([a-zA-Z][a-zA-Z0-9]*)[^>]*>"),
      QRegularExpression::DotMatchesEverythingOption);
  int depth = 0;
  int deepest = 0;
  for (auto it = tag.globalMatch(html); it.hasNext();) {
    const auto match = it.next();
    const QString name = match.captured(2).toLower();
    if (name.isEmpty() || (!names.isEmpty() && !names.contains(name))) continue;
    depth += match.captured(1).isEmpty() ? 1 : -1;
    deepest = std::max(deepest, depth);
  }
  return deepest;
}

QString guarded(const QString& html, const MarkupLimits& limits = {}) {
  return guardmarkup(html, limits).html;
}

qsizetype longestword(const QString& html) {
  return guardmarkup(html).longestword;
}

}  // namespace

TEST(MarkupGuardTest, OrdinaryPagesPassUntouched) {
  const QString page = QStringLiteral(
      "<!DOCTYPE html><html><head><title>Scores <div></title><style>p > b { color: red }</style>"
      "</head><body bgcolor='#000000'><table><tr><td>1<td><table><tr><th>x</table></td></tr>"
      "</table><ul><li>one<li>two</ul><p>a<p>b<br><img src='a.png'/><!-- <div><div> -->"
      "<script>if (a < b) document.write('<div>')</script><a href=\"x>y\">q</a></body></html>");
  EXPECT_EQ(guarded(page), page);
}

TEST(MarkupGuardTest, DeepElementsAreFlattenedKeepingTheirText) {
  const MarkupLimits limits{50, 4};
  const QString page = QStringLiteral("<div>").repeated(500) + "words" +
                       QStringLiteral("</div>").repeated(500) + "after";
  const QString tamed = guarded(page, limits);
  EXPECT_LE(deepest(tamed), 50);
  EXPECT_GE(deepest(tamed), 49) << "the guard flattened more than it had to";
  EXPECT_TRUE(tamed.contains("words"));
  // The end tags of the dropped elements went with them; the kept ones still close.
  EXPECT_EQ(tamed.count("<div>"), tamed.count("</div>"));
  EXPECT_TRUE(tamed.endsWith("</div>after"));
}

TEST(MarkupGuardTest, UnclosedElementsCountAsOpen) {
  const QString tamed = guarded(QStringLiteral("<b><i>").repeated(400) + "x", {100, 8});
  EXPECT_LE(tamed.count("<b>") + tamed.count("<i>"), 100);
  EXPECT_TRUE(tamed.endsWith("x"));
}

TEST(MarkupGuardTest, NestedTablesBeyondTheLimitRunOnAsText) {
  QString page;
  for (int i = 0; i < 12; ++i) page += QStringLiteral("<table><tr><td>cell%1").arg(i);
  for (int i = 0; i < 12; ++i) page += QStringLiteral("</td></tr></table>");
  const QString tamed = guarded(page, {200, 3});
  EXPECT_EQ(deepest(tamed, {"table"}), 3);
  EXPECT_EQ(tamed.count("<table>"), 3);
  EXPECT_EQ(tamed.count("</table>"), 3);
  EXPECT_EQ(tamed.count("<td>"), 3) << "cells of a flattened table must go with it";
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(tamed.contains(QStringLiteral("cell%1").arg(i)));
  // Words of neighbouring cells are kept apart.
  EXPECT_FALSE(tamed.contains("cell10cell11"));
}

TEST(MarkupGuardTest, SiblingCellsAndItemsDoNotDeepen) {
  // Rows and items that close each other implicitly, as browsers read them.
  const QString rows = QStringLiteral("<table>") + QStringLiteral("<tr><td>a<td>b").repeated(1000) +
                       QStringLiteral("</table><ul>") + QStringLiteral("<li>x").repeated(1000) +
                       QStringLiteral("</ul>") + QStringLiteral("<p>y").repeated(1000);
  EXPECT_EQ(guarded(rows, {10, 2}), rows);
}

TEST(MarkupGuardTest, MalformedMarkupEndsCleanly) {
  const QString inputs[] = {
      "<",      "<div",  "<div class='x",      "<!--",        "<!-- <div>", "</",
      "< div>", "<3 <4", "<script><div><div>", "<div a=\"b>", "<a b='c'd>e"};
  for (const QString& input : inputs) {
    const QString tamed = guarded(input, {1, 1});
    EXPECT_FALSE(tamed.isNull());
    EXPECT_LE(tamed.size(), input.size() + 1) << input.toStdString();
  }
  // A tag split by a stray quote still ends at its ">".
  EXPECT_EQ(guarded("<div x=a'b><div>t", {1, 1}), "<div x=a'b> t");
}

TEST(MarkupGuardTest, LongestWordSpansInlineTagsButNotBlanksOrBlocks) {
  EXPECT_EQ(longestword("<p>one three fives</p>"), 5);
  // Inline tags do not let a line break, so their words run together; attributes are not text.
  EXPECT_EQ(longestword("ab<b class=\"very long attribute\">cd</b>ef gh"), 6);
  EXPECT_EQ(longestword(QStringLiteral("w<i></i>").repeated(3000)), 3000);
  // Block tags and line breaks end a word; comments and scripts are not text at all.
  EXPECT_EQ(longestword("abc<br>def<td>ghi</td>jkl"), 3);
  EXPECT_EQ(longestword("ab<!-- long comment text -->cd <script>verylongscripttext</script>"), 4);
  // A no-break space joins words.
  EXPECT_EQ(longestword(QStringLiteral("ab") + QChar(0xA0) + "cd&nbsp;ef"), 13);
  EXPECT_EQ(longestword(""), 0);
}
