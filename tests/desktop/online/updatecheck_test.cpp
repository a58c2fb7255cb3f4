// The update check's decisions and the whole update run in a scratch program folder, against a
// raw server on 127.0.0.1 and a desktop that records what it is asked to start. Installers are
// signed with a key each test makes for itself.
#include "online/updatecheck.h"
#include "online/serverbase.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "platform/desktop.h"
#include "tests/support/localhttpserver.h"
#include "tests/support/signedrelease.h"

namespace {

const QStringList installerargs = {"/SP-", "/silent", "/noicons"};
const QByteArray installerpath = "/pipshift/pshsetup.exe";
const QByteArray signaturepath = "/pipshift/pshsetup.exe.sig";

QByteArray readfile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writefile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray answer200(const QByteArray& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
         body;
}

const QByteArray notfound = "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found";

// An installer of the given size whose bytes all differ from their neighbours.
QByteArray setupbytes(int size) {
  QByteArray setup(size, '\0');
  for (int i = 0; i < setup.size(); ++i) setup[i] = char(i % 251);
  return setup;
}

// Only a strictly newer dotted version is worth asking the manifest for: an older text (a
// replayed release), the same one, and anything that is not a version, an error page included,
// offer nothing. (They used to offer on any difference.)
TEST(UpdateCheck, OffersOnlyAStrictlyNewerDottedVersion) {
  EXPECT_FALSE(updateoffered("1.0.0", "1.0.0"));
  EXPECT_FALSE(updateoffered("1.0.0\n", "1.0.0"));
  EXPECT_FALSE(updateoffered("1.0.1\n", "1.0.0"));
  EXPECT_FALSE(updateoffered("1.0.1\r\n", "1.0.0"));
  EXPECT_FALSE(updateoffered(" 1.0.1", "1.0.0"));
  EXPECT_FALSE(updateoffered("0.9", "1.0.0"));
  EXPECT_FALSE(updateoffered("1.0", "1.0.0")) << "the same version, written shorter";
  EXPECT_FALSE(updateoffered("<html><body>404 Not Found</body></html>", "1.0.0"));
  EXPECT_FALSE(updateoffered("", "1.0.0"));
  EXPECT_FALSE(updateoffered("1..1", "1.0.0"));
  EXPECT_FALSE(updateoffered("1.0.1.", "1.0.0"));
  EXPECT_FALSE(updateoffered("2.0.0-beta", "1.0.0"));
  EXPECT_FALSE(updateoffered(QByteArray(31, '1') + ".1", "1.0.0")) << "33 characters";
  EXPECT_TRUE(updateoffered(QByteArray(30, '1') + ".1", "1.0.0")) << "32 characters";
  EXPECT_TRUE(updateoffered("1.0.1", "1.0.0"));
  EXPECT_TRUE(updateoffered("1.0.0.1", "1.0.0"));
  EXPECT_TRUE(updateoffered("1.10", "1.9")) << "numbers, not text";
  EXPECT_FALSE(updateoffered("1.9", "1.10"));
  EXPECT_TRUE(updateoffered("1.0.10", "1.0.9"));
  EXPECT_TRUE(updateoffered("99999999999999999999999.0", "1.0.0")) << "no number too large";
  EXPECT_FALSE(updateoffered("1.0.1", "1.0.0-local")) << "ours is no version to compare";
  EXPECT_FALSE(updateoffered("V1", "v1"));
  EXPECT_FALSE(updateoffered(QByteArray("1.0.1\0", 6), "1.0.0"));
}

TEST(UpdateCheck, AddressesHangOffTheBase) {
  EXPECT_EQ(versionaddress("http://127.0.0.1:8080/"),
            "http://127.0.0.1:8080/pipshift/pipshiftversion.txt");
  EXPECT_EQ(installeraddress("http://127.0.0.1:8080/"),
            "http://127.0.0.1:8080/pipshift/pshsetup.exe");
  EXPECT_EQ(signatureaddress(installeraddress("http://127.0.0.1:8080/")),
            "http://127.0.0.1:8080/pipshift/pshsetup.exe.sig");
}

TEST(ServerBase, OneRuleForEveryServer) {
  EXPECT_EQ(serverbase("http://127.0.0.1:8080/up/"), "http://127.0.0.1:8080/up/");
  EXPECT_EQ(serverbase("HTTP://127.0.0.1:8080/up/"), "HTTP://127.0.0.1:8080/up/");
  EXPECT_EQ(serverbase("http://127.0.0.1:8080"), "http://127.0.0.1:8080/")
      << "the closing slash the paths hang off is added";
  for (const char* unusable :
       {"", "ftp://host/", "http://", "/x/", "127.0.0.1:8080/", " http://x/"})
    EXPECT_EQ(serverbase(QString::fromLatin1(unusable), "http://fallback/"), "http://fallback/")
        << unusable;
  EXPECT_EQ(serverbase(""), makersite());
  EXPECT_EQ(makersite(), "http://www.quorvel.example/");
}

TEST(UpdateCheck, BackupNameReplacesOnlyTheFileExtension) {
  EXPECT_EQ(backupname("/opt/pipshift/pipshift.exe"), "/opt/pipshift/pipshift.BAK");
  EXPECT_EQ(backupname("/opt/pipshift/pipshift"), "/opt/pipshift/pipshift.BAK");
  EXPECT_EQ(backupname("/opt/pip.shift/pipshift"), "/opt/pip.shift/pipshift.BAK");
  EXPECT_EQ(backupname("/opt/game/pipshift.tar.gz"), "/opt/game/pipshift.tar.BAK");
  EXPECT_EQ(backupname("/opt/game/.pipshift"), "/opt/game/.pipshift.BAK");
}

TEST(UpdateCheck, InstallerLandsInTheProgramFolderUnderTheLastSegment) {
  EXPECT_EQ(installerlocalpath("/opt/ps/pipshift", "http://h/pipshift/pshsetup.exe"),
            "/opt/ps/pshsetup.exe");
  EXPECT_EQ(installerlocalpath("/opt/ps/pipshift", "http://h/a/b/c/setup"), "/opt/ps/setup");
  for (const char* bad : {"http://h/pipshift/", "http://h/pipshift/.", "http://h/pipshift/.."}) {
    EXPECT_TRUE(installerlocalpath("/opt/ps/pipshift", QString::fromLatin1(bad)).isEmpty()) << bad;
  }
}

TEST(UpdateCheck, OnlyAProgramThatCanReplaceItselfUpdates) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  EXPECT_TRUE(canupdate(scratch.filePath("pipshift")));
  EXPECT_FALSE(canupdate(unwritablefolder(scratch.path()) + "/pipshift"));
  EXPECT_FALSE(canupdate(scratch.filePath("nosuchfolder/pipshift")));
}

