#include "mainwindow/confirm_win.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/control.h"

namespace {
ConfirmSink& Sink() {
  static ConfirmSink sink;
  return sink;
}
}  // namespace

ConfirmSink SetConfirmSink(ConfirmSink sink) {
  ConfirmSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

ConfirmDialog::ConfirmDialog(QWidget* parent)
    : QDialog(parent),
      message_(new QPlainTextEdit(this)),
      yes_(new QPushButton("Yes", this)),
      no_(new QPushButton("No", this)) {
  setObjectName("ConfirmWin");
  setModal(true);
  message_->setReadOnly(true);
  message_->setObjectName("ConfirmMessage");
  yes_->setObjectName("ConfirmYes");
  no_->setObjectName("ConfirmNo");
  // Only the chosen default answers Return, not whichever button has focus.
  yes_->setAutoDefault(false);
  no_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(no_);
  buttons->addWidget(yes_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addLayout(buttons);
  resize(360, 160);
  connect(yes_, &QPushButton::clicked, this, &QDialog::accept);
  connect(no_, &QPushButton::clicked, this, &QDialog::reject);
}

void ConfirmDialog::Prepare(const std::string& message, int defaultButton) {
  QString text = platform::ToQ(message);
  text.replace(QChar('\r'), QChar('\n'));
  message_->setPlainText(text);
  QPushButton* chosen = defaultButton == 1 ? yes_ : no_;
  yes_->setDefault(chosen == yes_);
  no_->setDefault(chosen == no_);
  chosen->setFocus();
}

bool ConfirmDialog::Confirm(const std::string& message, int defaultButton) {
  if (Sink()) return Sink()(message, defaultButton);
  Prepare(message, defaultButton);
  return exec() == QDialog::Accepted;
}

ConfirmDialog& ConfirmWin() {
  static ConfirmDialog* dialog = new ConfirmDialog;
  return *dialog;
}
