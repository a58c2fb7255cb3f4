// The release as the build makes it and the installer as a player's machine runs it: a release
// folder made by the build's own release script from a stand-in program, signed with a key made
// here by the maker's tool, then installed into scratch program folders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>

namespace {

QByteArray readfile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writefile(const QString& path, const QByteArray& bytes, bool executable = false) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
  file.close();
  if (executable) {
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                        QFileDevice::ExeOther);
  }
}

struct Ran {
  int code = -1;
  QByteArray out;
  QByteArray err;
};

Ran run(const QString& program, const QStringList& args, const QString& cwd = {}) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  p.start(program, args);
  Ran ran;
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) return ran;
  ran.code = p.exitCode();
  ran.out = p.readAllStandardOutput();
  ran.err = p.readAllStandardError();
  return ran;
}

ino_t inode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The stand-in program notes the folder it was started in, as the real one would be started.
const QByteArray newprogram =
    "#!/bin/sh\n"
    "# the new program\n"
    "pwd -P > started.tmp && mv started.tmp started\n";

// The program as it ran before the update: it starts and ends well.
const QByteArray oldprogram =
    "#!/bin/sh\n"
    "# the old program\n"
    "pwd -P > ran.tmp && mv ran.tmp ran\n";

class Release : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    for (const char* sub : {"keys", "build", "release", "elsewhere"}) {
      ASSERT_TRUE(QDir(scratch.path()).mkpath(sub));
    }
    secret = scratch.filePath("keys/release.key");
    publickey = scratch.filePath("keys/release.pub");
    const Ran made = run(tool, {"keygen", secret, publickey});
    ASSERT_EQ(made.code, 0) << made.err.constData();
    toolsaid += made.out + made.err;

    writefile(scratch.filePath("build/pipshift-next"), newprogram, true);
    writefile(scratch.filePath("build/pipshift-tally"), "the new tool");
    const Ran release =
        run(QStringLiteral(CMAKE_COMMAND),
            {"-DSTUB=" + QStringLiteral(INSTALLER_STUB),
             "-DDIR=" + scratch.filePath("release/pipshift"), "-DVERSION=2.0.0",
             "-DPROGRAM=" + scratch.filePath("build/pipshift-next"), "-DPROGRAM_NAME=pipshift",
             "-DBACKUP=pipshift.BAK", "-DEXTRA=" + scratch.filePath("build/pipshift-tally"),
             "-DINSTALLER=pshsetup.exe", "-DVERSION_FILE=pipshiftversion.txt",
             "-DMANIFEST_FILE=pipshiftrelease.txt", "-DPRODUCT=pipshift", "-DSIGNER=" + tool,
             "-DKEY=" + secret, "-P", QStringLiteral(MAKE_RELEASE_SCRIPT)});
    ASSERT_EQ(release.code, 0) << release.out.constData() << release.err.constData();
    toolsaid += release.out + release.err;
    installer = readfile(scratch.filePath("release/pipshift/pshsetup.exe"));
  }

  // A program folder as an update leaves it when it starts the installer: the running program
  // moved aside, the installer beside it, and the player's own files.
  QString updatefolder(const QString& name) {
    const QString folder = scratch.filePath(name);
    EXPECT_TRUE(QDir().mkpath(folder));
    writefile(folder + "/pipshift.BAK", "the old program", true);
    writefile(folder + "/pipshift-tally", "the old tool");
    writefile(folder + "/pipshift.ini", "[pipshift]\r\nName=Ada\r\nLeft=60\r\n");
    writefile(folder + "/pipshifttally.tld", QByteArray("\x01\x02tally\x00\xff", 9));
    writefile(folder + "/pshsetup.exe", installer, true);
    return folder;
  }

  Ran install(const QString& folder, const QStringList& args = {"/SP-", "/silent", "/noicons"}) {
    return run(folder + "/pshsetup.exe", args, scratch.filePath("elsewhere"));
  }

  // The program a successful install started, or nothing after a while.
  QByteArray started(const QString& folder) {
    if (!QTest::qWaitFor([&] { return QFileInfo::exists(folder + "/started"); }, 20000)) return {};
    return readfile(folder + "/started");
  }

  QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
  }

  // After any failure: the program under its own name as it was, the player's files untouched,
  // nothing left of the attempt, nothing started.
  void expectputback(const QString& folder, const Ran& ran, const char* context) {
    EXPECT_NE(ran.code, 0) << context;
    EXPECT_FALSE(ran.err.isEmpty()) << context << ": it should say what went wrong";
    EXPECT_EQ(readfile(folder + "/pipshift"), "the old program") << context;
    EXPECT_EQ(readfile(folder + "/pipshift-tally"), "the old tool") << context;
    EXPECT_EQ(readfile(folder + "/pipshift.ini"), "[pipshift]\r\nName=Ada\r\nLeft=60\r\n");
    EXPECT_EQ(entries(folder), QStringList({"pipshift", "pipshift-tally", "pipshift.ini",
                                            "pipshifttally.tld", "pshsetup.exe"}))
        << context;
  }

  const QString tool = QStringLiteral(RELEASE_TOOL);
  QTemporaryDir scratch;
  QString secret;
  QString publickey;
  QByteArray installer;
  QByteArray toolsaid;
};