// The manifest is what lets a program refuse a replayed release: its signature binds the product,
// the version and the installer's bytes together, and the version must be the one published and
// newer than ours.
TEST(UpdateCheck, OnlyAManifestForThisNewerVersionVouchesForARelease) {
  const TestKey key;
  const TestKey stranger;
  const QByteArray setup = setupbytes(3000);
  const QByteArray good = key.manifestof(setup, "1.0.1");
  auto vouched = [&](const QByteArray& text, const QByteArray& published,
                     const QString& ours = "1.0.0") {
    return vouchedrelease(text, published, ours, key.publickey(), "pshsetup.exe");
  };
  const auto release = vouched(good, "1.0.1");
  ASSERT_TRUE(release);
  EXPECT_EQ(release->length, 3000u);
  EXPECT_EQ(release->hash, TestKey::release(setup, "1.0.1").hash);

  EXPECT_FALSE(vouched(key.manifestof(setup, "1.0.0"), "1.0.2")) << "1.0.0 replayed as 1.0.2";
  EXPECT_FALSE(vouched(key.manifestof(setup, "1.0.0"), "1.0.0")) << "the same version";
  EXPECT_FALSE(vouched(good, "1.0.1", "1.0.1")) << "not newer than ours";
  EXPECT_FALSE(vouched(good, "1.0.1", "2.0")) << "older than ours";
  EXPECT_FALSE(vouched(good, "1.0.2")) << "another version than the published one";
  EXPECT_FALSE(vouched(stranger.manifestof(setup, "1.0.1"), "1.0.1")) << "another key";
  EXPECT_FALSE(vouched(key.manifestof(TestKey::release(setup, "1.0.1", "other")), "1.0.1"));
  EXPECT_FALSE(
      vouched(key.manifestof(TestKey::release(setup, "1.0.1", "pipshift", "x.exe")), "1.0.1"));
  manifest::Release empty = TestKey::release("", "1.0.1");
  EXPECT_FALSE(vouched(key.manifestof(empty), "1.0.1")) << "no installer at all";
  manifest::Release huge = TestKey::release(setup, "1.0.1");
  huge.length = std::uint64_t(THttpCli::MaxBodyLimit) + 1;
  EXPECT_FALSE(vouched(key.manifestof(huge), "1.0.1")) << "more than the client ever takes";

  // Any byte changed, added or cut breaks it.
  for (qsizetype at = 0; at < good.size(); at += 7) {
    QByteArray changed = good;
    changed[at] = char(changed[at] ^ 0x20);
    EXPECT_FALSE(vouched(changed, "1.0.1")) << "byte " << at;
  }
  EXPECT_FALSE(vouched(good + "x\n", "1.0.1"));
  EXPECT_FALSE(vouched(good.chopped(1), "1.0.1"));
  EXPECT_FALSE(vouched("", "1.0.1"));
  EXPECT_FALSE(vouched(QByteArray(5000, 'a') + good, "1.0.1")) << "longer than a manifest";
}

