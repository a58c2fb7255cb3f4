// The yardstick for the start-up benchmark: the least a Qt Widgets program with one window does,
// at the game window's size.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Minimal"));
  window.resize(604, 374);
  window.show();
  return app.exec();
}
