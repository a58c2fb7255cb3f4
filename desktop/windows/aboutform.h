#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "product/product.h"

class QLabel;
class TSelButton;
class TURL;

// The About window: the logo, a link to the maker's site, the maker and rights lines and the
// version. Made when first wanted and only shown and hidden after that. It is also where the
// program's version lives: the update check compares it with the published one.
//
// The owner (the main window) is the window it opens centred on and stays above. It is not the
// QObject parent, so the main window's own components are never confused with these by name;
// the caller keeps ownership.
class Tabout : public QWidget {
  Q_OBJECT

 public:
  static constexpr int clientWidth = 304;
  static constexpr int clientHeight = 193;
  // The maker's site, as the link shows it; the link kind puts "http://" in front.
  static inline const QString siteaddress = QString::fromLatin1(product::makersite);

  explicit Tabout(QWidget* owner = nullptr);

  // Shows the window, or brings it forward when it is already open.
  void showforward();
  // Opens the maker's site in the browser without showing this window (the main window's logo
  // does this). Nothing is said when no browser opens.
  void openlink();
  // The program's version as the update check compares it: the `version` label's text.
  QString versiontext() const;

  void Label7Click();
  void Button1Click();

  QLabel* Image1 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label2 = nullptr;  // the rights notice, in three pieces
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* version = nullptr;
  QLabel* Label9 = nullptr;
  TSelButton* button_done = nullptr;
  TURL* URL1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  // Esc closes the window, as Done does.
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> owner_;
  bool linkpressed_ = false;
};