// Another user who can write the folder could swap the verified installer before it runs: such a
// folder gets no update, unless it is sticky (nobody may rename or remove what is ours) and ours.
TEST(UpdateCheck, AFolderOthersCanWriteGetsNoUpdate) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString folder = scratch.filePath("program");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QByteArray path = QFile::encodeName(folder);
  const QString program = folder + "/pipshift";
  const QList<std::pair<mode_t, bool>> modes = {
      {0700, true},  {0755, true},  {0775, false}, {0757, false},
      {0777, false}, {0770, false}, {01777, true}, {01775, true},
  };
  for (const auto& [mode, allowed] : modes) {
    ASSERT_EQ(::chmod(path.constData(), mode), 0);
    EXPECT_EQ(privatefolder(folder), allowed) << std::oct << mode;
    EXPECT_EQ(canupdate(program), allowed) << std::oct << mode;
  }
  // Sticky but another user's: theirs to swap files in.
  ASSERT_EQ(::chmod(path.constData(), 01777), 0);
  if (::geteuid() == 0 && ::chown(path.constData(), 65534, 65534) == 0) {
    EXPECT_FALSE(privatefolder(folder));
  }
  ::chmod(path.constData(), 0700);
  EXPECT_FALSE(privatefolder(scratch.filePath("missing")));
}

// Stands in for the desktop in the update run: writes each launch into the run's log beside the
// save and the exit, and keeps what the installer would have found when it started.
class LaunchRecorder : public Desktop {
 public:
  explicit LaunchRecorder(QStringList* log) : log_(log) {}
  bool openurl(const QString& address) override {
    log_->append("open " + address);
    return true;
  }
  bool startdetached(const QString& program, const QStringList& arguments) override {
    log_->append("launch");
    started.append({program, arguments});
    // What the installer finds when it starts.
    executable = QFileInfo(program).isExecutable();
    contents = readfile(program);
    return result;
  }
  bool result = true;
  QList<std::pair<QString, QStringList>> started;
  bool executable = false;
  QByteArray contents;

 private:
  QStringList* log_;
};

class UpdateRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(server.start());
    program = folder.filePath("pipshift");
    installer = folder.filePath("pshsetup.exe");
    writefile(program, "old program");
    setdesktop(&recorder);
  }
  void TearDown() override { setdesktop(nullptr); }

  // Serves the installer and the signature as given, and the manifest of that installer as
  // version 1.0.1; a signature of "none" is not found.
  void publish(const QByteArray& setup, const QByteArray& sig) {
    const QByteArray manifest = key.manifestof(setup, "1.0.1");
    server.setresponder(
        [setup, sig, manifest](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
          QByteArray answer = notfound;
          if (request.target() == "/pipshift/pipshiftrelease.txt") answer = answer200(manifest);
          if (request.target() == installerpath) answer = answer200(setup);
          if (request.target() == signaturepath && sig != "none") answer = answer200(sig);
          LocalHttpServer::send(socket, answer, true);
        });
  }
  // A good release: the installer and its signature by the trusted key; the run is told of the
  // release of these bytes, as the offer's manifest vouched for it.
  void publish(const QByteArray& setup) {
    release = TestKey::release(setup, "1.0.1");
    publish(setup, key.sign(setup));
  }

  QByteArrayList targets() const {
    QByteArrayList list;
    for (const LocalHttpServer::Request& request : server.requests()) list << request.target();
    return list;
  }

  // Runs the update as the main window's OK button does, with a watchdog against hangs.
  void runupdate(const std::function<void(Tupdater&)>& prepare = {}) {
    Tupdater updater(program, server.url("/"), "www.pipshift.example");
    updater.setpublickey(key.publickey());
    QObject::connect(&updater, &Tupdater::statuschanged,
                     [this](const QString& text) { statuses << text; });
    updater.setsavehook([this] {
      log << "save";
      // What the folder holds while the run is saved: the installer under its own name.
      savedwithinstaller = QFileInfo::exists(installer);
    });
    updater.setexithook([this] { log << "exit"; });
    updater.setmessagehook([this](const QString& text) { log << "message " + text; });
    if (release) updater.setrelease(*release);
    if (prepare) prepare(updater);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { updater.getupdate().Abort(); });
    watchdog.start(20000);
    updater.update();
    EXPECT_TRUE(watchdog.isActive()) << "the download hung";
    EXPECT_FALSE(updater.running());
    EXPECT_EQ(updater.status(), statuses.value(statuses.size() - 1));
  }

  // Every file in the folder, hidden ones included.
  QStringList files() const {
    return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  }

  // After a refused or failed download: nothing of it is left, nothing was started, and the
  // player starts the program as before.
  void expectnothingchanged(const QString& context) {
    EXPECT_EQ(statuses.value(statuses.size() - 1), "Download Aborted") << context.toStdString();
    EXPECT_TRUE(recorder.started.isEmpty()) << context.toStdString();
    EXPECT_TRUE(log.isEmpty()) << context.toStdString() << " " << log.join(", ").toStdString();
    EXPECT_EQ(readfile(program), "old program") << context.toStdString();
    EXPECT_EQ(files(), QStringList{"pipshift"}) << context.toStdString();
  }

  QTemporaryDir folder;
  LocalHttpServer server;
  TestKey key;
  QString program;
  QString installer;
  std::optional<manifest::Release> release;
  QStringList log;
  QStringList statuses;
  bool savedwithinstaller = false;
  LaunchRecorder recorder{&log};
};

TEST_F(UpdateRun, VerifiesSavesThenStartsTheInstallerAndEnds) {
  const QByteArray setup = setupbytes(70000);
  publish(setup);
  runupdate();
  EXPECT_EQ(targets(), QByteArrayList({installerpath, signaturepath}));
  EXPECT_EQ(statuses,
            QStringList({"Updating. Please Wait...", "Received 70000 bytes", "Installing"}));
  ASSERT_EQ(recorder.started.size(), 1);
  EXPECT_EQ(recorder.started[0].first, installer);
  EXPECT_EQ(recorder.started[0].second, installerargs);
  EXPECT_TRUE(recorder.executable);
  EXPECT_EQ(recorder.contents, setup);
  // Saved before the installer starts, not after: the two never write the folder at once.
  EXPECT_EQ(log, QStringList({"save", "launch", "exit"}));
  EXPECT_TRUE(savedwithinstaller);
  // The running program keeps its name until the installer replaces it; its backup is beside it.
  EXPECT_EQ(files(), QStringList({"pipshift", "pipshift.BAK", "pshsetup.exe"}));
  EXPECT_EQ(readfile(program), "old program");
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "old program");
}

TEST_F(UpdateRun, ReplacesABackupAndAnInstallerLeftFromAnEarlierUpdate) {
  writefile(folder.filePath("pipshift.BAK"), "older program");
  writefile(installer, "older setup");
  publish("setup");
  runupdate();
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "old program");
  EXPECT_EQ(readfile(installer), "setup");
  EXPECT_EQ(log, QStringList({"save", "launch", "exit"}));
}

TEST_F(UpdateRun, FollowsTheServerToTheInstallerAndItsSignature) {
  const QByteArray setup = "mirrored setup";
  const QByteArray sig = key.sign(setup);
  release = TestKey::release(setup, "1.0.1");
  server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
    const QByteArray target = request.target();
    if (target == installerpath || target == signaturepath) {
      LocalHttpServer::send(
          socket, "HTTP/1.0 302 Found\r\nLocation: /mirror" + target.mid(9) + "\r\n\r\n", true);
    } else {
      LocalHttpServer::send(socket, answer200(target.endsWith(".sig") ? sig : setup), true);
    }
  });
  runupdate();
  EXPECT_EQ(targets(), QByteArrayList({installerpath, "/mirror/pshsetup.exe", signaturepath,
                                       "/mirror/pshsetup.exe.sig"}));
  // Saved under the name asked for, not the name the server moved it to.
  EXPECT_EQ(recorder.contents, setup);
  ASSERT_EQ(recorder.started.size(), 1);
  EXPECT_EQ(recorder.started[0].first, installer);
}

