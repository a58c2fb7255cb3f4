// The update offer as the main window makes it: the version asked for when the window shows,
// the panel offered on any difference, Cancel, and OK through to the installer, against a small
// HTTP server on the loopback interface.

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <optional>
#include <tuple>

#include "online/httpget.h"
#include "platform/desktop.h"
#include "shell/updateoffer.h"
#include "shellsupport.h"
#include "tests/support/signedrelease.h"
#include "tinyserver.h"

namespace {

class DesktopRecorder : public Desktop {
 public:
  bool openurl(const QString&) override { return false; }
  bool startdetached(const QString& program, const QStringList& arguments) override {
    started << program + " " + arguments.join(' ');
    if (onstart) onstart();
    return launches;
  }
  QStringList started;
  bool launches = true;
  // Runs as the installer starts: what it would find.
  std::function<void()> onstart;
};

}  // namespace

const QByteArray versionpath = "/pipshift/pipshiftversion.txt";
const QByteArray releasepath = "/pipshift/pipshiftrelease.txt";

class UpdateOffer : public ShellTest {
 protected:
  void SetUp() override {
    adjust = [this](TmainSetup& setup) { setup.updatekey = key.publickey(); };
  }
  void TearDown() override { setdesktop(nullptr); }

  // Publishes the version text and, unless told otherwise, the manifest of a release of that
  // version signed by the key the window trusts.
  std::unique_ptr<Tmain> startwith(const QByteArray& published,
                                   std::optional<QByteArray> manifest = std::nullopt) {
    server.bodies[versionpath] = published;
    server.bodies[releasepath] = manifest ? *manifest : key.manifestof(installer, published);
    writeini("[pipshift]\nUpdateServer=" + server.base().toLatin1() + "\n");
    auto w = makewindow();
    waitforcheck(w.get());
    EXPECT_EQ(server.requested.value(0), versionpath);
    return w;
  }

  // The version is asked for once the window is on screen; waits until the answer is in.
  void waitforcheck(Tmain* w) {
    auto* fetch = part<THTTPGet>(w, "checkupdate");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server.requested.isEmpty(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fetch->busy(); }, 10000));
  }

  bool offered(Tmain* w) { return part(w, "panel_update")->isVisible(); }

  QString program() const { return dir.filePath("pipshift"); }

  // Publishes an installer with its signature by the given key; its manifest, by the key the
  // window trusts, is published with the version.
  void publish(const QByteArray& bytes, const TestKey& signer) {
    installer = bytes;
    server.bodies["/pipshift/pshsetup.exe"] = bytes;
    server.bodies["/pipshift/pshsetup.exe.sig"] = signer.sign(bytes);
  }

  // A window whose program file is a scratch file that an update may move aside, offered the
  // given version; the desktop and the process's end are recorded.
  std::unique_ptr<Tmain> offerupdate(const QByteArray& published) {
    QFile file(program());
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("the program");
    file.close();
    setdesktop(&recorder);
    server.bodies[versionpath] = published;
    server.bodies[releasepath] = key.manifestof(installer, published);
    writeini("[pipshift]\nUpdateServer=" + server.base().toLatin1() + "\n");

    TmainSetup setup;
    setup.sounds = &sounds;
    setup.settingspath = inipath();
    setup.programfile = program();
    setup.message = [this](const QString& text) { messages << text; };
    setup.endprogram = [] {};
    setup.exitforupdate = [this] { ++exits; };
    setup.updatekey = key.publickey();
    auto w = std::make_unique<Tmain>(setup);
    w->setcompanions(&companions);
    w->show();
    waitforcheck(w.get());
    return w;
  }

  TinyServer server;
  DesktopRecorder recorder;
  TestKey key;
  QByteArray installer = "#!/bin/sh\nexit 0\n";
  int exits = 0;
};

TEST_F(UpdateOffer, SameVersionOffersNothing) {
  auto w = startwith("1.0.0");
  EXPECT_FALSE(offered(w.get()));
  EXPECT_EQ(server.requested, QByteArrayList{versionpath}) << "no manifest asked for";
}

