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

  QColor color() const { return m_color; }
  void setColor(const QColor& value);  // redraws the normal face
  QColor colorBorder() const { return m_colorborder; }
  void setColorBorder(const QColor& value);  // redraws the normal face
  // These three only store the value; it shows at the next hover or press.
  QColor colorOver() const { return m_colorover; }
  void setColorOver(const QColor& value) { m_colorover = value; }
  QColor colorDown() const { return m_colordown; }
  void setColorDown(const QColor& value) { m_colordown = value; }
  QColor colorOverCaption() const { return m_colorovercaption; }
  void setColorOverCaption(const QColor& value) { m_colorovercaption = value; }

  // Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter (anything else centres).
  Qt::Alignment alignment() const { return m_alignment; }
  void setAlignment(Qt::Alignment value);  // redraws the normal face
  int borderWidth() const { return m_borderwidth; }
  void setBorderWidth(int value);  // redraws the normal face; negative counts as 0

  // The caption colour of the normal and pressed faces (the font's colour).
  QColor fontColor() const { return m_fontcolor; }
  void setFontColor(const QColor& value);  // redraws the normal face

  bool buttonEnabled() const { return m_enabled; }
  void setButtonEnabled(bool value);
  bool showHint() const { return m_showhint; }
  void setShowHint(bool value) { m_showhint = value; }
  int tag() const { return m_tag; }
  void setTag(int value) { m_tag = value; }

  // The face on screen now.
  Face face() const { return m_face; }

  // Where the caption's top-left corner goes on a face, from the caption's measured size.
  static QPoint captionOrigin(Face face, Qt::Alignment alignment, QSize button, QSize caption);

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
  void showFace(Face face);
  void pointerEntered();
  void pointerLeft();
  QColor captionColor(Face face) const;

  QString m_caption;
  bool m_captionset = false;
  QColor m_color;
  QColor m_colorborder{0x80, 0x80, 0x80};
  QColor m_colorover{0x84, 0xB9, 0xA4};
  QColor m_colordown{0x84, 0xB9, 0xA4};
  QColor m_colorovercaption{Qt::black};
  QColor m_fontcolor{0x80, 0x80, 0x80};
  Qt::Alignment m_alignment = Qt::AlignLeft;
  int m_borderwidth = 1;
  bool m_enabled = true;
  bool m_showhint = true;
  int m_tag = 0;

  Face m_face = Face::normal;
  QColor m_pressedcaption;  // the caption colour on screen when the press came
  bool m_pointerinside = false;
  bool m_leftdown = false;  // a left press began on this button and has not been released
};