// Anyone on the way to the server, or the server itself, could send any installer: only the
// bytes the maker signed, whole and unchanged, ever run.
TEST_F(UpdateRun, OnlyTheMakersSignatureOfTheseVeryBytesStartsAnInstaller) {
  const QByteArray setup = setupbytes(5000);
  const QByteArray sig = key.sign(setup);
  const TestKey other;
  release = TestKey::release(setup, "1.0.1");
  auto flipped = [&](qsizetype at) {
    QByteArray bytes = setup;
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
  };
  const QList<std::tuple<const char*, QByteArray, QByteArray>> releases = {
      {"first byte changed", flipped(0), sig},
      {"a middle byte changed", flipped(setup.size() / 2), sig},
      {"last byte changed", flipped(setup.size() - 1), sig},
      {"a byte added", setup + "x", sig},
      {"signed by another key", setup, other.sign(setup)},
      {"signature of another installer", setup, key.sign(flipped(7))},
      {"signature cut to 63 bytes", setup, sig.left(63)},
      {"signature of 65 bytes", setup, sig + '\0'},
      {"signature with a byte changed", setup, sig.left(63) + char(sig[63] ^ 0x80)},
      {"empty signature", setup, ""},
      {"no signature", setup, "none"},
      {"the installer as its own signature", setup, setup},
  };
  for (const auto& [what, bytes, sigbytes] : releases) {
    statuses.clear();
    publish(bytes, sigbytes);
    const qsizetype before = server.requests().size();
    runupdate();
    expectnothingchanged(what);
    // Bytes the manifest does not vouch for end it there; the signature is asked for only of
    // the very bytes it names, from beside the installer.
    const QByteArrayList asked = bytes == setup ? QByteArrayList({installerpath, signaturepath})
                                                : QByteArrayList({installerpath});
    EXPECT_EQ(targets().mid(before), asked) << what;
  }
  // And the same release, unchanged, goes through.
  statuses.clear();
  publish(setup, sig);
  runupdate();
  EXPECT_EQ(log, QStringList({"save", "launch", "exit"}));
}

TEST_F(UpdateRun, MissingInstallerAbortsWithoutAskingForASignature) {
  writefile(folder.filePath("pipshift.BAK"), "older program");
  release = TestKey::release("setup", "1.0.1");
  server.answer(notfound);
  runupdate();
  EXPECT_EQ(statuses.last(), "Download Aborted");
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_TRUE(log.isEmpty());
  EXPECT_EQ(targets(), QByteArrayList{installerpath});
  // The program was never moved, and the earlier backup is left as it was.
  EXPECT_EQ(readfile(program), "old program");
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "older program");
  EXPECT_EQ(files(), QStringList({"pipshift", "pipshift.BAK"}));
}

// None of these is an installer: an empty one used to be launched, and one cut short with no
// length announced used to run truncated.
TEST_F(UpdateRun, EmptyShortOrCutDownloadsNeverStart) {
  const QByteArray setup = setupbytes(4000);
  const QByteArray sig = key.sign(setup);
  release = TestKey::release(setup, "1.0.1");
  const QList<std::pair<const char*, QByteArray>> answers = {
      {"empty, with its length", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"},
      {"empty, without a length", "HTTP/1.0 200 OK\r\n\r\n"},
      {"shorter than its length",
       "HTTP/1.0 200 OK\r\nContent-Length: 4000\r\n\r\n" + setup.left(1000)},
      {"cut short without a length", "HTTP/1.0 200 OK\r\n\r\n" + setup.left(2000)},
      {"nothing to install", "HTTP/1.0 304 Not Modified\r\n\r\n"},
      {"no answer at all", ""},
  };
  for (const auto& [what, bytes] : answers) {
    statuses.clear();
    const QByteArray answer = bytes;
    server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
      LocalHttpServer::send(socket, request.target() == signaturepath ? answer200(sig) : answer,
                            true);
    });
    runupdate();
    expectnothingchanged(what);
  }
}

