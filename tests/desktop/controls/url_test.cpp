#include "controls/url.h"

#include <gtest/gtest.h>

#include "tests/support/recordingdesktop.h"
#include "tests/support/recordingopener.h"

namespace {

class UrlTest : public ::testing::Test {
 protected:
  RecordingDesktop recorder;
};

}  // namespace

TEST_F(UrlTest, EmptyAddressOpensNothing) {
  TURL url;
  EXPECT_EQ(url.URLType(), utHttp);
  EXPECT_FALSE(url.OpenURL());
  EXPECT_TRUE(recorder.opened.isEmpty());
}

TEST_F(UrlTest, EachKindPutsItsPrefixInFront) {
  const std::pair<TURLType, const char*> kinds[] = {
      {utFile, "file://x"}, {utFtp, "ftp://x"},     {utGopher, "gopher://x"},
      {utHttp, "http://x"}, {utHttps, "https://x"}, {utMailto, "mailto:x"},
      {utNews, "news:x"},   {utTelnet, "telnet:x"}, {utWais, "wais:x"},
      {utnone, "x"}};
  TURL url;
  url.setURL("x");
  for (auto [kind, want] : kinds) {
    url.setURLType(kind);
    EXPECT_TRUE(url.OpenURL());
    ASSERT_FALSE(recorder.opened.isEmpty());
    EXPECT_EQ(recorder.opened.takeLast(), want);
  }
}

TEST_F(UrlTest, PrefixGoesInFrontEvenOfAnAddressWithAScheme) {
  TURL url;
  url.setURL("http://www.quorvel.example");
  url.OpenURL();
  url.setURLType(utnone);
  url.OpenURL();
  const QStringList want = {"http://http://www.quorvel.example", "http://www.quorvel.example"};
  EXPECT_EQ(recorder.opened, want);
}

TEST_F(UrlTest, LongAddressIsHandedOverWhole) {
  const QString link = "www.quorvel.example/scores/pipshift/" + QString(120, 'a') + "?page=2";
  TURL url;
  url.setURL(link);
  url.OpenURL();
  ASSERT_EQ(recorder.opened.size(), 1);
  EXPECT_EQ(recorder.opened.first(), "http://" + link);
  EXPECT_GT(recorder.opened.first().size(), 79);
}

TEST_F(UrlTest, RefusalIsReportedOnlyByTheResult) {
  recorder.accept = false;
  TURL url;
  url.setURL("www.quorvel.example");
  EXPECT_FALSE(url.OpenURL());
  EXPECT_EQ(url.URL(), "www.quorvel.example");
  EXPECT_EQ(url.URLType(), utHttp);
  EXPECT_EQ(recorder.opened.size(), 1);
}

// Through the real desktop adapter to the desktop's opener: what it receives is the prefix and
// the text, untouched.
TEST(UrlOnTheDesktop, TheOpenerReceivesPrefixAndTextUnchanged) {
  RecordingOpener opener;
  ASSERT_TRUE(opener.ready());
  TURL url;
  url.setURL("http://host/x");
  EXPECT_TRUE(url.OpenURL());
  ASSERT_EQ(opener.waitforcalls(1).size(), 1);
  url.setURLType(utnone);
  url.setURL("counter/x.shtml");
  EXPECT_TRUE(url.OpenURL());
  const QList<QStringList> want = {{"http://http://host/x"}, {"counter/x.shtml"}};
  EXPECT_EQ(opener.waitforcalls(2), want);
}
