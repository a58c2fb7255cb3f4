// The real desktop adapter, watched through an xdg-open of our own first on PATH.
#include "platform/desktop.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "tests/support/recordingopener.h"

TEST(Desktop, TheOpenerGetsTheAddressAsTheTextItIs) {
  RecordingOpener opener;
  ASSERT_TRUE(opener.ready());
  // Each of these a parse of the address would have rewritten: a doubled scheme, a relative
  // link, a path, an escape, blanks and a fragment.
  const QStringList addresses = {"http://http://host/x", "counter/x.shtml", "/usr/bin/xterm", "%41",
                                 "http://host/a b?x=1&y=%20#top"};
  for (int k = 0; k < addresses.size(); ++k) {
    ASSERT_TRUE(desktop().openurl(addresses[k])) << k;
    // One at a time, so the record keeps their order.
    ASSERT_EQ(opener.waitforcalls(k + 1).size(), k + 1) << "no call for " << k;
  }
  QList<QStringList> want;
  for (const QString& address : addresses) want << QStringList{address};
  EXPECT_EQ(opener.calls(), want);
}

TEST(Desktop, WithoutAnOpenerNothingIsAccepted) {
  QTemporaryDir nothing;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(nothing.path()));
  const bool accepted = desktop().openurl(QStringLiteral("http://www.quorvel.example/"));
  qputenv("PATH", path);
  EXPECT_FALSE(accepted);
}
