// The high-score window shows whatever page the score server sends. Any page, however broken or
// hostile, is loaded, laid out and painted in bounded time, shown from its top, and never makes
// the view reach for anything outside the page.
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTextDocument>

#include "htmlview/htmlview.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

THTMLView* view = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(*argc, *argv);
  // The size the high-score window gives it.
  view = new THTMLView;
  view->resize(479, 505);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString page =
      QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  view->LoadFromString(page);
  FUZZ_CHECK(view->documentname().isEmpty());
  FUZZ_CHECK(view->verticalScrollBar()->value() == 0);
  FUZZ_CHECK(view->toPlainText().size() <= page.size() + 256);

  // Layout and paint, as showing the window would.
  QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
  view->render(&image);
  FUZZ_CHECK(view->verticalScrollBar()->value() == 0);
  QApplication::processEvents();
  return 0;
}