TEST_F(Release, TheFolderHoldsTheVersionTheInstallerAndItsSignature) {
  const QString dir = scratch.filePath("release/pipshift");
  EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
            QStringList({"pipshiftrelease.txt", "pipshiftversion.txt", "pshsetup.exe",
                         "pshsetup.exe.sig"}));
  EXPECT_EQ(readfile(dir + "/pipshiftversion.txt"), "2.0.0") << "the version, no line end";
  EXPECT_TRUE(installer.startsWith("#!/bin/sh\n"));
  EXPECT_TRUE(QFileInfo(dir + "/pshsetup.exe").isExecutable());
  EXPECT_EQ(readfile(dir + "/pshsetup.exe.sig").size(), 64);
  // The manifest names this version and these very bytes, under the same key.
  const QByteArray manifest = readfile(dir + "/pipshiftrelease.txt");
  EXPECT_TRUE(
      manifest.startsWith("product pipshift\nversion 2.0.0\ninstaller pshsetup.exe\n"
                          "length " +
                          QByteArray::number(installer.size()) + "\nblake2b-256 "))
      << manifest.constData();
  const Ran vouched =
      run(tool, {"checkmanifest", publickey, dir + "/pipshiftrelease.txt", dir + "/pshsetup.exe"});
  EXPECT_EQ(vouched.code, 0) << vouched.err.constData();
  writefile(scratch.filePath("elsewhere/other.exe"), installer + "x");
  EXPECT_EQ(run(tool, {"checkmanifest", publickey, dir + "/pipshiftrelease.txt",
                       scratch.filePath("elsewhere/other.exe")})
                .code,
            1)
      << "another installer does not match it";

  const Ran good =
      run(tool, {"verify", publickey, dir + "/pshsetup.exe", dir + "/pshsetup.exe.sig"});
  EXPECT_EQ(good.code, 0) << good.err.constData();
  // Another key does not vouch for it.
  const Ran other =
      run(tool, {"keygen", scratch.filePath("keys/other.key"), scratch.filePath("keys/other.pub")});
  ASSERT_EQ(other.code, 0);
  EXPECT_EQ(run(tool, {"verify", scratch.filePath("keys/other.pub"), dir + "/pshsetup.exe",
                       dir + "/pshsetup.exe.sig"})
                .code,
            1);
}

