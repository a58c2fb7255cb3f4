// The player made late: cues held until it is made, made once, and not before it is asked for.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstring>
#include <thread>

#include "sound/latesoundplayer.h"

namespace {

// What the player made by the factory was asked, in order, with "(made)" and "(prepare)" for the
// factory's and prepare()'s own calls.
class Recorder : public SoundPlayer {
 public:
  explicit Recorder(QStringList& asked) : asked_(asked) {}
  void play(const QString& name) override { asked_ << name; }
  void prepare() override { asked_ << QStringLiteral("(prepare)"); }

 private:
  QStringList& asked_;
};

LateSoundPlayer::Factory recording(QStringList& asked) {
  return [&asked] {
    asked << QStringLiteral("(made)");
    return std::make_unique<Recorder>(asked);
  };
}

bool mapped(const char* library) {
  QFile maps(QStringLiteral("/proc/self/maps"));
  return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

// The sound server while it lives: a socket that PULSE_SERVER names, which counts the connections
// made to it and closes each at once, so the player finds no output and plays in silence.
class SoundServer {
 public:
  SoundServer() : previous_(qgetenv("PULSE_SERVER")) {
    const QByteArray path = QFile::encodeName(folder_.filePath(QStringLiteral("sound")));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!folder_.isValid() || size_t(path.size()) >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        listen(listener_, 8))
      return;
    qputenv("PULSE_SERVER", "unix:" + path);
    thread_ = std::thread([this] {
      while (!stopping_) {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0) continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        ++connections_;
        close(connection);
      }
    });
  }
  ~SoundServer() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    qputenv("PULSE_SERVER", previous_);
  }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  bool listening() const { return thread_.joinable(); }
  int connections() const { return connections_; }

 private:
  QTemporaryDir folder_;
  QByteArray previous_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

TEST(LateSound, TheLatestCueWaitsForThePlayerThenCuesPassStraightThrough) {
  QStringList asked;
  LateSoundPlayer player(recording(asked));
  player.play("click");
  player.play("entered");
  EXPECT_FALSE(player.made());
  EXPECT_TRUE(asked.isEmpty()) << "made before it was asked to get ready";

  player.prepare();
  ASSERT_TRUE(player.made());
  EXPECT_EQ(asked, QStringList({"(made)", "(prepare)", "entered"}));

  asked.clear();
  player.play("place");
  player.prepare();
  EXPECT_EQ(asked, QStringList({"place"})) << "made and prepared once only";
}

TEST(LateSound, NothingHeldNothingPlayed) {
  QStringList asked;
  LateSoundPlayer player(recording(asked));
  player.prepare();
  EXPECT_EQ(asked, QStringList({"(made)", "(prepare)"}));
}

TEST(LateSound, WithoutAPlayerTheGameGoesOnSilently) {
  LateSoundPlayer player([] { return std::unique_ptr<SoundPlayer>(); });
  player.play("entered");
  player.prepare();
  EXPECT_TRUE(player.prepared());
  EXPECT_FALSE(player.made());
  player.play("click");
}

// The program's own player is linked in, and looks for the sound output only once it is made.
TEST(LateSound, TheRealPlayerLooksForTheSoundOutputOnlyWhenMade) {
  SoundServer server;
  ASSERT_TRUE(server.listening());
  EXPECT_TRUE(mapped("libQt6Multimedia")) << "the player is linked into the program";
  LateSoundPlayer player;
  player.play("entered");
  QTest::qWait(100);
  EXPECT_EQ(server.connections(), 0) << "the sound output was looked for before it was asked for";
  player.prepare();
  ASSERT_TRUE(player.made());
  EXPECT_TRUE(QTest::qWaitFor([&] { return server.connections() > 0; }, 10000));
  player.play("click");
}

}  // namespace