// What used to offer the update: any text that differed. Now an older, equal or malformed text,
// an error page, and a genuine signed older release replayed under a newer number offer nothing.
TEST_F(UpdateOffer, NoOfferButForASignedNewerRelease) {
  const TestKey stranger;
  const QList<std::tuple<const char*, QByteArray, std::optional<QByteArray>>> cases = {
      {"a line end after it", "1.0.1\n", std::nullopt},
      {"older", "0.9", std::nullopt},
      {"an error page", "<html><body><h1>404 Not Found</h1></body></html>", std::nullopt},
      {"a real 0.9.9 release replayed as 1.0.2", "1.0.2", key.manifestof(installer, "0.9.9")},
      {"a real 1.0.0 release replayed as 1.0.2", "1.0.2", key.manifestof(installer, "1.0.0")},
      {"signed by a stranger", "1.0.1", stranger.manifestof(installer, "1.0.1")},
      {"another product's", "1.0.1",
       key.manifestof(TestKey::release(installer, "1.0.1", "othergame"))},
      {"another installer's", "1.0.1",
       key.manifestof(TestKey::release(installer, "1.0.1", "pipshift", "other.exe"))},
      {"no manifest", "1.0.1", QByteArray()},
  };
  for (const auto& [what, published, manifest] : cases) {
    server.requested.clear();
    auto w = startwith(published, manifest);
    EXPECT_FALSE(offered(w.get())) << what;
  }
}

TEST_F(UpdateOffer, ASignedNewerReleaseOffersTheUpdate) {
  for (const QByteArray& published : {QByteArray("1.0.1"), QByteArray("1.10")}) {
    server.requested.clear();
    auto w = startwith(published);
    EXPECT_TRUE(offered(w.get())) << published.toStdString();
    EXPECT_EQ(server.requested, QByteArrayList({versionpath, releasepath}));
    // Brought to the front, above the name panel that opened at start.
    const QObjectList& stack = part(w.get(), "panel_board1")->children();
    EXPECT_EQ(stack.last(), part(w.get(), "panel_update"));
    EXPECT_TRUE(part(w.get(), "button_updateyes")->isVisible());
    EXPECT_EQ(part<QLabel>(w.get(), "label_update")->text(), "");
  }
}

// An error page is no version, even one whose body reads as a newer version with a good manifest
// beside it: only a success answer is believed.
TEST_F(UpdateOffer, AnErrorStatusOffersNothingWhateverItsBody) {
  for (const QByteArray& status : {QByteArray("404 Not Found"), QByteArray("500 Server Error")}) {
    server.requested.clear();
    server.statuses[versionpath] = status;
    auto w = startwith("2.0.0");
    EXPECT_FALSE(offered(w.get())) << status.toStdString();
    EXPECT_EQ(server.requested, QByteArrayList{versionpath}) << "no manifest asked for";
  }
  // The same answer with a success status is offered: the status alone made the difference.
  server.requested.clear();
  server.statuses.remove(versionpath);
  auto w = startwith("2.0.0");
  EXPECT_TRUE(offered(w.get()));
}

TEST_F(UpdateOffer, AskedOnlyOnceTheWindowIsOnScreen) {
  server.bodies["/pipshift/pipshiftversion.txt"] = "1.0.0";
  writeini("[pipshift]\nUpdateServer=" + server.base().toLatin1() + "\n");
  auto w = makewindow(false);
  w->show();
  EXPECT_FALSE(part<THTTPGet>(w.get(), "checkupdate")->busy());
  EXPECT_EQ(sounds.prepared, 0) << "the sound output is looked for after the first frame too";
  waitforcheck(w.get());
  EXPECT_EQ(sounds.prepared, 1);
  EXPECT_FALSE(offered(w.get()));
}

