#include "htmlview/htmlview.h"

#include <QEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>
#include <optional>

#include "htmlview/markupguard.h"
#include "htmlview/pagetext.h"

namespace {

// "data:[<media type>][;base64],<payload>"; nullopt when the address is not a well-formed one.
std::optional<QByteArray> decodedataurl(const QUrl& url) {
  const QByteArray text = url.toString(QUrl::FullyEncoded).toLatin1();
  const qsizetype comma = text.indexOf(',');
  if (!text.startsWith("data:") || comma < 0) return std::nullopt;
  const QByteArray header = text.mid(5, comma - 5);
  const QByteArray payload = QByteArray::fromPercentEncoding(text.mid(comma + 1));
  if (!header.endsWith(";base64")) return payload;
  auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded) return std::nullopt;
  return *decoded;
}

}  // namespace

THTMLView::THTMLView(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setUndoRedoEnabled(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setLineWrapMode(QTextEdit::WidgetWidth);
  setTextInteractionFlags(Qt::TextBrowserInteraction);
  viewport()->setMouseTracking(true);

  QFont font(QStringLiteral("Times New Roman"));
  font.setPointSize(12);
  setFont(font);
  document()->setDefaultFont(font);
  // Qt paints anchors in the application palette's link colour unless a style says otherwise;
  // a default style sheet is what a page's own styles override, as a browser's defaults are.
  document()->setDefaultStyleSheet(
      QStringLiteral("a { color: %1; } pre { font-family: \"Arial\"; }").arg(linkcolor_.name()));

  QPalette colours = palette();
  colours.setColor(QPalette::Base, Qt::white);
  colours.setColor(QPalette::Text, Qt::blue);
  colours.setColor(QPalette::Link, linkcolor_);
  colours.setColor(QPalette::LinkVisited, visitedcolor_);
  setPalette(colours);
  // A one-pixel border that shows only while the view has the focus.
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  setframecolor(Qt::white);

  connect(this, &QTextBrowser::anchorClicked, this, &THTMLView::linkactivated);
  installpageaccess(this);
}

void THTMLView::LoadFromString(const QString& text, const QString& name) {
  name_ = name;
  QString page = text.left(maxpagesize);
  if (page.size() < text.size()) {
    if (page.back().isHighSurrogate()) page.chop(1);
    // Cut before a tag the limit split, so the note below is not swallowed by it.
    const qsizetype lastopen = page.lastIndexOf(u'<');
    if (lastopen > page.lastIndexOf(u'>')) page.truncate(lastopen);
    page += QStringLiteral("<hr><p>The page was cut short: it is longer than %1 KiB.</p>")
                .arg(maxpagesize / 1024);
  }
  hover_.clear();
  const GuardedMarkup guarded = guardmarkup(page);
  setWordWrapMode(guarded.longestword > maxwordlength ? QTextOption::WrapAnywhere
                                                      : QTextOption::WrapAtWordBoundaryOrAnywhere);
  setHtml(guarded.html);
  clearHistory();
  indexlinks();
  moveCursor(QTextCursor::Start);
  verticalScrollBar()->setValue(0);
}

QVariant THTMLView::loadResource(int type, const QUrl& name) {
  const QString scheme = name.scheme().toLower();
  if (scheme == u"qrc") return QTextBrowser::loadResource(type, name);
  if (scheme == u"data") {
    if (auto bytes = decodedataurl(name)) return *bytes;
  }
  // Anything else -- the network, the player's files, devices -- is refused. A non-null empty
  // answer matters: on a null one the document would go and read local files by itself.
  return QVariant(QByteArray());
}

void THTMLView::linkactivated(const QUrl& url) {
  QString target = clicked_;
  if (target.isEmpty()) target = anchorundercursor();
  if (target.isEmpty()) target = url.toString();
  bool handled = false;
  emit OnHotSpotClick(this, target, handled);
  if (visited_.size() < maxvisited) visited_.insert(target);
  restyle(target);
  if (!handled && target.startsWith(u'#') && target.size() > 1) scrollToAnchor(target.mid(1));
}

// A link chosen from the keyboard is the selection the text control made around it.
QString THTMLView::anchorundercursor() const {
  const QTextCursor selection = textCursor();
  if (!selection.hasSelection()) return {};
  QTextCursor probe(document());
  probe.setPosition(selection.selectionStart() + 1);
  return probe.charFormat().anchorHref();
}

void THTMLView::indexlinks() {
  links_.clear();
  const QColor defaultlink = linkcolor_;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat format = fragment.charFormat();
      if (!format.isAnchor() || format.anchorHref().isEmpty()) continue;
      if (format.foreground().color() != defaultlink) continue;
      links_[format.anchorHref()].append({fragment.position(), fragment.length()});
    }
  }
  for (auto it = links_.cbegin(); it != links_.cend(); ++it)
    if (visited_.contains(it.key())) restyle(it.key());
}

void THTMLView::restyle(const QString& target) {
  const auto ranges = links_.constFind(target);
  if (ranges == links_.cend()) return;
  QColor colour = linkcolor_;
  if (target == hover_)
    colour = hovercolor_;
  else if (visited_.contains(target))
    colour = visitedcolor_;
  QTextCharFormat format;
  format.setForeground(colour);
  QTextCursor cursor(document());
  for (const Range& range : *ranges) {
    cursor.setPosition(range.position);
    cursor.setPosition(range.position + range.length, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(format);
  }
}

void THTMLView::sethover(const QString& target) {
  if (target == hover_) return;
  const QString previous = hover_;
  hover_ = target;
  restyle(previous);
  restyle(hover_);
}

void THTMLView::mouseMoveEvent(QMouseEvent* event) {
  sethover(anchorAt(event->position().toPoint()));
  QTextBrowser::mouseMoveEvent(event);
}

void THTMLView::mouseReleaseEvent(QMouseEvent* event) {
  clicked_ = anchorAt(event->position().toPoint());
  QTextBrowser::mouseReleaseEvent(event);
  clicked_.clear();
}

bool THTMLView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave) sethover(QString());
  return QTextBrowser::viewportEvent(event);
}

void THTMLView::focusInEvent(QFocusEvent* event) {
  setframecolor(Qt::black);
  QTextBrowser::focusInEvent(event);
}

void THTMLView::focusOutEvent(QFocusEvent* event) {
  setframecolor(palette().color(QPalette::Base));
  QTextBrowser::focusOutEvent(event);
}

void THTMLView::setframecolor(const QColor& color) {
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, color);
  setPalette(colours);
}
