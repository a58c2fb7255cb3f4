#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTextBrowser>

// A scrolling view of an HTML text: fonts, colours, tables and links, with a link-click event
// that lets the owner decide what a click means. The view never goes to the network: a click on
// a link is reported through OnHotSpotClick and, unless the owner handles it, only an in-page
// target ("#name") is followed; pictures are taken only from the program's own resources or from
// data: addresses inside the page.
//
// Pages come from servers, so the view defends itself: a page is cut at maxpagesize characters,
// elements nested beyond sane depths are flattened before Qt sees them, and a page with a word
// too long for any line is wrapped anywhere (see markupguard.h).
//
// A screen reader reads the page as one document named by its title, a table a row to a line
// (see pagetext.h).
class THTMLView : public QTextBrowser {
  Q_OBJECT

 public:
  // Qt lays a page out on the user-interface thread in time that grows with its size: a quarter
  // of a mebibyte of table rows takes seconds. A list of scores is a few kilobytes.
  static constexpr qsizetype maxpagesize = 256 * 1024;
  // Words longer than this make line breaking quadratic unless lines may break anywhere.
  static constexpr qsizetype maxwordlength = 1000;
  // Visited targets remembered for colouring; a page with more links than this is not one a
  // player clicks through.
  static constexpr qsizetype maxvisited = 4096;

  explicit THTMLView(QWidget* parent = nullptr);

  // Replaces the page with text (HTML) and shows it from the top. name is the document's name,
  // kept for the owner; the high-score window passes an empty one.
  void LoadFromString(const QString& text, const QString& name = QString());
  QString documentname() const { return name_; }

  QColor linkcolor() const { return linkcolor_; }
  QColor visitedcolor() const { return visitedcolor_; }
  QColor hovercolor() const { return hovercolor_; }
  bool isvisited(const QString& target) const { return visited_.contains(target); }
  // The target under the mouse, empty when the mouse is over no link.
  QString hoveredtarget() const { return hover_; }

 signals:
  // A link was clicked. SRC is its target exactly as the page wrote it; Handled is false on
  // entry. A receiver that sets it takes the click over and the view follows nothing; otherwise
  // the view scrolls to an in-page target and ignores any other. Connect directly: Handled is
  // read back after the receivers have run.
  void OnHotSpotClick(QObject* Sender, const QString& SRC, bool& Handled);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  struct Range {
    int position;
    int length;
  };

  void linkactivated(const QUrl& url);
  QString anchorundercursor() const;
  void indexlinks();
  void sethover(const QString& target);
  void restyle(const QString& target);
  void setframecolor(const QColor& color);

  QString name_;
  QColor linkcolor_{Qt::red};
  QColor visitedcolor_{0xC0, 0xC0, 0xC0};  // silver
  QColor hovercolor_{Qt::red};
  // The link text the page left in the default link colour, by target. Links the page coloured
  // itself keep their colours, as in any browser.
  QHash<QString, QList<Range>> links_;
  QSet<QString> visited_;
  QString hover_;
  QString clicked_;  // the raw target under a mouse release, while the release is handled
};