// Where the menus live outside the window (a global menu), Qt hides the menu bar and the client
// area covers the whole window: the window being on screen must still be noticed.
TEST_F(UpdateOffer, AskedAlsoWhenTheMenuBarIsNotInTheWindow) {
  server.bodies[versionpath] = "2.0.0";
  server.bodies[releasepath] = key.manifestof(installer, "2.0.0");
  writeini("[pipshift]\nUpdateServer=" + server.base().toLatin1() + "\n");
  auto w = makewindow(false);
  w->menuBar()->hide();
  w->show();
  // Noticed when the window is exposed, well before the late fallback for a hidden window.
  EXPECT_TRUE(QTest::qWaitFor([&] { return sounds.prepared == 1; }, Tmain::formshowfallback / 2));
  waitforcheck(w.get());
  EXPECT_TRUE(offered(w.get()));
}

TEST_F(UpdateOffer, UncheckedAsksNothing) {
  writeini("[pipshift]\nUpdate=false\nUpdateServer=" + server.base().toLatin1() + "\n");
  auto w = makewindow();
  // Whatever waits for the first frame has run once the sound output has been looked for.
  EXPECT_TRUE(QTest::qWaitFor([&] { return sounds.prepared == 1; }, 10000));
  EXPECT_FALSE(part<THTTPGet>(w.get(), "checkupdate")->busy());
  QCoreApplication::processEvents();
  EXPECT_TRUE(server.requested.isEmpty());
}

TEST_F(UpdateOffer, CancelHidesThePanelAndChangesNothingElse) {
  auto w = startwith("2.0.0");
  ASSERT_TRUE(offered(w.get()));
  clickat(part(w.get(), "button_updatecancel"));
  EXPECT_FALSE(offered(w.get()));
  EXPECT_EQ(server.requested.size(), 2) << "no download";
  EXPECT_TRUE(readini().contains("UpdateServer")) << "nothing stored";
  EXPECT_FALSE(readini().contains("Update="));
}

TEST_F(UpdateOffer, AMissingInstallerLeavesTheProgramUnderItsOwnName) {
  auto w = offerupdate("2.0.0");
  ASSERT_TRUE(offered(w.get()));
  clickat(part(w.get(), "button_updateyes"));
  EXPECT_FALSE(part(w.get(), "button_updateyes")->isVisible());
  // Cancel comes back to close the panel (it used to stay, without buttons, for the whole run).
  EXPECT_TRUE(part(w.get(), "button_updatecancel")->isVisible());
  EXPECT_TRUE(offered(w.get()));
  EXPECT_EQ(part<QLabel>(w.get(), "label_update")->text(), "Download Aborted");
  EXPECT_TRUE(server.requested.contains("/pipshift/pshsetup.exe"));

  EXPECT_TRUE(QFile::exists(program()));
  EXPECT_FALSE(QFile::exists(dir.filePath("pipshift.BAK")));
  EXPECT_FALSE(QFile::exists(dir.filePath("pshsetup.exe")));
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_EQ(exits, 0);
}

TEST_F(UpdateOffer, AnInstallerThatStartsFindsEverythingSavedAndTheProgramEnds) {
  publish("#!/bin/sh\nexit 0\n", key);
  auto w = offerupdate("1.0.1");
  ASSERT_TRUE(offered(w.get()));
  // The installer must find the settings and the tally written before it starts: afterwards it
  // may be replacing files in the folder.
  bool settingssaved = false;
  bool tallysaved = false;
  recorder.onstart = [&] {
    settingssaved = readini().contains("Sounds=yes");
    tallysaved = companions.calls.contains("savetally");
  };
  clickat(part(w.get(), "button_updateyes"));
  EXPECT_EQ(part<QLabel>(w.get(), "label_update")->text(), "Installing");
  const QString installer = dir.filePath("pshsetup.exe");
  EXPECT_EQ(recorder.started, QStringList({installer + " /SP- /silent /noicons"}));
  EXPECT_EQ(server.requested.mid(2),
            QByteArrayList({"/pipshift/pshsetup.exe", "/pipshift/pshsetup.exe.sig"}));
  EXPECT_EQ(exits, 1);
  EXPECT_TRUE(settingssaved) << "the settings were written after the installer started";
  EXPECT_TRUE(tallysaved) << "the tally was written after the installer started";
  EXPECT_TRUE(messages.isEmpty());
}

