// The update check's decisions and the whole update run in a scratch program folder, against a
// raw server on 127.0.0.1 and a desktop that records what it is asked to start.
#include "online/updatecheck.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "platform/desktop.h"
#include "tests/support/localhttpserver.h"

namespace {

const QStringList installerargs = {"/SP-", "/silent", "/noicons"};

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

TEST(UpdateCheck, OffersOnAnyDifferenceInTheVersionText) {
  EXPECT_FALSE(updateoffered("1.0.0", "1.0.0"));
  EXPECT_TRUE(updateoffered("1.0.0\n", "1.0.0"));
  EXPECT_TRUE(updateoffered("1.0.0\r\n", "1.0.0"));
  EXPECT_TRUE(updateoffered(" 1.0.0", "1.0.0"));
  EXPECT_TRUE(updateoffered("0.9", "1.0.0"));
  EXPECT_TRUE(updateoffered("1.0.1", "1.0.0"));
  EXPECT_TRUE(updateoffered("", "1.0.0"));
  EXPECT_TRUE(updateoffered("V1", "v1"));
  EXPECT_TRUE(updateoffered(QByteArray("1.0.0\0", 6), "1.0.0"));
}

TEST(UpdateCheck, AddressesHangOffTheBase) {
  EXPECT_EQ(versionaddress("http://127.0.0.1:8080/"),
            "http://127.0.0.1:8080/pipshift/pipshiftversion.txt");
  EXPECT_EQ(installeraddress("http://127.0.0.1:8080/"),
            "http://127.0.0.1:8080/pipshift/pshsetup.exe");
  EXPECT_EQ(updatebase("http://127.0.0.1:8080/up/"), "http://127.0.0.1:8080/up/");
  for (const char* unusable : {"", "http://127.0.0.1:8080", "ftp://host/", "http://", "/x/"}) {
    EXPECT_EQ(updatebase(QString::fromLatin1(unusable)), defaultupdateserver()) << unusable;
  }
  EXPECT_TRUE(defaultupdateserver().startsWith("http://"));
  EXPECT_TRUE(defaultupdateserver().endsWith("/"));
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

// Stands in for the desktop in the update run: writes each launch into the run's log beside the
// save and the exit, and keeps what the installer would have found when it started.
class LaunchRecorder : public Desktop {
 public:
  explicit LaunchRecorder(QStringList* log) : log_(log) {}
  bool openUrl(const QString& address) override {
    log_->append("open " + address);
    return true;
  }
  bool startDetached(const QString& program, const QStringList& arguments) override {
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

  // Runs the update as the main window's OK button does, with a watchdog against hangs.
  void runupdate(const std::function<void(Tupdater&)>& prepare = {}) {
    Tupdater updater(program, server.url("/"), "www.pipshift.example");
    QObject::connect(&updater, &Tupdater::statuschanged,
                     [this](const QString& text) { statuses << text; });
    updater.setsavehook([this] { log << "save"; });
    updater.setexithook([this] { log << "exit"; });
    updater.setmessagehook([this](const QString& text) { log << "message " + text; });
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

  // After any failure the player can start the program as before.
  void expectprogramrestored() {
    EXPECT_EQ(readfile(program), "old program");
    EXPECT_FALSE(QFileInfo::exists(backupname(program)));
  }

  QTemporaryDir folder;
  LocalHttpServer server;
  QString program;
  QString installer;
  QStringList log;
  QStringList statuses;
  LaunchRecorder recorder{&log};
};

TEST_F(UpdateRun, DownloadsStartsTheInstallerThenSavesAndEnds) {
  QByteArray setup(70000, '\0');
  for (int i = 0; i < setup.size(); ++i) setup[i] = char(i % 251);
  server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
    const bool wanted = request.bytes.startsWith("GET /pipshift/pshsetup.exe HTTP/1.0\r\n");
    LocalHttpServer::send(socket, wanted ? answer200(setup) : "HTTP/1.0 404 Not Found\r\n\r\n",
                          true);
  });
  runupdate();
  EXPECT_EQ(statuses,
            QStringList({"Updating. Please Wait...", "Received 70000 bytes", "Installing"}));
  ASSERT_EQ(recorder.started.size(), 1);
  EXPECT_EQ(recorder.started[0].first, installer);
  EXPECT_EQ(recorder.started[0].second, installerargs);
  EXPECT_TRUE(recorder.executable);
  EXPECT_EQ(recorder.contents, setup);
  EXPECT_EQ(log, QStringList({"launch", "save", "exit"}));
  // The installer replaces the program; the running one has moved aside for it.
  EXPECT_FALSE(QFileInfo::exists(program));
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "old program");
}

TEST_F(UpdateRun, ReplacesABackupLeftFromAnEarlierUpdate) {
  writefile(folder.filePath("pipshift.BAK"), "older program");
  server.answer(answer200("setup"));
  runupdate();
  EXPECT_EQ(readfile(folder.filePath("pipshift.BAK")), "old program");
  EXPECT_EQ(log, QStringList({"launch", "save", "exit"}));
}

TEST_F(UpdateRun, FollowsTheServerToTheInstaller) {
  server.setresponder([&](QTcpSocket* socket, const LocalHttpServer::Request& request, int) {
    if (request.bytes.startsWith("GET /pipshift/pshsetup.exe ")) {
      LocalHttpServer::send(
          socket, "HTTP/1.0 302 Found\r\nLocation: /mirror/setup-1.0.1.exe\r\n\r\n", true);
    } else {
      LocalHttpServer::send(socket, answer200("mirrored setup"), true);
    }
  });
  runupdate();
  // Saved under the name asked for, not the name the server moved it to.
  EXPECT_EQ(recorder.contents, "mirrored setup");
  ASSERT_EQ(recorder.started.size(), 1);
  EXPECT_EQ(recorder.started[0].first, installer);
}

TEST_F(UpdateRun, MissingInstallerAbortsAndLeavesTheProgramStartable) {
  writefile(folder.filePath("pipshift.BAK"), "older program");
  server.answer("HTTP/1.0 404 Not Found\r\nContent-Length: 20\r\n\r\n<html>missing</html>");
  runupdate();
  EXPECT_EQ(statuses.last(), "Download Aborted");
  EXPECT_TRUE(recorder.started.isEmpty());
  EXPECT_TRUE(log.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(installer));
  expectprogramrestored();
}

TEST_F(UpdateRun, ShortOrUnansweredDownloadsAbortToo) {
  const QList<QByteArray> answers = {
      "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\nonly this much",  // cut short
      "",                                                               // no answer at all
      "HTTP/1.0 304 Not Modified\r\n\r\n",                              // nothing to install
  };
  for (const QByteArray& answer : answers) {
    statuses.clear();
    server.answer(answer);
    runupdate();
    EXPECT_EQ(statuses.last(), "Download Aborted") << answer.constData();
    EXPECT_TRUE(recorder.started.isEmpty()) << answer.constData();
    EXPECT_FALSE(QFileInfo::exists(installer)) << answer.constData();
    expectprogramrestored();
  }
}

TEST_F(UpdateRun, UnreachableServerAborts) {
  const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(LocalHttpServer::closedport());
  Tupdater updater(program, base, "www.pipshift.example");
  updater.setexithook([this] { log << "exit"; });
  updater.update();
  EXPECT_EQ(updater.status(), "Download Aborted");
  EXPECT_TRUE(recorder.started.isEmpty());
  expectprogramrestored();
}

TEST_F(UpdateRun, FailedLaunchShowsTheMessageAndKeepsTheProgram) {
  recorder.result = false;
  server.answer(answer200("setup"));
  runupdate();
  EXPECT_EQ(statuses.last(), "Installing");
  EXPECT_EQ(log, QStringList({"launch",
                              "message There was an error in the update process. Please "
                              "downloadPIPSHIFT manually from www.pipshift.example."}));
  // The whole installer stays for the player to run by hand.
  EXPECT_EQ(readfile(installer), "setup");
  expectprogramrestored();
}

TEST_F(UpdateRun, InstallerFileThatCannotBeCreatedIsReported) {
  ASSERT_TRUE(QDir(folder.path()).mkdir("pshsetup.exe"));
  server.answer(answer200("setup"));
  runupdate();
  EXPECT_EQ(statuses, QStringList{"Updating. Please Wait..."});
  EXPECT_EQ(log, QStringList{"message Cannot create file " + installer});
  EXPECT_TRUE(server.requests().isEmpty());
  expectprogramrestored();
}

TEST_F(UpdateRun, AddressWithoutAFileNameAborts) {
  server.answer(answer200("setup"));
  for (const char* name : {"", ".", ".."}) {
    statuses.clear();
    runupdate([name](Tupdater& updater) { updater.setinstallerfile(QString::fromLatin1(name)); });
    EXPECT_EQ(statuses.last(), "Download Aborted") << name;
    expectprogramrestored();
  }
  EXPECT_TRUE(server.requests().isEmpty());
  EXPECT_TRUE(recorder.started.isEmpty());
  // Nothing was written beside the program.
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"pipshift"});
}

TEST_F(UpdateRun, InstallerNamedLikeTheBackupWouldDestroyItAndAborts) {
  server.answer(answer200("setup"));
  runupdate([](Tupdater& updater) { updater.setinstallerfile("pipshift.BAK"); });
  EXPECT_EQ(statuses.last(), "Download Aborted");
  EXPECT_TRUE(server.requests().isEmpty());
  expectprogramrestored();
}

TEST_F(UpdateRun, RealProcessEndsWithCodeZeroOnceTheInstallerRuns) {
  setdesktop(nullptr);  // this one starts a real installer, a script that notes its arguments
  const QByteArray script =
      "#!/bin/sh\n"
      "dir=$(dirname \"$0\")\n"
      "printf '%s\\n' \"$@\" > \"$dir/args.tmp\" && mv \"$dir/args.tmp\" \"$dir/args.txt\"\n";
  server.answer(answer200(script));
  QProcess helper;
  helper.start(QStringLiteral(UPDATEHELPER), {"update", program, server.url("/"),
                                              "www.pipshift.example", folder.filePath("saved")});
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
