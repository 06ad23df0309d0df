#pragma once
// The modal yes/no question. ConfirmWin() is its one instance:
//   if (ConfirmWin().Confirm("Download the new version?", 1)) ...
#include <QDialog>
#include <functional>
#include <string>

class QPlainTextEdit;
class QPushButton;

class ConfirmDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConfirmDialog(QWidget* parent = nullptr);

  // Shows the message read-only with the buttons Yes and No; No is the
  // default button when `defaultButton` is 0, Yes when it is 1. Runs modally
  // and returns true when the user pressed Yes.
  bool Confirm(const std::string& message, int defaultButton);

  QPushButton* YesButton() const { return yes_; }
  QPushButton* NoButton() const { return no_; }
  QPlainTextEdit* Message() const { return message_; }

 private:
  void Prepare(const std::string& message, int defaultButton);

  QPlainTextEdit* message_;
  QPushButton* yes_;
  QPushButton* no_;
};

ConfirmDialog& ConfirmWin();

// Tests answer the question instead of a user: the sink gets the message and
// the default button and returns the answer. nullptr restores the dialog.
// Returns the previous sink.
using ConfirmSink = std::function<bool(const std::string& message, int defaultButton)>;
ConfirmSink SetConfirmSink(ConfirmSink sink);
