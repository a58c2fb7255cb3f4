#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

class QPainter;

// A button that is a picture: the faces "Start Game", "Done", "OK" and the like are drawn as
// images (e.g. ":/images/button_done.png"). While the picture is missing a plain dark-blue face
// with a light border and the text centred stands in, so a window never shows an empty hole.
// Held down, the face is drawn one pixel right and down. clicked() comes from QAbstractButton:
// a left-button release inside the button.
class TImageButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr int defaultWidth = 132;
  static constexpr int defaultHeight = 41;

  TImageButton(const QString& image, const QString& text, QWidget* parent = nullptr);

  QString image() const { return image_; }
  void setImage(const QString& image);
  // True when the picture was found; false while the stand-in face is drawn.
  bool haspicture() const { return !picture_.isNull(); }

  QSize sizeHint() const override { return {defaultWidth, defaultHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  // For a button that draws a face of its own: where the face goes (one step right and down
  // while held), the pixel ratio of what the painter paints on, and the shade of a disabled
  // button and the keyboard's frame drawn over the face.
  QRect faceplace() const;
  qreal paintratio(const QPainter& p) const;
  void drawstate(QPainter& p, const QRect& face) const;

 private:
  QString image_;
  QPixmap picture_;
};
