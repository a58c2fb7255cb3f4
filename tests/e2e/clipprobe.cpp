// Prints what another program has put on the X clipboard, so the end-to-end run can read the
// text of a field or a page the way a player would copy it.
//
//   pipshift-e2e-clip [clipboard|selection]

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const bool selection = argc > 1 && std::strcmp(argv[1], "selection") == 0;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData(selection ? QClipboard::Selection
                                                                           : QClipboard::Clipboard);
  if (!data || !data->hasText()) {
    std::fprintf(stderr, "pipshift-e2e-clip: no text on the %s\n",
                 selection ? "primary selection" : "clipboard");
    return 1;
  }
  const QByteArray text = data->text().toUtf8();
  std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
  return 0;
}
