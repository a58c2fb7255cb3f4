#include "htmlview/pagetext.h"

#include <QAccessibleWidget>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <algorithm>
#include <memory>

namespace {

// Marks that belong to the layout, never to what a reader should hear.
QChar readable(QChar c) {
  const char16_t u = c.unicode();
  if (u == QChar::LineSeparator) return u'\n';
  if (u == QChar::ParagraphSeparator || u == QChar::ObjectReplacementCharacter ||
      (u >= 0xFDD0 && u <= 0xFDEF) || u == QChar::Nbsp)
    return u' ';
  return c;
}

}  // namespace

PageText::PageText(const QTextDocument& document) {
  end_ = std::max(0, document.characterCount() - 1);
  QTextTable* lasttable = nullptr;
  int lastrow = -1;
  int lastcolumn = -1;
  bool first = true;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    QTextTable* table = QTextCursor(block).currentTable();
    int row = -1;
    int column = -1;
    if (table) {
      const QTextTableCell cell = table->cellAt(block.position());
      row = cell.row();
      column = cell.column();
    }
    if (!first) {
      const bool nextcell = table && table == lasttable && row == lastrow && column != lastcolumn;
      text_ += nextcell ? u'\t' : u'\n';
    }
    first = false;
    lasttable = table;
    lastrow = row;
    lastcolumn = column;

    const QString words = block.text();
    pieces_.push_back({int(text_.size()), block.position(), int(words.size())});
    for (QChar c : words) text_ += readable(c);
  }
}

int PageText::readingoffset(int position) const {
  if (pieces_.empty()) return 0;
  // The last piece that begins at or before the position.
  auto at = std::upper_bound(pieces_.begin(), pieces_.end(), position,
                             [](int p, const Piece& piece) { return p < piece.position; });
  if (at == pieces_.begin()) return 0;
  const Piece& piece = *std::prev(at);
  if (position <= piece.position + piece.length) return piece.offset + (position - piece.position);
  return at == pieces_.end() ? size() : at->offset;
}

int PageText::pageposition(int offset) const {
  if (pieces_.empty()) return 0;
  auto at = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                             [](int o, const Piece& piece) { return o < piece.offset; });
  if (at == pieces_.begin()) return pieces_.front().position;
  const Piece& piece = *std::prev(at);
  if (offset <= piece.offset + piece.length) return piece.position + (offset - piece.offset);
  return at == pieces_.end() ? end_ : at->position;
}

namespace {

// The view read as one document of text (it is read through what QTextBrowser gives, so this file
// need not know THTMLView, which installs it): the reading text of PageText, its caret and
// selection mapped onto the page's own. The parts Qt draws it on (the area, the scroll bars) are
// left out: the page scrolls under the reader's keys.
class PageAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit PageAccessible(QTextBrowser* view) : QAccessibleWidget(view, QAccessible::Document) {}
  ~PageAccessible() override { QObject::disconnect(watch_); }

  QTextBrowser* view() const { return static_cast<QTextBrowser*>(widget()); }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) {
      if (!view()->accessibleName().isEmpty()) return view()->accessibleName();
      const QString title = view()->document()->metaInformation(QTextDocument::DocumentTitle);
      return title.trimmed().isEmpty() ? QStringLiteral("Page") : title.trimmed();
    }
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = true;
    return s;
  }

  int childCount() const override { return 0; }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  // QAccessibleTextInterface
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    const QTextCursor cursor = view()->textCursor();
    if (index != 0 || !cursor.hasSelection()) return;
    *start = page().readingoffset(cursor.selectionStart());
    *end = page().readingoffset(cursor.selectionEnd());
  }
  int selectionCount() const override { return view()->textCursor().hasSelection() ? 1 : 0; }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int index) override {
    if (index != 0) return;
    QTextCursor cursor = view()->textCursor();
    cursor.clearSelection();
    view()->setTextCursor(cursor);
  }
  void setSelection(int index, int start, int end) override {
    if (index != 0) return;
    QTextCursor cursor(view()->document());
    cursor.setPosition(page().pageposition(start));
    cursor.setPosition(page().pageposition(end), QTextCursor::KeepAnchor);
    view()->setTextCursor(cursor);
  }
  int cursorPosition() const override {
    return page().readingoffset(view()->textCursor().position());
  }
  void setCursorPosition(int position) override {
    QTextCursor cursor(view()->document());
    cursor.setPosition(page().pageposition(position));
    view()->setTextCursor(cursor);
  }
  QString text(int start, int end) const override {
    const QString& all = page().text();
    start = std::clamp(start, 0, int(all.size()));
    end = end < 0 ? int(all.size()) : std::clamp(end, start, int(all.size()));
    return all.mid(start, end - start);
  }
  int characterCount() const override { return page().size(); }
  QRect characterRect(int offset) const override {
    QTextCursor cursor(view()->document());
    cursor.setPosition(page().pageposition(offset));
    const QRect caret = view()->cursorRect(cursor);
    const QPoint topleft = view()->viewport()->mapToGlobal(caret.topLeft());
    const int width = view()->fontMetrics().averageCharWidth();
    return {topleft, QSize(width, caret.height())};
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(local)) return -1;
    return page().readingoffset(view()->cursorForPosition(local).position());
  }
  void scrollToSubstring(int start, int) override {
    QTextCursor cursor(view()->document());
    cursor.setPosition(page().pageposition(start));
    const QRect caret = view()->cursorRect(cursor);
    QScrollBar* bar = view()->verticalScrollBar();
    bar->setValue(bar->value() + caret.top());
  }
  QString attributes(int offset, int* start, int* end) const override {
    *start = 0;
    *end = std::max(offset + 1, page().size());
    return {};
  }

 private:
  // Made again only when the page has changed since it was last read.
  const PageText& page() const {
    const QTextDocument* document = view()->document();
    if (!cache_ || cachedfor_ != document) {
      QObject::disconnect(watch_);
      watch_ = QObject::connect(document, &QTextDocument::contentsChanged, view(),
                                [this] { cache_.reset(); });
      cachedfor_ = document;
      cache_.reset();
    }
    if (!cache_) cache_ = std::make_unique<PageText>(*document);
    return *cache_;
  }

  mutable std::unique_ptr<PageText> cache_;
  mutable const QTextDocument* cachedfor_ = nullptr;
  mutable QMetaObject::Connection watch_;
};

QAccessibleInterface* pagefactory(const QString& classname, QObject* object) {
  if (classname == QLatin1String("THTMLView") && object && object->isWidgetType())
    return new PageAccessible(static_cast<QTextBrowser*>(object));
  return nullptr;
}

}  // namespace

void installpageaccess(QWidget* view) {
  static const bool installed = [] {
    QAccessible::installFactory(pagefactory);
    return true;
  }();
  Q_UNUSED(installed);
  // Where a reader is already listening, Qt may have made the view's accessible object while the
  // view was still being made, before it was a THTMLView; the next one is made by the factory.
  if (!QAccessible::isActive()) return;
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(view))
    if (!dynamic_cast<PageAccessible*>(made))
      QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
