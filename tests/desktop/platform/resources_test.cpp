// The pictures and sounds every window draws with: present by linking alone, at the sizes the
// layout expects, and drawn so that the game's composition of a bone works.
#include <gtest/gtest.h>
#include <QFile>
#include <QImage>
#include <QPixmapCache>
#include <QtEndian>

#include <vector>

#include "resources/resources.h"

namespace {

QImage load(const QString& path) {
  QImage image(path);
  return image.convertToFormat(QImage::Format_ARGB32);
}

bool dark(QRgb p) {
  return qAlpha(p) > 128 && qGray(p) < 100;
}

// Counts the separate dark blobs in an image: the pips of a pip square.
int countblobs(const QImage& image) {
  const int w = image.width(), h = image.height();
  std::vector<bool> seen(w * h, false);
  int blobs = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (seen[y * w + x] || !dark(image.pixel(x, y))) continue;
      ++blobs;
      std::vector<QPoint> stack{{x, y}};
      seen[y * w + x] = true;
      while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
          const QPoint n = p + d;
          if (n.x() < 0 || n.y() < 0 || n.x() >= w || n.y() >= h) continue;
          if (seen[n.y() * w + n.x()] || !dark(image.pixel(n))) continue;
          seen[n.y() * w + n.x()] = true;
          stack.push_back(n);
        }
      }
    }
  }
  return blobs;
}

}  // namespace

TEST(Resources, EveryPictureIsThereAtItsSize) {
  std::vector<std::pair<QString, QSize>> pictures = {{":/images/boneface.png", {66, 34}},
                                                     {":/images/guide.png", {69, 277}},
                                                     {":/images/logo.png", {214, 41}},
                                                     {":/images/timebar.png", {150, 19}},
                                                     {":/images/timeframe.png", {154, 23}},
                                                     {":/images/aboutlogo.png", {265, 66}},
                                                     {":/images/highscorelogo.png", {88, 102}},
                                                     {":/images/icon.png", {256, 256}},
                                                     {":/images/windowicon.png", {48, 48}},
                                                     {":/images/button_startgame.png", {132, 41}},
                                                     {":/images/button_done.png", {132, 41}},
                                                     {":/images/button_cancel.png", {132, 41}},
                                                     {":/images/button_ok.png", {132, 41}},
                                                     {":/images/button_sendscore.png", {132, 41}},
                                                     {":/images/button_highscores.png", {132, 41}},
                                                     {":/images/button_resettally.png", {132, 41}}};
  for (int k = 0; k <= 9; ++k)
    pictures.push_back({QStringLiteral(":/images/dots_%1.png").arg(k), {28, 28}});
  for (const auto& [path, size] : pictures) {
    const QImage image(path);
    ASSERT_FALSE(image.isNull()) << path.toStdString();
    EXPECT_EQ(image.size(), size) << path.toStdString();
  }
}

TEST(Resources, EveryPictureIsDrawnAgainAtTwiceItsSize) {
  QStringList names = {
      "boneface",         "guide",         "logo",      "timebar",          "timeframe",
      "aboutlogo",        "highscorelogo", "icon",      "windowicon",       "button_startgame",
      "button_done",      "button_cancel", "button_ok", "button_sendscore", "button_highscores",
      "button_resettally"};
  for (int k = 0; k <= 9; ++k) names << QStringLiteral("dots_%1").arg(k);
  for (const QString& name : names) {
    const QImage plain = load(":/images/" + name + ".png");
    const QImage twice = load(":/images/" + name + "@2x.png");
    ASSERT_FALSE(twice.isNull()) << name.toStdString();
    EXPECT_EQ(twice.size(), plain.size() * 2) << name.toStdString();
  }
  // Drawn at that size, not the 1x picture with every pixel doubled: curves come out finer.
  for (const char* name :
       {"dots_5", "logo", "aboutlogo", "highscorelogo", "button_done", "icon", "timebar"}) {
    const QImage plain = load(QStringLiteral(":/images/%1.png").arg(name));
    QImage twice = load(QStringLiteral(":/images/%1@2x.png").arg(name));
    twice.setDevicePixelRatio(1.0);
    EXPECT_NE(twice, plain.scaled(plain.size() * 2)) << name;
  }
  // The 2x pip squares still carry their pips on the 2x face's colour.
  const QImage face = load(":/images/boneface@2x.png");
  for (int k = 0; k <= 6; ++k) {
    const QImage square = load(QStringLiteral(":/images/dots_%1@2x.png").arg(k));
    EXPECT_EQ(countblobs(square), k) << "dots_" << k << "@2x";
    EXPECT_EQ(square.pixel(0, 0), face.pixel(4, 6)) << k;
  }
}