TEST_F(Release, TheToolNeverShowsTheSecretKeyNorReplacesOne) {
  const QByteArray key = readfile(secret);
  ASSERT_EQ(key.size(), 64);
  QFile::Permissions owneronly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  EXPECT_EQ(QFile::permissions(secret) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
            owneronly);

  // Everything it can be asked, right or wrong.
  const QString unit = scratch.filePath("keys/releasekey.cpp");
  const QString file = scratch.filePath("release/pipshift/pshsetup.exe");
  const QList<QStringList> asks = {
      {"keyunit", secret, unit},
      {"public", secret, scratch.filePath("keys/again.pub")},
      {"sign", secret, file, scratch.filePath("keys/file.sig")},
      {"keygen", secret, scratch.filePath("keys/overwritten.pub")},
      {"sign", publickey, file, scratch.filePath("keys/bad.sig")},
      {"verify", secret, file, scratch.filePath("keys/file.sig")},
      {"nonsense"},
  };
  for (const QStringList& ask : asks) {
    const Ran ran = run(tool, ask);
    toolsaid += ran.out + ran.err;
  }
  EXPECT_EQ(readfile(secret), key) << "keygen replaced an existing key";
  EXPECT_EQ(readfile(scratch.filePath("keys/again.pub")), readfile(publickey));
  EXPECT_FALSE(QFileInfo::exists(scratch.filePath("keys/bad.sig")));

  // The seed, the secret half of the key, in any of the forms it could be shown.
  const QByteArray seed = key.left(32);
  const QByteArray unittext = readfile(unit);
  for (const QByteArray& form :
       {seed, seed.toHex(), seed.toHex().toUpper(), seed.toBase64(), seed.left(8).toHex()}) {
    EXPECT_FALSE(toolsaid.contains(form)) << "the tool printed the secret key";
    EXPECT_FALSE(unittext.contains(form)) << "the program's unit holds the secret key";
  }
  // The unit holds the public key, byte for byte and in order.
  const QByteArray pub = readfile(publickey);
  ASSERT_EQ(pub.size(), 32);
  qsizetype at = 0;
  for (int i = 0; i < 32 && at >= 0; ++i) {
    const QByteArray token = "0x" + pub.mid(i, 1).toHex();
    at = unittext.indexOf(token, at);
    EXPECT_GE(at, 0) << "public key byte " << i;
    if (at >= 0) at += token.size();
  }
}

TEST_F(Release, AnUpdateInstallsBesideItselfKeepsThePlayersFilesAndStartsTheProgram) {
  const QString folder = updatefolder("program");
  const ino_t ini = inode(folder + "/pipshift.ini");
  const ino_t tally = inode(folder + "/pipshifttally.tld");
  const QDateTime inidate = QFileInfo(folder + "/pipshift.ini").lastModified();
  const Ran ran = install(folder);
  EXPECT_EQ(ran.code, 0) << ran.err.constData();
  EXPECT_EQ(ran.out, "") << "silent";
  EXPECT_EQ(readfile(folder + "/pipshift"), newprogram);
  EXPECT_TRUE(QFileInfo(folder + "/pipshift").isExecutable());
  EXPECT_EQ(readfile(folder + "/pipshift-tally"), "the new tool");
  // The player's files: the very same files, not rewritten.
  EXPECT_EQ(inode(folder + "/pipshift.ini"), ini);
  EXPECT_EQ(inode(folder + "/pipshifttally.tld"), tally);
  EXPECT_EQ(QFileInfo(folder + "/pipshift.ini").lastModified(), inidate);
  EXPECT_EQ(readfile(folder + "/pipshifttally.tld"), QByteArray("\x01\x02tally\x00\xff", 9));
  // Started from its own folder, wherever the installer was started from.
  EXPECT_EQ(started(folder), QFileInfo(folder).canonicalFilePath().toLocal8Bit() + "\n");
  EXPECT_EQ(entries(folder),
            QStringList({"pipshift", "pipshift-tally", "pipshift.BAK", "pipshift.ini",
                         "pipshifttally.tld", "pshsetup.exe", "started"}));
}

// A file written in place is half old, half new while it is written; renamed, it is one or the
// other. A second name for the old file shows which happened.
TEST_F(Release, FilesAreReplacedByRenameNeverWrittenInPlace) {
  const QString folder = updatefolder("program");
  ASSERT_TRUE(QFile::rename(folder + "/pipshift.BAK", folder + "/pipshift"));
  ASSERT_EQ(::link(QFile::encodeName(folder + "/pipshift").constData(),
                   QFile::encodeName(scratch.filePath("old-program")).constData()),
            0);
  ASSERT_EQ(::link(QFile::encodeName(folder + "/pipshift-tally").constData(),
                   QFile::encodeName(scratch.filePath("old-module")).constData()),
            0);
  const Ran ran = install(folder);
  EXPECT_EQ(ran.code, 0) << ran.err.constData();
  EXPECT_EQ(readfile(folder + "/pipshift"), newprogram);
  EXPECT_EQ(readfile(scratch.filePath("old-program")), "the old program");
  EXPECT_EQ(readfile(scratch.filePath("old-module")), "the old tool");
  EXPECT_FALSE(started(folder).isEmpty());
}

