#include "platform/qt/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

namespace platform {
namespace {
MsgBoxSink& Sink() {
  static MsgBoxSink sink;
  return sink;
}
}  // namespace

void MsgBox(const std::string& text) {
  if (Sink()) {
    Sink()(text);
    return;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  QMessageBox box;
  box.setIcon(QMessageBox::NoIcon);
  // The unit's texts use carriage returns as line breaks.
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QChar('\r'), QChar('\n'));
  box.setText(shown);
  box.exec();
}

MsgBoxSink SetMsgBoxSink(MsgBoxSink sink) {
  MsgBoxSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

}  // namespace platform