// A server that keeps sending a byte now and then never falls silent for long enough to trip
// the client's timeout; the bound on the whole download ends it.
TEST_F(UpdateRun, ADribbledDownloadEndsAtTheBound) {
  const QByteArray setup = setupbytes(100000);
  release = TestKey::release(setup, "1.0.1");
  for (const QByteArray& slow : {installerpath, signaturepath}) {
    statuses.clear();
    QList<QPointer<QTcpSocket>> dribbled;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
      for (const QPointer<QTcpSocket>& socket : dribbled) {
        if (socket) socket->write("x");
      }
    });
    drip.start(20);
    server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
      if (request.target() == slow) {
        socket->write("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
        dribbled << socket;
      } else {
        LocalHttpServer::send(
            socket, answer200(request.target() == signaturepath ? key.sign(setup) : setup), true);
      }
    });
    runupdate([](Tupdater& updater) {
      updater.setbound(400);
      EXPECT_GE(updater.getupdate().Timeout(), 10000) << "the silence timeout would end it";
    });
    expectnothingchanged(QString::fromLatin1(slow));
  }
}

TEST_F(UpdateRun, AProgramThatCannotWriteItsFolderAsksNothing) {
  program = unwritablefolder(folder.path()) + "/pipshift";
  publish("setup");
  runupdate();
  EXPECT_TRUE(server.requests().isEmpty());
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_EQ(log.size(), 1);
  EXPECT_TRUE(log.value(0).startsWith("message Cannot create file ")) << log.value(0).toStdString();
}

TEST_F(UpdateRun, UnreachableServerAborts) {
  const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(LocalHttpServer::closedport());
  Tupdater updater(program, base, "www.pipshift.example");
  updater.setexithook([this] { log << "exit"; });
  updater.update();
  EXPECT_EQ(updater.status(), "Download Aborted");
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_EQ(files(), QStringList{"pipshift"});
}

TEST_F(UpdateRun, FailedLaunchShowsTheMessageAndKeepsTheProgram) {
  recorder.result = false;
  publish("setup");
  runupdate();
  // The program stays, and says so: the panel can be closed (it used to stay on "Installing").
  EXPECT_EQ(statuses.last(), "Download Aborted");
  EXPECT_EQ(log, QStringList({"save", "launch",
                              "message There was an error in the update process. Please "
                              "downloadPIPSHIFT manually from www.pipshift.example."}));
  // The whole, verified installer stays for the player to run by hand.
  EXPECT_EQ(readfile(installer), "setup");
  EXPECT_EQ(readfile(program), "old program");
  EXPECT_EQ(files(), QStringList({"pipshift", "pipshift.BAK", "pshsetup.exe"}));
}

TEST_F(UpdateRun, InstallerFileThatCannotBeCreatedIsReported) {
  ASSERT_TRUE(QDir(folder.path()).mkdir("pshsetup.exe"));
  publish("setup");
  runupdate();
  EXPECT_EQ(statuses, QStringList{"Updating. Please Wait..."});
  EXPECT_EQ(log, QStringList{"message Cannot create file " + installer});
  EXPECT_TRUE(server.requests().isEmpty());
  EXPECT_EQ(files(), QStringList{"pipshift"});
}

TEST_F(UpdateRun, AddressWithoutAFileNameAborts) {
  publish("setup");
  for (const char* name : {"", ".", ".."}) {
    statuses.clear();
    runupdate([name](Tupdater& updater) { updater.setinstallerfile(QString::fromLatin1(name)); });
    expectnothingchanged(name);
  }
  EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(UpdateRun, InstallerNamedLikeTheBackupWouldDestroyItAndAborts) {
  publish("setup");
  runupdate([](Tupdater& updater) { updater.setinstallerfile("pipshift.BAK"); });
  expectnothingchanged("pipshift.BAK");
  EXPECT_TRUE(server.requests().isEmpty());
}

// What a download killed part way leaves goes at the next update (and the next start): a
// download nobody holds any more. One another copy of the program is still writing, and holds,
// stays. (They used to stay until older than any download could be.)
TEST_F(UpdateRun, LeftoversOfAKilledDownloadGoAtTheNextUpdate) {
  const QString stale = folder.filePath(".pshsetup.exe.Ab3xYz.part");
  const QString held = folder.filePath(".pshsetup.exe.Qw7rTy.part");
  const QString other = folder.filePath(".other.Ab3xYz.part");
  for (const QString& path : {stale, held, other}) writefile(path, "half a setup");
  QFile holder(held);
  ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
  ASSERT_EQ(::flock(holder.handle(), LOCK_EX | LOCK_NB), 0);
  publish("setup");
  runupdate();
  EXPECT_EQ(log, QStringList({"save", "launch", "exit"}));
  EXPECT_EQ(files(), QStringList({".other.Ab3xYz.part", ".pshsetup.exe.Qw7rTy.part", "pipshift",
                                  "pipshift.BAK", "pshsetup.exe"}));
  holder.close();
  removeleftoverdownloads(program);
  EXPECT_FALSE(QFileInfo::exists(held)) << "let go of, it is a leftover too";
}

// How far a process has written into a file of the folder it holds open: its download in
// progress, whether the file has a name there yet or not.
qint64 written(qint64 pid, const QString& folder) {
  const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
  const QByteArray inside = QFile::encodeName(QFileInfo(folder).canonicalFilePath()) + "/";
  qint64 most = -1;
  for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
    char target[4096];
    const ssize_t n =
        ::readlink(QFile::encodeName(fds + "/" + fd).constData(), target, sizeof target);
    if (n <= 0 || !QByteArray(target, n).startsWith(inside)) continue;
    QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
    if (!info.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : info.readAll().split('\n')) {
      if (line.startsWith("pos:")) most = std::max(most, line.mid(4).trimmed().toLongLong());
    }
  }
  return most;
}