TEST_F(Release, OtherSwitchesAreIgnoredAndWithoutSilentItSaysWhatItDoes) {
  const QString folder = updatefolder("program");
  const Ran ran = install(folder, {"/sp-", "/NORESTART", "/LOG=setup.log", "/noicons"});
  EXPECT_EQ(ran.code, 0) << ran.err.constData();
  EXPECT_TRUE(ran.out.contains("Installing Pipshift 2.0.0")) << ran.out.constData();
  EXPECT_EQ(readfile(folder + "/pipshift"), newprogram);
  EXPECT_FALSE(QFileInfo::exists(folder + "/setup.log"));
  EXPECT_FALSE(started(folder).isEmpty());
}

TEST_F(Release, AnyFailurePutsTheProgramBackAndSaysSo) {
  {
    const QString folder = updatefolder("unknown-argument");
    expectputback(folder, install(folder, {"/silent", "--help"}), "an argument not a switch");
  }
  {
    const QString folder = updatefolder("cut-short");
    writefile(folder + "/pshsetup.exe", installer.left(installer.size() - 100), true);
    expectputback(folder, install(folder), "cut short");
  }
  {
    const QString folder = updatefolder("byte-changed");
    // In the middle of the packed files, which follow the script's last line.
    QByteArray damaged = installer;
    const qsizetype packed = installer.lastIndexOf("\nexit 0\n") + 8;
    ASSERT_GT(packed, 8);
    const qsizetype at = packed + (installer.size() - packed) / 2;
    damaged[at] = char(damaged[at] ^ 0x5a);
    writefile(folder + "/pshsetup.exe", damaged, true);
    expectputback(folder, install(folder), "a byte of the packed files changed");
  }
  {
    // The module's place is taken by a folder the installer cannot replace: by then the program
    // is in place already, and must be taken back.
    const QString folder = updatefolder("blocked");
    ASSERT_TRUE(QFile::remove(folder + "/pipshift-tally"));
    ASSERT_TRUE(QDir(folder).mkpath("pipshift-tally/inside"));
    const Ran ran = install(folder);
    EXPECT_NE(ran.code, 0);
    EXPECT_EQ(readfile(folder + "/pipshift"), "the old program");
    EXPECT_TRUE(QFileInfo(folder + "/pipshift-tally/inside").isDir());
    EXPECT_EQ(entries(folder), QStringList({"pipshift", "pipshift-tally", "pipshift.ini",
                                            "pipshifttally.tld", "pshsetup.exe"}));
  }
  for (const char* folder : {"unknown-argument", "cut-short", "byte-changed", "blocked"}) {
    EXPECT_FALSE(QFileInfo::exists(scratch.filePath(folder) + "/started")) << folder;
  }
}

// A program folder as this release's update leaves it: the running program still under its own
// name, its backup a second name for it, the installer beside them.
QString livefolder(const QString& folder, const QByteArray& installer) {
  EXPECT_TRUE(QDir().mkpath(folder));
  writefile(folder + "/pipshift", oldprogram, true);
  EXPECT_EQ(::link(QFile::encodeName(folder + "/pipshift").constData(),
                   QFile::encodeName(folder + "/pipshift.BAK").constData()),
            0);
  writefile(folder + "/pipshift-tally", "the old tool");
  writefile(folder + "/pipshift.ini", "[pipshift]\r\nName=Ada\r\n");
  writefile(folder + "/pipshifttally.tld", QByteArray("\x01\x02tally\x00\xff", 9));
  writefile(folder + "/pshsetup.exe", installer, true);
  return folder;
}

