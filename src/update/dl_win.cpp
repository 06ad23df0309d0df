#include "update/dl_win.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace {
QPointer<DLWindow>& Instance() {
  static QPointer<DLWindow> window;
  return window;
}
}  // namespace

DLWindow::DLWindow() : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName("DLWin");
  setWindowTitle("Update");
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(300, 69);
  progress.Place(this, 20, 13, 260, 20);
  progress.SetMaximum(100);
  progress.SetValue(0);
  Prog.Place(this, 20, 40, 260, 20);
  QFont small = Prog.Widget()->font();
  small.setPointSize(10);
  Prog.Widget()->setFont(small);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

DLWindow::~DLWindow() {
  progress.Detach();
  Prog.Detach();
}

DLWindow& DLWin() {
  QPointer<DLWindow>& window = Instance();
  if (window == nullptr) {
    window = new DLWindow;
    window->show();
  }
  return *window;
}

bool DLWinIsOpen() {
  return Instance() != nullptr;
}

void CloseDLWin() {
  if (QPointer<DLWindow>& window = Instance(); window != nullptr) {
    // Gone now, not at the next turn of the event loop: a later report opens
    // a window of its own.
    delete window.data();
  }
}
