#include "shell/dealdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "game/deal.h"

DealDialog::DealDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dealdialog"));
  setWindowTitle(QStringLiteral("Choose Deal"));
  setWindowModality(Qt::WindowModal);

  auto* prompt = new QLabel(QStringLiteral("Deal number (1 to 2147483647):"), this);
  number_ = new QLineEdit(this);
  number_->setObjectName(QStringLiteral("dealnumber"));
  number_->setMaxLength(20);
  prompt->setBuddy(number_);
  error_ = new QLabel(this);
  error_->setObjectName(QStringLiteral("dealerror"));
  error_->setWordWrap(true);
  // It quotes what was typed, which must never be read as markup.
  error_->setTextFormat(Qt::PlainText);
  QPalette palette = error_->palette();
  palette.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x00));
  error_->setPalette(palette);
  error_->hide();

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("dealok"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("dealcancel"));
  connect(ok, &QPushButton::clicked, this, &DealDialog::takenumber);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(number_);
  layout->addWidget(error_);
  layout->addLayout(buttons);
}

void DealDialog::ask(int current) {
  number_->setText(current > 0 ? QString::number(current) : QString());
  number_->selectAll();
  number_->setFocus();
  error_->hide();
  // Without the last refusal's lines.
  adjustSize();
  open();
}

void DealDialog::takenumber() {
  const std::optional<int> deal = game::parsedealnumber(number_->text().toStdString());
  if (!deal) {
    const QString typed = number_->text().trimmed();
    error_->setText(
        typed.isEmpty()
            ? QStringLiteral("Type a deal number: a whole number from 1 to 2147483647.")
            : QStringLiteral("\"%1\" is not a deal number. Type a whole number from 1 to "
                             "2147483647.")
                  .arg(typed));
    error_->show();
    // The window's layout does not grow it for a text that wraps onto more lines: it would
    // squeeze the message between the box and the buttons, cut off.
    layout()->activate();
    const int needed = heightForWidth(width());
    if (needed > height()) resize(width(), needed);
    number_->selectAll();
    number_->setFocus();
    return;
  }
  accept();
  emit chosen(*deal);
}