// Whether the folder's program starts, old or new, and ends well. Run from a folder of its own:
// the one the installer started may be writing its mark in the program's folder just then.
bool startable(const QString& folder) {
  const QByteArray bytes = readfile(folder + "/pipshift");
  if (bytes != oldprogram && bytes != newprogram) {
    ADD_FAILURE() << "neither program: " << bytes.left(60).constData();
    return false;
  }
  QTemporaryDir elsewhere;
  QProcess p;
  p.setWorkingDirectory(elsewhere.path());
  p.start(folder + "/pipshift", {});
  return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A folder whose name ends in a line end, beside one of the same name without it: a shell's
// command substitution drops trailing line ends, and so would install into, and start the
// program of, the neighbour.
TEST_F(Release, AFolderWhoseNameEndsInALineEndIsItsOwn) {
  const QString neighbour = scratch.filePath("program");
  livefolder(neighbour, installer);
  writefile(neighbour + "/pshsetup.exe", "not this one", true);
  for (const QString& name : {QStringLiteral("program\n"), QStringLiteral("program\n\n"),
                              QStringLiteral(" program \n")}) {
    const QString folder = livefolder(scratch.filePath(name), installer);
    const Ran ran = install(folder);
    EXPECT_EQ(ran.code, 0) << ran.err.constData();
    EXPECT_EQ(readfile(folder + "/pipshift"), newprogram);
    EXPECT_EQ(started(folder), QFileInfo(folder).canonicalFilePath().toLocal8Bit() + "\n");
  }
  EXPECT_EQ(readfile(neighbour + "/pipshift"), oldprogram) << "the neighbour was installed into";
  EXPECT_FALSE(QFileInfo::exists(neighbour + "/started")) << "the neighbour's program ran";
  EXPECT_FALSE(QFileInfo::exists(neighbour + "/ran"));
}

// The installer killed at any moment, all of it or only its shell: the folder always holds a
// program that starts, old or new, and the player's files as they were.
TEST_F(Release, KilledAtAnyMomentTheFolderStillHoldsAProgramThatStarts) {
  // How long a whole install takes here, to spread the moments over.
  QElapsedTimer clock;
  clock.start();
  const Ran whole = install(livefolder(scratch.filePath("timing"), installer));
  // A little past the end too: the last steps and the new program's start.
  const qint64 span = std::max<qint64>(clock.nsecsElapsed() / 1000 * 3 / 2, 1000);
  ASSERT_EQ(whole.code, 0) << whole.err.constData();
  constexpr int moments = 40;
  int replaced = 0;
  for (int k = 0; k < moments; ++k) {
    const QString folder = livefolder(scratch.filePath(QStringLiteral("kill%1").arg(k)), installer);
    QProcess p;
    p.setWorkingDirectory(scratch.filePath("elsewhere"));
    p.setChildProcessModifier([] { ::setpgid(0, 0); });
    p.start(folder + "/pshsetup.exe", {"/SP-", "/silent", "/noicons"});
    ASSERT_TRUE(p.waitForStarted());
    ::usleep(useconds_t(span * k / moments));
    const bool group = k % 2 == 0;
    // An installer already ended has no id; kill(0) or kill(-0) would end the whole test run.
    const auto pid = pid_t(p.processId());
    if (pid > 0) ::kill(group ? -pid : pid, SIGKILL);
    p.waitForFinished(20000);
    // Whatever the shell had started goes on without it; let it end.
    if (!group) QTest::qWait(50);
    const bool isnew = readfile(folder + "/pipshift") == newprogram;
    replaced += isnew ? 1 : 0;
    EXPECT_TRUE(startable(folder)) << "moment " << k << " of " << span << " us";
    EXPECT_EQ(readfile(folder + "/pipshift.ini"), "[pipshift]\r\nName=Ada\r\n") << k;
    EXPECT_EQ(readfile(folder + "/pipshifttally.tld"), QByteArray("\x01\x02tally\x00\xff", 9));
  }
  std::printf("%d moments over %lld us; the new program was in place after %d\n", moments,
              static_cast<long long>(span), replaced);
}

}  // namespace
