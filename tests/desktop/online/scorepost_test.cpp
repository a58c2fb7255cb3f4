#include "online/scorepost.h"

#include <gtest/gtest.h>

#include <QUrl>
#include <QUrlQuery>

namespace {

const QString base = QStringLiteral("http://scores.example/");

// The fields a server reads from the posting address.
QUrlQuery fields(const QString& address) {
  return QUrlQuery(QUrl(address, QUrl::StrictMode));
}

}  // namespace

TEST(ScorePostTest, AddressesSitUnderTheBase) {
  EXPECT_EQ(listaddress(base), "http://scores.example/counter/pipshift.shtml");
  EXPECT_EQ(postaddress(base, "Guest", "12/7/26", "412"),
            "http://scores.example/cgi-bin/pipshift.cgi?name=Guest&date=12/7/26&score=412");
  EXPECT_EQ(postaddress("http://127.0.0.1:8080/x/", "a", "1.2.03", "0"),
            "http://127.0.0.1:8080/x/cgi-bin/pipshift.cgi?name=a&date=1.2.03&score=0");
}

TEST(ScorePostTest, NamesArriveIntactAndCannotForgeFields) {
  const QString names[] = {"Big Jo",   "x&score=800", "a+b=c",   "50%", "#1",
                           "Zo\u00eb", "tab\there",   "q?r/s;t", "  ",  "\"quoted\""};
  for (const QString& name : names) {
    const QString address = postaddress(base, name, "12/7/26", "412");
    EXPECT_FALSE(address.contains(u' ')) << "a blank would break the request line";
    const QUrl url(address, QUrl::StrictMode);
    ASSERT_TRUE(url.isValid()) << address.toStdString();
    const QUrlQuery query = fields(address);
    EXPECT_EQ(query.queryItems().size(), 3) << address.toStdString();
    EXPECT_EQ(query.queryItemValue("name", QUrl::FullyDecoded), name) << address.toStdString();
    EXPECT_EQ(query.allQueryItemValues("score"), QStringList{"412"}) << address.toStdString();
  }
  EXPECT_TRUE(postaddress(base, "x&score=800", "d", "1").contains("name=x%26score%3D800&"));
  EXPECT_TRUE(postaddress(base, "Big Jo", "d", "1").contains("name=Big%20Jo&"));
  // The date and the score are no different.
  const QUrlQuery other = fields(postaddress(base, "n", "1&score=9", "3 4"));
  EXPECT_EQ(other.queryItemValue("date", QUrl::FullyDecoded), "1&score=9");
  EXPECT_EQ(other.allQueryItemValues("score", QUrl::FullyDecoded), QStringList{"3 4"});
}

TEST(ScorePostTest, DateTakesTheLocaleSeparator) {
  const QDate day(2026, 12, 7);
  EXPECT_EQ(postdatetext(day, QLocale("en_US")), "12/7/26");
  EXPECT_EQ(postdatetext(day, QLocale("de_DE")), "12.7.26");
  EXPECT_EQ(postdatetext(day, QLocale("nl_NL")), "12-7-26");
  // Month first whatever the locale's own order; no leading zeros; the year in two digits.
  EXPECT_EQ(postdatetext(QDate(2005, 1, 2), QLocale("en_GB")), "1/2/05");
  EXPECT_EQ(postdatetext(QDate(2000, 10, 31), QLocale("sv_SE")), "10-31-00");
}

TEST(ScorePostTest, SeparatorSkipsLettersBlanksAndQuotedText) {
  EXPECT_EQ(dateseparator(QLocale("ko_KR")), u'.');  // "yy. M. d."
  EXPECT_EQ(dateseparator(QLocale("bg_BG")), u'.');  // "d.MM.yy 'г'."
  EXPECT_EQ(dateseparator(QLocale("ja_JP")), u'/');
  EXPECT_EQ(dateseparator(QLocale("ar_EG")), u'/');  // "d\u200F/M\u200F/yyyy"
  EXPECT_EQ(dateseparator(QLocale::c()), u'/') << "a format without one falls back to \"/\"";
}