TEST_F(UpdateRun, AProcessKilledDuringTheDownloadLeavesTheProgramUnderItsName) {
  const QByteArray setup = setupbytes(200000);
  const QByteArray manifest = key.manifestof(setup, "1.0.1");
  server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
    if (request.target() == "/pipshift/pipshiftrelease.txt") {
      LocalHttpServer::send(socket, answer200(manifest), true);
      return;
    }
    // Half of it, and then nothing more.
    socket->write("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n" + setup.left(100000));
  });
  QProcess helper;
  helper.start(QStringLiteral(UPDATEHELPER),
               {"update", program, server.url("/"), "www.pipshift.example",
                folder.filePath("saved"), QString::fromLatin1(key.publickey().toHex()), "1.0.1"});
  ASSERT_TRUE(helper.waitForStarted());
  // Killed once all that was sent has landed in the folder.
  const bool landing =
      waitfor([&] { return written(helper.processId(), folder.path()) == 100000; }, 20000);
  // A process already ended has no id: kill(0) would take the whole test run's group with it.
  if (helper.processId() > 0) ::kill(pid_t(helper.processId()), SIGKILL);
  ASSERT_TRUE(helper.waitForFinished(20000));
  ASSERT_TRUE(landing) << "the download never reached the folder";
  EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(readfile(program), "old program");
  EXPECT_FALSE(QFileInfo::exists(installer));
  EXPECT_FALSE(QFileInfo::exists(folder.filePath("pipshift.BAK")));
  EXPECT_FALSE(QFileInfo::exists(folder.filePath("saved")));
  // The next start removes the half download nobody holds any more.
  EXPECT_EQ(files().size(), 2) << files().join(' ').toStdString();
  removeleftoverdownloads(program);
  EXPECT_EQ(files(), QStringList{"pipshift"});
  // Whatever half a download it left, the next update goes through.
  setdesktop(&recorder);
  publish("setup");
  runupdate();
  EXPECT_EQ(log, QStringList({"save", "launch", "exit"}));
}

TEST_F(UpdateRun, RealProcessEndsWithCodeZeroOnceTheInstallerRuns) {
  setdesktop(nullptr);  // this one starts a real installer, a script that notes its arguments
  const QByteArray script =
      "#!/bin/sh\n"
      "[ \"$PIPSHIFT_SETUP_READY\" = 3 ] && echo started >&3\n"
      "dir=$(dirname \"$0\")\n"
      "printf '%s\\n' \"$@\" > \"$dir/args.tmp\" && mv \"$dir/args.tmp\" \"$dir/args.txt\"\n";
  publish(script);
  const QByteArray manifest = key.manifestof(script, "1.0.1");
  QProcess helper;
  helper.start(QStringLiteral(UPDATEHELPER),
               {"update", program, server.url("/"), "www.pipshift.example",
                folder.filePath("saved"), QString::fromLatin1(key.publickey().toHex()), "1.0.1"});
  ASSERT_TRUE(waitfor([&] { return helper.state() == QProcess::NotRunning; }, 30000));
  const QByteArray output = helper.readAllStandardOutput() + helper.readAllStandardError();
  EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(helper.exitCode(), 0) << output.constData();
  EXPECT_EQ(readfile(folder.filePath("saved")), "saved\n");
  ASSERT_TRUE(waitfor([&] { return QFileInfo::exists(folder.filePath("args.txt")); }, 30000));
  EXPECT_EQ(readfile(folder.filePath("args.txt")), "/SP-\n/silent\n/noicons\n");
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "old program");
}

}  // namespace

