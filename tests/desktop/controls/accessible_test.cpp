// Our controls as a screen reader meets them: every one with a role and a name, a selection
// button that a reader can press, and the parts that only lay out the others left out.
#include "controls/accessible.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include "controls/flatpanel.h"
#include "controls/selbutton.h"
#include "tests/support/accesswalk.h"

namespace {

QAccessibleInterface* reader(QObject* object) {
  return QAccessible::queryAccessibleInterface(object);
}

}  // namespace

TEST(Accessible, ASelectionButtonIsAButtonNamedByItsCaptionThatAReaderCanPress) {
  QWidget window;
  auto* button = new TSelButton(&window);
  button->setObjectName("SelButton3");
  QAccessibleInterface* iface = reader(button);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Button);
  EXPECT_EQ(iface->text(QAccessible::Name), "SelButton3") << "the caption until one is set";
  button->setCaption("Game Play");
  EXPECT_EQ(iface->text(QAccessible::Name), "Game Play");

  QAccessibleActionInterface* actions = iface->actionInterface();
  ASSERT_NE(actions, nullptr);
  ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
  QSignalSpy clicks(button, &TSelButton::OnClick);
  actions->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.at(0).at(0).value<TSelButton*>(), button);

  // Switched off, it says so and a press does nothing, as a click would do nothing.
  button->setButtonEnabled(false);
  EXPECT_TRUE(iface->state().disabled);
  actions->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(clicks.count(), 1);
}

TEST(Accessible, AFlatPanelIsAGroupNamedByItsCaptionOrByWhatItHolds) {
  QWidget window;
  auto* panel = new TFlatPanel(&window);
  QAccessibleInterface* iface = reader(panel);
  ASSERT_NE(iface, nullptr);
  EXPECT_EQ(iface->role(), QAccessible::Grouping);
  panel->setCaption("Posting Score, Please Wait......");
  EXPECT_EQ(iface->text(QAccessible::Name), "Posting Score, Please Wait......");
  panel->setAccessibleName("Topics");
  EXPECT_EQ(iface->text(QAccessible::Name), "Topics") << "a name given wins over the caption";
}

TEST(Accessible, AWindowReadsInTheRoleItIsGivenNamedByItsTitle) {
  QWidget window(nullptr, Qt::Window);
  window.setWindowTitle("Pipshift - Help File");
  accessible::setrole(&window, QAccessible::Window);
  EXPECT_EQ(reader(&window)->role(), QAccessible::Window);
  EXPECT_EQ(reader(&window)->text(QAccessible::Name), "Pipshift - Help File");

  QWidget dialog(nullptr, Qt::Dialog);
  dialog.setWindowTitle("Pipshift - About");
  accessible::setrole(&dialog, QAccessible::Dialog);
  EXPECT_EQ(reader(&dialog)->role(), QAccessible::Dialog);
}

TEST(Accessible, HiddenPartsAndWhatTheyHoldAreNotMet) {
  QWidget window;
  window.setWindowTitle("A window");
  accessible::setrole(&window, QAccessible::Window);
  auto* holder = new QWidget(&window);
  auto* inside = new QLabel("inside", holder);
  auto* logo = new QLabel(&window);  // a picture, no text
  auto* shown = new QLabel("Quorvel Software", &window);
  accessible::hide(holder);
  accessible::hide(logo);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  EXPECT_TRUE(reader(holder)->state().invisible);
  EXPECT_EQ(reader(holder)->childCount(), 0);
  const QStringList names = accesswalk::names(&window);
  EXPECT_TRUE(names.contains("Quorvel Software"));
  EXPECT_FALSE(names.contains("inside")) << names.join(" | ").toStdString();
  EXPECT_EQ(accesswalk::unnamed(&window), QStringList());
  Q_UNUSED(inside);
  Q_UNUSED(shown);
}

TEST(Accessible, AScrolledTextIsReadAsItsTextAlone) {
  QWidget window;
  window.setWindowTitle("A window");
  accessible::setrole(&window, QAccessible::Window);
  auto* page = new QTextEdit(&window);
  page->setReadOnly(true);
  page->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  page->setPlainText("Overview\n\nThis is a game.");
  page->setAccessibleName("Overview");
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // Unmarked, Qt gives a reader the area the text is drawn on and the scroll bars' frames, none
  // of them named.
  EXPECT_FALSE(accesswalk::unnamed(&window).isEmpty());
  accessible::textonly(page);
  EXPECT_EQ(accesswalk::unnamed(&window), QStringList());
  EXPECT_TRUE(accesswalk::names(&window).contains("Overview"));
  ASSERT_NE(reader(page)->textInterface(), nullptr);
  EXPECT_TRUE(reader(page)
                  ->textInterface()
                  ->text(0, reader(page)->textInterface()->characterCount())
                  .contains("This is a game."));
}

TEST(Accessible, APanelMarkedForAnotherFactoryIsLeftToIt) {
  // What the factory answers, and the answer handed to Qt to free.
  auto asked = [](QObject* object, auto&& check) {
    QAccessibleInterface* iface = accessible::interfacefor("TFlatPanel", object);
    check(iface);
    if (iface)
      QAccessible::deleteAccessibleInterface(QAccessible::registerAccessibleInterface(iface));
  };
  QWidget window;
  auto* panel = new TFlatPanel(&window);
  asked(panel, [](QAccessibleInterface* iface) {
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Grouping);
  });
  // The board's notices are flat panels that its own factory reads, whichever is asked first.
  panel->setProperty("pipshift_title", QVariant::fromValue<QObject*>(nullptr));
  asked(panel, [](QAccessibleInterface* iface) { EXPECT_EQ(iface, nullptr); });
  // What a window asks of ours still holds.
  accessible::hide(panel);
  asked(panel, [](QAccessibleInterface* iface) {
    ASSERT_NE(iface, nullptr);
    EXPECT_TRUE(iface->state().invisible);
  });
}
