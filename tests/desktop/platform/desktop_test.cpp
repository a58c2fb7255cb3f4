// The real desktop adapter, watched through an xdg-open of our own first on PATH.
#include "platform/desktop.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

namespace {

QString script(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write("#!/bin/sh\n" + body);
  file.close();
  file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
  return path;
}

}  // namespace

// An update may end the program only once its installer really runs: one that says so has
// started; one that cannot be started, or dies before it says so, has not, and the program stays.
TEST(Desktop, AnInstallerHasStartedOnlyOnceItSaysSo) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString says = script(dir, "says", "echo started >&3\n");
  EXPECT_TRUE(desktop().startinstaller(says, {"/SP-", "/silent", "/noicons"}));

  const QString quits = script(dir, "quits", "exit 0\n");
  EXPECT_FALSE(desktop().startinstaller(quits, {})) << "ended without saying it runs";
  const QString killed = script(dir, "killed", "kill -9 $$\necho started >&3\n");
  EXPECT_FALSE(desktop().startinstaller(killed, {})) << "killed before it said so";
  const QString halfway = script(dir, "halfway", "printf start >&3\nexit 1\n");
  EXPECT_FALSE(desktop().startinstaller(halfway, {})) << "no whole line";
  EXPECT_FALSE(desktop().startinstaller(dir.filePath("missing"), {}));
  QFile plain(dir.filePath("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.write("not a program");
  plain.close();
  EXPECT_FALSE(desktop().startinstaller(plain.fileName(), {})) << "not executable";

  // It gets its arguments as they are and the pipe's name in its environment, and runs on after
  // it said so.
  const QString notes = script(dir, "notes",
                               "echo started >&3\nexec 3>&-\n"
                               "printf '%s|' \"$PIPSHIFT_SETUP_READY\" \"$@\" > \"$0.tmp\"\n"
                               "mv \"$0.tmp\" \"$0.txt\"\n");
  ASSERT_TRUE(desktop().startinstaller(notes, {"/SP-", "a b"}));
  QFile noted(notes + ".txt");
  ASSERT_TRUE(QTest::qWaitFor([&] { return noted.exists(); }, 20000));
  ASSERT_TRUE(noted.open(QIODevice::ReadOnly));
  EXPECT_EQ(noted.readAll(), "3|/SP-|a b|");
}
