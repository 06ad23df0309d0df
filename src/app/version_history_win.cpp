#include "app/version_history_win.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "platform/qt/control.h"
#include "platform/qt/resource.h"

VersionHistoryWin::VersionHistoryWin(QWidget* parent)
    : QWidget(parent, Qt::Window), text_(new QPlainTextEdit(this)) {
  setObjectName("VersionHistoryWin");
  setWindowTitle("Version History");
  text_->setReadOnly(true);
  text_->setPlainText(platform::ToQ(HistoryText()));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  resize(480, 360);
}

const std::string& VersionHistoryWin::HistoryText() {
  static const std::string text = platform::ReadResource(":/app/VersionHistory.txt");
  return text;
}
