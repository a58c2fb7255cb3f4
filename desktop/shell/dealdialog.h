#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// File > Choose Deal...: asks for a deal number and takes nothing but a whole number from 1 to
// 2147483647. Anything else is refused in the dialog itself, which stays open for another try.
class DealDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DealDialog(QWidget* parent = nullptr);

  // Opens the dialog with the number given (the deal being played, 0 for none) ready to be
  // typed over.
  void ask(int current);

 signals:
  void chosen(int deal);

 private:
  void takenumber();

  QLineEdit* number_ = nullptr;
  QLabel* error_ = nullptr;
};
