#pragma once
// The window that shows the program's version history, built in as a text
// resource.
#include <QWidget>
#include <string>

class QPlainTextEdit;

class VersionHistoryWin : public QWidget {
  Q_OBJECT

 public:
  explicit VersionHistoryWin(QWidget* parent = nullptr);

  // The built-in text, read from the resource once.
  static const std::string& HistoryText();
  QPlainTextEdit* TextArea() const { return text_; }

 private:
  QPlainTextEdit* text_;
};