TEST(Resources, TheTwiceDrawnPictureIsGivenAboveARatioOfOneAndOnlyThen) {
  const QString logo = QStringLiteral(":/images/highscorelogo.png");
  QPixmapCache::clear();
  const QPixmap plain = resourcepicture(logo, 1.0);
  EXPECT_EQ(plain.size(), QSize(88, 102));
  EXPECT_EQ(plain.devicePixelRatio(), 1.0);
  QPixmap cached;
  EXPECT_FALSE(QPixmapCache::find(":/images/highscorelogo@2x.png", &cached))
      << "at a ratio of 1 the 2x picture is not even decoded";

  const QPixmap sharp = resourcepicture(logo, 2.0);
  EXPECT_EQ(sharp.size(), QSize(176, 204));
  EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
  EXPECT_EQ(sharp.deviceIndependentSize().toSize(), QSize(88, 102)) << "shown at the same size";
  // Pixel for pixel, as the pixmaps hold them.
  auto pixelsof = [](const QPixmap& pixmap) {
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1.0);
    return image;
  };
  QImage twice =
      QImage(":/images/highscorelogo@2x.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
  twice.setDevicePixelRatio(1.0);
  EXPECT_EQ(pixelsof(sharp), twice);

  // Shown at a size of its own: exactly the 2x picture where that has the pixels asked for,
  // else resampled from it to the size.
  EXPECT_EQ(pixelsof(resourcepicture(logo, QSize(176, 204), 1.0)), twice);
  const QPixmap between = resourcepicture(logo, QSize(132, 153), 1.0);
  EXPECT_EQ(between.size(), QSize(132, 153));
  EXPECT_EQ(pixelsof(resourcepicture(logo, QSize(88, 102), 1.0)), pixelsof(plain));
  EXPECT_TRUE(resourcepicture(":/images/nosuch.png", 2.0).isNull());
}

TEST(Resources, PipSquaresShowTheirPipsOnTheFaceColour) {
  const QImage face = load(":/images/boneface.png");
  for (int k = 0; k <= 9; ++k) {
    const QImage square = load(QStringLiteral(":/images/dots_%1.png").arg(k));
    EXPECT_EQ(countblobs(square), k <= 6 ? k : 0) << "dots_" << k;
    // The squares are painted onto the face at (2, 3) and (35, 2); their background must be the
    // face's own colour there, or each half would show a patch.
    EXPECT_EQ(square.pixel(0, 0), face.pixel(2, 3)) << k;
    EXPECT_EQ(square.pixel(27, 27), face.pixel(35 + 27, 2 + 27)) << k;
    EXPECT_EQ(qAlpha(square.pixel(0, 0)), 255);
  }
}

TEST(Resources, BoneFaceIsOpaqueWithRimAndDivider) {
  const QImage face = load(":/images/boneface.png");
  EXPECT_TRUE(dark(face.pixel(0, 0)));
  EXPECT_TRUE(dark(face.pixel(65, 33)));
  EXPECT_FALSE(dark(face.pixel(16, 16)));
  // The divider lies between the two pip squares, which cover x 2..29 and 35..62.
  EXPECT_LT(qGray(face.pixel(32, 16)), qGray(face.pixel(16, 16)) - 40);
  for (int y = 0; y < 34; ++y)
    for (int x = 0; x < 66; ++x) ASSERT_EQ(qAlpha(face.pixel(x, y)), 255) << x << "," << y;
}

