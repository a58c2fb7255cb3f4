#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A light push button that draws itself: a flat face, a one-line caption and a border of any
// width, with a face colour of its own for the normal, hovered and pressed states.
//
// It is a plain QWidget with Qt::NoFocus. Qt widgets have no native window unless asked for one:
// they paint into their window's surface and receive mouse events routed by Qt, which is exactly
// a windowless control. A QAbstractButton would bring focus, keyboard activation, auto-repeat
// and its own idea of when a click happens; this button needs none of that, and its press, click
// and release events come in a fixed order that callers may rely on (see mouseReleaseEvent).
//
// buttonEnabled() is the button's own switch, apart from QWidget::isEnabled(): switched off, it
// keeps painting its normal face but shows no hover or pressed face and raises no events.
//
// Until setCaption() is called the caption is the object name, so a button shows what it is
// called until its real caption is given.
class TSelButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ caption WRITE setCaption)
  Q_PROPERTY(QColor Color READ color WRITE setColor)
  Q_PROPERTY(QColor ColorBorder READ colorBorder WRITE setColorBorder)
  Q_PROPERTY(QColor ColorOver READ colorOver WRITE setColorOver)
  Q_PROPERTY(QColor ColorDown READ colorDown WRITE setColorDown)
  Q_PROPERTY(QColor ColorOverCaption READ colorOverCaption WRITE setColorOverCaption)
  Q_PROPERTY(Qt::Alignment Alignment READ alignment WRITE setAlignment)
  Q_PROPERTY(int BorderWidth READ borderWidth WRITE setBorderWidth)
  Q_PROPERTY(bool Enabled READ buttonEnabled WRITE setButtonEnabled)
  Q_PROPERTY(bool ShowHint READ showHint WRITE setShowHint)
  Q_PROPERTY(int Tag READ tag WRITE setTag)

 public:
  enum class Face { normal, over, pressed };

  static constexpr int defaultWidth = 105;
  static constexpr int defaultHeight = 20;

  explicit TSelButton(QWidget* parent = nullptr);

  // The object name until a caption is set; the set caption from then on.
  QString caption() const;
  void setCaption(const QString& value);  // redraws the normal face

  QColor color() const { return color_; }
  void setColor(const QColor& value);  // redraws the normal face
  QColor colorBorder() const { return colorborder_; }
  void setColorBorder(const QColor& value);  // redraws the normal face
  // These three only store the value; it shows at the next hover or press.
  QColor colorOver() const { return colorover_; }
  void setColorOver(const QColor& value) { colorover_ = value; }
  QColor colorDown() const { return colordown_; }
  void setColorDown(const QColor& value) { colordown_ = value; }
  QColor colorOverCaption() const { return colorovercaption_; }
  void setColorOverCaption(const QColor& value) { colorovercaption_ = value; }

  // Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter (anything else centres).
  Qt::Alignment alignment() const { return alignment_; }
  void setAlignment(Qt::Alignment value);  // redraws the normal face
  int borderWidth() const { return borderwidth_; }
  void setBorderWidth(int value);  // redraws the normal face; negative counts as 0

  // The caption colour of the normal and pressed faces (the font's colour).
  QColor fontColor() const { return fontcolor_; }
  void setFontColor(const QColor& value);  // redraws the normal face

  bool buttonEnabled() const { return enabled_; }
  void setButtonEnabled(bool value);
  bool showHint() const { return showhint_; }
  void setShowHint(bool value) { showhint_ = value; }
  int tag() const { return tag_; }
  void setTag(int value) { tag_ = value; }

  // The face on screen now.
  Face face() const { return face_; }

  // Raises OnClick as a click of the mouse would, while buttonEnabled(): a screen reader's press.
  void click();

  // Where the caption's top-left corner goes on a face, from the caption's measured size.
  static QPoint captionorigin(Face face, Qt::Alignment alignment, QSize button, QSize caption);

  QSize sizeHint() const override { return {defaultWidth, defaultHeight}; }

 signals:
  void OnClick(TSelButton* sender);
  void OnMouseDown(TSelButton* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                   int y);
  void OnMouseUp(TSelButton* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x,
                 int y);
  void OnMouseMove(TSelButton* sender, Qt::KeyboardModifiers shift, int x, int y);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void showface(Face face);
  void pointerentered();
  void pointerleft();
  QColor captioncolor(Face face) const;

  QString caption_;
  bool captionset_ = false;
  QColor color_;
  QColor colorborder_{0x80, 0x80, 0x80};
  QColor colorover_{0x84, 0xB9, 0xA4};
  QColor colordown_{0x84, 0xB9, 0xA4};
  QColor colorovercaption_{Qt::black};
  QColor fontcolor_{0x80, 0x80, 0x80};
  Qt::Alignment alignment_ = Qt::AlignLeft;
  int borderwidth_ = 1;
  bool enabled_ = true;
  bool showhint_ = true;
  int tag_ = 0;

  Face face_ = Face::normal;
  QColor pressedcaption_;  // the caption colour on screen when the press came
  bool pointerinside_ = false;
  bool leftdown_ = false;  // a left press began on this button and has not been released
};
