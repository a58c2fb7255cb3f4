// The second yardstick for the start-up benchmark: the least a window that says something does.
// A plain window draws no text, so it never starts fontconfig, FreeType and HarfBuzz; any window
// with a menu bar or a label pays for them. This one has the game window's size, a menu bar with
// the game's four menus (empty) and one line of text in a 13 px font.

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Text window"));
  for (const char* name : {"File", "Options", "View", "Help"}) {
    window.menuBar()->addMenu(QString::fromLatin1(name));
  }
  auto* label = new QLabel(QStringLiteral("Welcome to Pipshift by Quorvel Software!"), &window);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  window.setCentralWidget(label);
  window.resize(604, 374);
  window.show();
  return app.exec();
}