TEST(Resources, GuideShowsAFadedDoubleBehindEveryHomeSlot) {
  // The guide sits at (6, 6) in the board; home slot r is 66 x 34 at (8, 8 + 40 r).
  const QImage guide = load(":/images/guide.png");
  for (int r = 0; r < 7; ++r) {
    const int top = 2 + 40 * r;
    const QRgb middle = guide.pixel(2 + 16, top + 1);
    EXPECT_GT(qAlpha(middle), 20) << "row " << r;
    EXPECT_LT(qAlpha(middle), 200) << "faded, row " << r;
    if (r < 6) {
      EXPECT_EQ(qAlpha(guide.pixel(34, top + 37)), 0) << "gap under row " << r;
    }
  }
  EXPECT_EQ(qAlpha(guide.pixel(0, 0)), 0);
  // The last double is 0/0 and the first 6/6: count pips on the left half of each.
  const QImage first = guide.copy(2 + 2, 2 + 3, 28, 28);
  const QImage last = guide.copy(2 + 2, 242 + 3, 28, 28);
  auto faint = [](QImage image) {
    // Undo the fading so that the pips count as dark again.
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        image.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), qAlpha(p) > 40 ? 255 : 0));
      }
    return image;
  };
  EXPECT_EQ(countblobs(faint(first)), 6);
  EXPECT_EQ(countblobs(faint(last)), 0);
}

TEST(Resources, ButtonsCarryLightWordsOnADarkBlueFace) {
  for (const char* name :
       {"startgame", "done", "cancel", "ok", "sendscore", "highscores", "resettally"}) {
    const QImage button = load(QStringLiteral(":/images/button_%1.png").arg(name));
    const QRgb face = button.pixel(6, 36);
    EXPECT_GT(qBlue(face), qRed(face) + 30) << name;
    EXPECT_LT(qGray(face), 100) << name;
    // Words: some white pixels, centred about the middle.
    int minx = 132, maxx = -1;
    for (int y = 8; y < 34; ++y)
      for (int x = 4; x < 128; ++x)
        if (qGray(button.pixel(x, y)) > 240) minx = std::min(minx, x), maxx = std::max(maxx, x);
    ASSERT_GE(maxx, 0) << name;
    EXPECT_LE(std::abs((minx + maxx) / 2 - 66), 3) << name;
  }
}

TEST(Resources, SoundCuesHaveTheirExactSizesAndArePcmWave) {
  const std::vector<std::pair<QString, qint64>> cues = {
      {"click", 1642}, {"entered", 8712}, {"gameover", 23468}, {"invalid", 35428},
      {"place", 2566}, {"time", 8744},    {"timeup", 8681},    {"unclick", 6444}};
  EXPECT_EQ(resourcecuenames().size(), int(cues.size()));
  for (const auto& [name, size] : cues) {
    const QString path = resourcecuepath(name);
    ASSERT_EQ(path, ":/sounds/" + name + ".wav");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray data = file.readAll();
    ASSERT_EQ(data.size(), size) << name.toStdString();
    EXPECT_EQ(data.left(4), "RIFF");
    EXPECT_EQ(qFromLittleEndian<quint32>(data.constData() + 4), quint32(size - 8));
    EXPECT_EQ(data.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(qFromLittleEndian<quint16>(data.constData() + 20), 1) << "PCM";
    EXPECT_EQ(qFromLittleEndian<quint16>(data.constData() + 22), 1) << "mono";
    EXPECT_EQ(data.mid(36, 4), "data");
    const quint32 samples = qFromLittleEndian<quint32>(data.constData() + 40);
    EXPECT_EQ(samples, quint32(size - 44)) << name.toStdString();
    // Loud enough to be heard: the peak reaches at least a third of full scale.
    const quint16 bits = qFromLittleEndian<quint16>(data.constData() + 34);
    int peak = 0;
    for (qsizetype i = 44; i + 1 < data.size(); i += bits / 8) {
      const int v = bits == 8 ? int(quint8(data[i])) - 128
                              : qFromLittleEndian<qint16>(data.constData() + i) / 256;
      peak = std::max(peak, std::abs(v));
    }
    EXPECT_GT(peak, 42) << name.toStdString();
  }
}

TEST(Resources, CueNamesMatchWithoutRegardToCaseAndStayInsideTheSounds) {
  EXPECT_EQ(resourcecuepath("CLICK"), ":/sounds/click.wav");
  EXPECT_EQ(resourcecuepath("TimeUp"), ":/sounds/timeup.wav");
  EXPECT_TRUE(resourcecuepath("startgame").isEmpty());
  EXPECT_TRUE(resourcecuepath("").isEmpty());
  EXPECT_TRUE(resourcecuepath("../images/logo").isEmpty());
}
