#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

class QMouseEvent;

// The desktop's own sans serif at a size in pixels, whichever family that resolves to.
QFont pixelfont(int pixels, bool bold = false);

// The captions were laid out for a narrow system font; where the desktop's sans serif runs wider,
// the font is narrowed just enough for the widest text the label shows to fit its fixed width.
void fitwidth(QLabel* label, const QString& widest);

// The small components the board is made of. Each keeps the number it stands for (slot or bone)
// in tag(), so one handler can serve a whole family and tell its members apart.

// A rectangle with a cross-hatched face and a solid rim, in one colour: the 35 slots and the
// selection highlight. The hatch leaves the background visible between its lines.
class TShape : public QWidget {
  Q_OBJECT

 public:
  TShape(int tag, int penwidth, const QColor& color, QWidget* parent = nullptr);

  int tag() const { return tag_; }
  // Brush and pen always change together.
  QColor color() const { return color_; }
  void setColor(const QColor& color);
  int penwidth() const { return penwidth_; }
  // Marked: in any colour but the one it was made in (a hinted slot).
  bool hinted() const { return color_ != restcolor_; }

  // Acted on without the mouse (a screen reader's "press"): raises activated().
  void activate() { emit activated(this); }

 signals:
  // Any mouse button, released over the shape it was pressed on.
  void released(TShape* sender);
  void activated(TShape* sender);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int tag_;
  int penwidth_;
  QColor color_;
  QColor restcolor_;
};

// A bone's picture, drawn from the face and pip images. A cleared bone shows nothing and takes
// no clicks, so a bone that is not dealt never hides a slot.
class TBone : public QWidget {
  Q_OBJECT

 public:
  explicit TBone(int number, QWidget* parent = nullptr);

  // The bone number while dealt; 0 while cleared.
  int tag() const { return tag_; }
  void settag(int tag) {
    tag_ = tag;
    setProperty("Tag", tag);
  }
  // The bone this picture always shows once drawn (its place in the family).
  int number() const { return number_; }

  const QPixmap& picture() const { return picture_; }
  void setpicture(const QPixmap& picture);
  void clearpicture();

 signals:
  void released(TBone* sender);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int number_;
  int tag_ = 0;
  QPixmap picture_;
};

// A picture that reports a left click (the logo).
class TPicture : public QLabel {
  Q_OBJECT

 public:
  explicit TPicture(QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};
