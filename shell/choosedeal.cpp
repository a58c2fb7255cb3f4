#include "shell/choosedeal.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "game/deal.h"

Tchoosedeal::Tchoosedeal(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dialog_choosedeal"));
  setWindowTitle(QStringLiteral("Choose Deal"));
  setWindowModality(Qt::WindowModal);

  auto* prompt = new QLabel(QStringLiteral("Deal number (1 to 2147483647):"), this);
  edit_deal = new QLineEdit(this);
  edit_deal->setObjectName(QStringLiteral("edit_deal"));
  edit_deal->setMaxLength(20);
  prompt->setBuddy(edit_deal);
  label_dealerror = new QLabel(this);
  label_dealerror->setObjectName(QStringLiteral("label_dealerror"));
  label_dealerror->setWordWrap(true);
  // It quotes what was typed, which must never be read as markup.
  label_dealerror->setTextFormat(Qt::PlainText);
  QPalette palette = label_dealerror->palette();
  palette.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x00));
  label_dealerror->setPalette(palette);
  label_dealerror->hide();

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("button_dealok"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("button_dealcancel"));
  connect(ok, &QPushButton::clicked, this, &Tchoosedeal::button_dealokClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(edit_deal);
  layout->addWidget(label_dealerror);
  layout->addLayout(buttons);
}

void Tchoosedeal::ask(int current) {
  edit_deal->setText(current > 0 ? QString::number(current) : QString());
  edit_deal->selectAll();
  edit_deal->setFocus();
  label_dealerror->hide();
  open();
}

void Tchoosedeal::button_dealokClick() {
  const std::optional<int> deal = game::parsedealnumber(edit_deal->text().toStdString());
  if (!deal) {
    const QString typed = edit_deal->text().trimmed();
    label_dealerror->setText(
        typed.isEmpty()
            ? QStringLiteral("Type a deal number: a whole number from 1 to 2147483647.")
            : QStringLiteral("\"%1\" is not a deal number. Type a whole number from 1 to "
                             "2147483647.")
                  .arg(typed));
    label_dealerror->show();
    edit_deal->selectAll();
    edit_deal->setFocus();
    return;
  }
  accept();
  emit chosen(*deal);
}