namespace {

// The program killed at any moment of its update, from the download to its own end, with a real
// installer that replaces it: the folder always holds a program that starts.
TEST_F(UpdateRun, KilledAtAnyMomentTheFolderStillHoldsAProgramThatStarts) {
  setdesktop(nullptr);
  const QByteArray oldprogram = "#!/bin/sh\nexit 0\n";
  const QByteArray newprogram = "#!/bin/sh\n# new\nexit 0\n";
  const QByteArray script =
      "#!/bin/sh\n"
      "trap 'exit 1' HUP INT TERM\n"
      "[ \"$PIPSHIFT_SETUP_READY\" = 3 ] && echo started >&3\n"
      "exec 3>&-\n"
      "dir=$(dirname \"$0\")\n"
      "printf '#!/bin/sh\\n# new\\nexit 0\\n' > \"$dir/.new\" && chmod +x \"$dir/.new\" &&\n"
      "  mv -f \"$dir/.new\" \"$dir/pipshift\"\n";
  publish(script + QByteArray(100000, '#'));
  auto reset = [&] {
    for (const QString& name : files()) QFile::remove(folder.filePath(name));
    writefile(program, oldprogram);
    QFile::setPermissions(program,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  };
  auto start = [&](QProcess& helper, const QString& how = {}) {
    QStringList args = {"update",
                        program,
                        server.url("/"),
                        "www.pipshift.example",
                        folder.filePath("saved"),
                        QString::fromLatin1(key.publickey().toHex()),
                        "1.0.1"};
    if (!how.isEmpty()) args << how;
    helper.start(QStringLiteral(UPDATEHELPER), args);
    return helper.waitForStarted();
  };
  auto ended = [](QProcess& helper) {
    return waitfor([&] { return helper.state() == QProcess::NotRunning; }, 30000);
  };
  auto startable = [&] {
    const QByteArray bytes = readfile(program);
    if (bytes != oldprogram && bytes != newprogram) return false;
    QProcess p;
    p.start(program, {});
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  };

  // How long a whole run takes here, to spread the moments over.
  reset();
  QElapsedTimer clock;
  clock.start();
  {
    QProcess helper;
    ASSERT_TRUE(start(helper));
    ASSERT_TRUE(ended(helper));
    ASSERT_EQ(helper.exitCode(), 0) << helper.readAll().constData();
  }
  const qint64 span = std::max<qint64>(clock.nsecsElapsed() / 1000, 1000);
  ASSERT_TRUE(waitfor([&] { return readfile(program) == newprogram; }, 20000));

  constexpr int moments = 25;
  for (int k = 0; k < moments; ++k) {
    reset();
    QProcess helper;
    ASSERT_TRUE(start(helper));
    // The server answers from this thread: it must keep turning while the moment comes.
    QElapsedTimer moment;
    moment.start();
    while (moment.nsecsElapsed() / 1000 < span * k / moments) QCoreApplication::processEvents();
    // A helper that has already ended has no id, and kill(0) would end the whole test run.
    if (helper.processId() > 0) ::kill(pid_t(helper.processId()), SIGKILL);
    ended(helper);
    EXPECT_TRUE(startable()) << "moment " << k << " of " << span << " us";
    // And once an installer that may have started has done its work.
    QTest::qWait(30);
    EXPECT_TRUE(startable()) << "moment " << k << ", later";
  }
  std::printf("%d moments over %lld us\n", moments, static_cast<long long>(span));
  // And the moment the settings and the tally are being saved, the installer not yet started.
  {
    reset();
    QProcess helper;
    ASSERT_TRUE(start(helper, "killinsave"));
    ASSERT_TRUE(ended(helper));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(readfile(folder.filePath("saved")), "saved\n");
    EXPECT_TRUE(startable()) << "killed while saving";
    EXPECT_EQ(readfile(program), oldprogram);
  }
  // What the killed runs left is no obstacle: the next update goes through.
  QProcess helper;
  reset();
  ASSERT_TRUE(start(helper));
  ASSERT_TRUE(ended(helper));
  EXPECT_EQ(helper.exitCode(), 0);
}

}  // namespace
