#include "app/version_history_win.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "platform/qt/control.h"

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
  static const std::string text = [] {
    QFile file(":/app/VersionHistory.txt");
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }();
  return text;
}
