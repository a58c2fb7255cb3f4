#include "windows/windowstyle.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>
#include <QWindow>

#include "controls/fitwindow.h"
#include "controls/selbutton.h"

namespace windowstyle {

void stylebutton(TSelButton* button, const QString& caption, bool centred) {
  button->setColor(lilac);
  button->setColorOver(lilac);
  button->setColorDown(lilac);
  button->setColorBorder(Qt::white);
  button->setBorderWidth(1);
  button->setColorOverCaption(Qt::black);
  button->setFont(makefont("Arial", 13, true));
  button->setFontColor(navy);
  button->setAlignment(centred ? Qt::AlignHCenter : Qt::AlignLeft);
  button->setCaption(caption);
}

void keepabove(QWidget* window, const QWidget* owner) {
  QWindow* mine = window->windowHandle();
  QWindow* theirs = owner ? owner->windowHandle() : nullptr;
  if (mine && theirs && mine != theirs) mine->setTransientParent(theirs);
}

void bringforward(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void placeonshow(QWidget* window, const QWidget* owner, const QShowEvent* event) {
  if (event->spontaneous()) return;
  keepabove(window, owner);
  const QScreen* screen = owner && owner->isVisible() ? owner->screen() : window->screen();
  controls::fitworkarea(window, screen ? screen : QGuiApplication::primaryScreen(), owner);
  controls::centreon(window, owner);
}

}  // namespace windowstyle
