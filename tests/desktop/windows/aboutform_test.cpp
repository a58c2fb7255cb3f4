#include "windows/aboutform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QWindow>
#include <memory>

#include "controls/selbutton.h"
#include "controls/url.h"
#include "tests/support/recordingdesktop.h"

namespace {

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner.setGeometry(100, 100, 640, 480);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    window = std::make_unique<Tabout>(&owner);
    about = window.get();
  }

  QLabel* labelnamed(const char* name) const {
    auto* l = about->findChild<QLabel*>(name);
    EXPECT_NE(l, nullptr) << name;
    return l;
  }

  int visiblewindows() const {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) n += w->isVisible();
    return n;
  }

  RecordingDesktop recorder;
  QWidget owner;
  std::unique_ptr<Tabout> window;
  Tabout* about = nullptr;
};

}  // namespace

TEST_F(AboutTest, LayoutOfTheWindow) {
  EXPECT_EQ(about->objectName(), "about");
  EXPECT_EQ(about->windowTitle(), "Pipshift - About");
  EXPECT_EQ(about->size(), QSize(304, 193));
  EXPECT_EQ(about->minimumSize(), about->maximumSize()) << "not resizable";
  EXPECT_FALSE(about->isModal());

  EXPECT_EQ(labelnamed("Image1")->geometry(), QRect(18, 8, 265, 66));
  EXPECT_FALSE(labelnamed("Image1")->pixmap().isNull()) << "the logo is drawn";
  EXPECT_EQ(labelnamed("Label7")->geometry(), QRect(8, 72, 289, 20));
  EXPECT_EQ(labelnamed("Label7")->text(), "www.quorvel.example");
  EXPECT_TRUE(labelnamed("Label7")->font().underline());
  EXPECT_EQ(labelnamed("Label7")->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(labelnamed("Label6")->text(), "Programmed by: Quorvel Software");
  EXPECT_EQ(labelnamed("Label6")->pos(), QPoint(4, 122));
  EXPECT_EQ(labelnamed("Label1")->text(), "Version");
  EXPECT_EQ(labelnamed("Label1")->pos(), QPoint(48, 171));

  for (QLabel* l : about->findChildren<QLabel*>())
    EXPECT_TRUE(about->rect().contains(l->geometry()))
        << l->objectName().toStdString() << " runs off the window";

  auto* done = about->findChild<TSelButton*>("button_done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->geometry(), QRect(202, 164, 95, 20));
  EXPECT_EQ(done->caption(), "Done");
  EXPECT_EQ(done->alignment(), Qt::AlignHCenter);
}

TEST_F(AboutTest, VersionReadsAsOneLineAndTheCheckSeesTheFirstPart) {
  QLabel* word = labelnamed("Label1");
  QLabel* version = labelnamed("version");
  QLabel* build = labelnamed("Label9");
  // The version the build was given: 1.0.0 unless -DPIPSHIFT_VERSION says otherwise.
  EXPECT_EQ(about->versiontext(), PIPSHIFT_BUILD_VERSION);
  EXPECT_EQ(version->text(), PIPSHIFT_BUILD_VERSION);
  EXPECT_EQ(build->text(), ".1");
  EXPECT_EQ(version->palette().color(QPalette::WindowText), QColor(Qt::white));
  EXPECT_EQ(build->palette().color(QPalette::WindowText), QColor(Qt::white));

  // Side by side on one line, in order, none covering the next, with no gap between the two
  // version pieces beyond their places.
  EXPECT_EQ(version->y(), 171);
  EXPECT_EQ(build->y(), 171);
  EXPECT_GE(version->x(), 96);
  EXPECT_GE(build->x(), 123);
  EXPECT_GE(version->x(), word->x() + word->width());
  EXPECT_GE(build->x(), version->x() + version->width());
  EXPECT_LE(build->x(), std::max(123, version->x() + version->width()));
}

TEST_F(AboutTest, LinkClickHandsTheSiteToTheDesktop) {
  about->showforward();
  const int windows = visiblewindows();
  QLabel* link = labelnamed("Label7");
  QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
  const QStringList want = {"http://www.quorvel.example"};
  EXPECT_EQ(recorder.opened, want);
  EXPECT_EQ(visiblewindows(), windows) << "no message either way";

  recorder.accept = false;
  QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
  EXPECT_EQ(recorder.opened.size(), 2);
  EXPECT_EQ(visiblewindows(), windows) << "a refusal is silent";

  QTest::mouseClick(link, Qt::RightButton, {}, link->rect().center());
  QTest::mousePress(link, Qt::LeftButton, {}, link->rect().center());
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-30, -30));
  EXPECT_EQ(recorder.opened.size(), 2) << "right button, or released off the link";
}

TEST_F(AboutTest, LogoLinkOpensTheSiteWithoutShowingTheWindow) {
  EXPECT_EQ(about->URL1->URLType(), utHttp);
  about->openlink();
  const QStringList want = {"http://www.quorvel.example"};
  EXPECT_EQ(recorder.opened, want);
  EXPECT_FALSE(about->isVisible());
}

TEST_F(AboutTest, DoneClosesByHidingAndTheWindowOpensAgainCentred) {
  about->showforward();
  EXPECT_TRUE(about->isVisible());
  const QPoint diff = about->frameGeometry().center() - owner.frameGeometry().center();
  EXPECT_LE(diff.manhattanLength(), 2);
  ASSERT_NE(about->windowHandle(), nullptr);
  EXPECT_EQ(about->windowHandle()->transientParent(), owner.windowHandle());

  auto* done = about->findChild<TSelButton*>("button_done");
  QPointer<Tabout> alive(about);
  QTest::mouseClick(done, Qt::LeftButton, {}, QPoint(40, 10));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(alive);
  EXPECT_FALSE(about->isVisible());
  EXPECT_EQ(about->versiontext(), PIPSHIFT_BUILD_VERSION) << "hidden, not destroyed";

  about->showforward();
  EXPECT_TRUE(about->isVisible());
}
