#pragma once

#include <QString>
#include <vector>

class QTextDocument;

// A page as a screen reader reads it: its text, with each table laid out as lines, a row to a
// line and its cells apart by a tab.
//
// The document itself holds more than its text: Qt marks where every frame (a table, a cell)
// begins and ends with characters of its own (U+FDD0, U+FDD1) and ends every paragraph with
// U+2029, and the positions of links, the cursor and the selection count them. Handed to a
// reader as they are, the cells of a table run together between marks it spells out. The page
// is left as it is, for its links and cursor; the reading text is made beside it, with a map
// between the two kinds of place.
class PageText {
 public:
  explicit PageText(const QTextDocument& document);

  const QString& text() const { return text_; }
  int size() const { return int(text_.size()); }

  // The reading offset of a position in the document; a position between paragraphs (on a mark)
  // is read where the next paragraph begins.
  int readingoffset(int position) const;
  // The document position of a reading offset; a line break or tab between paragraphs stands at
  // the end of the paragraph before it, where a caret after its last word stands.
  int pageposition(int offset) const;

 private:
  struct Piece {
    int offset;    // where the paragraph's text begins in text_
    int position;  // where it begins in the document
    int length;
  };

  QString text_;
  std::vector<Piece> pieces_;
  int end_ = 0;  // the document's last position
};

class QWidget;

// Makes the HTML view read through PageText (see htmlview.h): called by each view as it is made.
void installpageaccess(QWidget* view);