TEST_F(UpdateOffer, AnInstallerSignedByAnyoneElseNeverStarts) {
  const TestKey stranger;
  publish("#!/bin/sh\ntouch owned\n", stranger);
  auto w = offerupdate("1.0.1");
  clickat(part(w.get(), "button_updateyes"));
  EXPECT_EQ(part<QLabel>(w.get(), "label_update")->text(), "Download Aborted");
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_EQ(exits, 0);
  EXPECT_FALSE(QFile::exists(dir.filePath("pshsetup.exe")));
  EXPECT_FALSE(QFile::exists(dir.filePath("pipshift.BAK")));
  EXPECT_TRUE(QFile::exists(program()));
  EXPECT_FALSE(companions.calls.contains("savetally")) << "nothing to save for: no update";
}

// An installed package cannot replace itself: its package manager updates it.
TEST_F(UpdateOffer, AProgramInAFolderItCannotWriteAsksNothing) {
  server.bodies["/pipshift/pipshiftversion.txt"] = "2.0.0";
  writeini("[pipshift]\nUpdateServer=" + server.base().toLatin1() + "\n");
  TmainSetup setup;
  setup.sounds = &sounds;
  setup.settingspath = inipath();
  setup.programfile = unwritablefolder(dir.path()) + "/pipshift";
  setup.endprogram = [] {};
  auto w = std::make_unique<Tmain>(setup);
  w->setcompanions(&companions);
  w->show();
  // Whatever waits for the first frame has run once the sound output has been looked for.
  EXPECT_TRUE(QTest::qWaitFor([&] { return sounds.prepared == 1; }, 10000));
  EXPECT_FALSE(part<THTTPGet>(w.get(), "checkupdate")->busy());
  QCoreApplication::processEvents();
  EXPECT_TRUE(server.requested.isEmpty());
  EXPECT_FALSE(offered(w.get()));
}

TEST_F(UpdateOffer, AnInstallerThatWillNotStartSaysWhereToGetIt) {
  publish("#!/bin/sh\nexit 0\n", key);
  recorder.launches = false;
  auto w = offerupdate("1.0.1");
  clickat(part(w.get(), "button_updateyes"));
  EXPECT_EQ(messages, QStringList({"There was an error in the update process. Please "
                                   "downloadPIPSHIFT manually from http://www.quorvel.example."}));
  EXPECT_EQ(exits, 0);
  EXPECT_TRUE(QFile::exists(program())) << "the program can be started again";
}

// "Download Aborted" never stays in the way: Cancel, Esc and Start Game each close it, and an
// offer still open is left to its own buttons.
TEST_F(UpdateOffer, AFailedDownloadsPanelClosesByCancelEscOrStartGame) {
  auto w = offerupdate("1.0.1");
  ASSERT_TRUE(offered(w.get()));
  clickat(part(w.get(), "button_start"));
  EXPECT_TRUE(offered(w.get())) << "Start Game does not answer an open offer";
  for (const char* how : {"Cancel", "Esc", "Start Game"}) {
    w->updateoffer()->offer(TestKey::release(installer, "1.0.1"));
    clickat(part(w.get(), "button_updateyes"));
    ASSERT_EQ(part<QLabel>(w.get(), "label_update")->text(), "Download Aborted") << how;
    ASSERT_TRUE(offered(w.get())) << how;
    if (how == std::string("Cancel")) {
      clickat(part(w.get(), "button_updatecancel"));
    } else if (how == std::string("Esc")) {
      QTest::keyClick(w.get(), Qt::Key_Escape);
    } else {
      clickat(part(w.get(), "button_start"));
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(offered(w.get())) << how;
  }
  EXPECT_EQ(exits, 0);
  EXPECT_TRUE(QFile::exists(program()));
}
