#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

// A container drawn flat: a filled or see-through face, a one-pixel frame in two colours and an
// optional one-line caption. Every window groups its content with it, so it holds children like
// any panel.
//
// Colour follows the parent until a colour of its own is set (the usual "parent colour" rule);
// font follows the parent through Qt's own font propagation. The caption colour is the palette's
// window-text colour unless setFontColor() names one.
class TFlatPanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Transparent READ transparent WRITE setTransparent)
  Q_PROPERTY(QColor ColorHighLight READ colorHighLight WRITE setColorHighLight)
  Q_PROPERTY(QColor ColorShadow READ colorShadow WRITE setColorShadow)
  Q_PROPERTY(Qt::Alignment Alignment READ alignment WRITE setAlignment)
  Q_PROPERTY(QString Caption READ caption WRITE setCaption)
  Q_PROPERTY(QColor Color READ color WRITE setColor)
  Q_PROPERTY(bool ParentColor READ parentColor WRITE setParentColor)

 public:
  static constexpr int defaultWidth = 185;
  static constexpr int defaultHeight = 41;

  explicit TFlatPanel(QWidget* parent = nullptr);

  bool transparent() const { return transparent_; }
  // Repaints even when the value is unchanged, so a caller can force a fresh face.
  void setTransparent(bool value);

  QColor colorHighLight() const { return colorhighlight_; }
  void setColorHighLight(const QColor& value);  // repaints even when unchanged
  QColor colorShadow() const { return colorshadow_; }
  void setColorShadow(const QColor& value);  // repaints even when unchanged

  // Horizontal placement of the caption: Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter
  // (anything else centres).
  Qt::Alignment alignment() const { return alignment_; }
  void setAlignment(Qt::Alignment value);

  QString caption() const { return caption_; }
  void setCaption(const QString& value);

  // The face colour: the parent's background colour while parentColor() is true.
  QColor color() const;
  void setColor(const QColor& value);  // also turns parentColor off
  bool parentColor() const { return parentcolor_; }
  void setParentColor(bool value);

  QColor fontColor() const;
  void setFontColor(const QColor& value);

  QSize sizeHint() const override { return {defaultWidth, defaultHeight}; }

  // The rectangle the caption is laid out in: the client area shrunk by one pixel each side.
  QRect captionrect() const { return rect().adjusted(1, 1, -1, -1); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void applyopacity();

  bool transparent_ = false;
  QColor colorhighlight_{0xA0, 0x96, 0x83};
  QColor colorshadow_{0xA0, 0x96, 0x83};
  Qt::Alignment alignment_ = Qt::AlignHCenter;
  QString caption_;
  QColor color_;
  bool parentcolor_ = true;
  QColor fontcolor_;  // invalid: the palette's window-text colour
};

// A panel laid over another part of a window, as the dialogs over the board are: flat, framed in
// one colour (black unless given), in its parent's colour, named, placed and hidden until needed.
TFlatPanel* makeoverlay(QWidget* parent, const char* name, const QRect& place,
                        const QColor& frame = Qt::black);
