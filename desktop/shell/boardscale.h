#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

class QWidget;

// The board grows with the window: everything inside the board's frame (slots, bones, highlight,
// hints, labels, time bar, the overlay panels and whatever else it holds) is drawn at one scale,
// the largest that fits the window's client area, its aspect kept, centred in it.
//
// How: each widget inside the frame is itself moved and sized to its place in the layout times
// the scale, its font made that much larger, and its pictures replaced by the ones drawn for that
// size (from the 2x pictures, see resourcepicture()); the controls that draw lines read the scale
// from their drawscale property. The other way, leaving the widgets at their designed places and
// showing the board through a scaling transform (a graphics view, or a grab drawn larger), was
// not taken: clicks would have to be carried to the widgets by hand, a screen reader or a
// magnifier would be told of places where nothing is, and a grab drawn larger is a blurred
// picture. Real geometry keeps the toolkit's own hit testing, focus and accessibility exact at
// every size, and text and lines are drawn sharp at it.
//
// The scale goes in steps of a sixteenth and is 1 until the window is a step larger than the
// layout, so at the window's own size (a few pixels larger than the layout) nothing is touched and
// the board stays at the top left as designed. Larger than that on either side, the board is
// centred on both axes at a scale of 1 too: a window wide but at its lowest (the shorter side
// decides the scale) must not leave the board against its left edge.
//
// Widgets are remembered at their designed places the first time the scale leaves 1. Code that
// moves a widget while the board is scaled (a bone to its new slot) moves it in scaled pixels;
// the next change of scale takes its place from where it finds it.
class BoardScale : public QObject {
  Q_OBJECT

 public:
  // client: the window's client area; board: the board's frame inside it, laid out for a client
  // area of `design`.
  BoardScale(QWidget* client, QWidget* board, const QSize& design);

  // The scale a client area of that size gets: 1 while it is less than a step larger than the
  // design, else the largest step that fits (below 1 for a client area smaller than the design,
  // which only a screen smaller than the board gives).
  static qreal scalefor(const QSize& client, const QSize& design);
  static constexpr int steps = 16;

  // The largest client area at which the board keeps its designed place at a scale of 1: the
  // window's own (the design until told).
  void setresting(const QSize& resting);

  qreal scale() const { return scale_; }
  // Lays the board out at a scale (tests; the window's size decides it otherwise).
  void setscale(qreal scale);

  // A length of the layout at the present scale.
  int px(int length) const;

 signals:
  // The board has been laid out at a new scale; what the window places itself goes after it.
  void scalechanged(qreal scale);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Design {
    QPointer<QWidget> widget;
    QRect geometry;  // at scale 1
    bool ownfont = false;
    QFont font;    // at scale 1
    QRect placed;  // where it was put last, to see whether it has been moved since
    QFont placedfont;
    QSize picture;  // the size its picture was designed at, if it shows one of ours
  };

  void apply(qreal from, qreal to);
  // Where the board's frame goes at a scale: the layout centred in the client area (at a scale of
  // 1 in a client area no larger than the resting one, its designed place).
  QPoint centred(qreal scale) const;
  void collect(QWidget* parent, std::vector<QWidget*>& into) const;
  Design& designof(QWidget* widget, qreal from);
  QRect map(const QRect& rect, qreal scale) const;
  QRect unmap(const QRect& rect, qreal scale) const;
  static QFont scaled(const QFont& font, qreal scale);

  QWidget* client_;
  QWidget* board_;
  QSize design_;
  QSize resting_;
  qreal scale_ = 1.0;
  std::vector<Design> designs_;
};
