// Not a test of its own: the program, started as it starts, whose hand-over
// to the new copy comes while its start-up message is up, before its event
// loop runs. app_tests runs it as a child process, so that what ends it is
// the real quit and what starts the new copy is the real launch.
//   handover_child <folder holding "Vantora II X.app" and an old copy>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "app/startup.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/http_socket.h"

int main(int argc, char** argv) {
  QApplication framework(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc != 2) return 2;
  const std::filesystem::path folder = argv[1];
  // The window's version check asks nobody.
  platform::HTTPSocket::SetNetworkCheck([] { return false; });
  return RunApplication([&folder](const char* step) {
    if (std::string(step) == "_NewAppInstance") App().ProgramFolder = folder;
    if (std::string(step) != "_MakeDefaultView") return;
    // Runs at the first turn of any event loop: the start-up message's. The
    // hand-over comes from a wait nested in it, which no window's close ends.
    QTimer::singleShot(0, [&folder] {
      QEventLoop wait;
      QTimer::singleShot(0, [&folder] {
        const QWidget* modal = QApplication::activeModalWidget();
        std::printf("handed over in %s\n", modal ? modal->metaObject()->className() : "no dialog");
        std::fflush(stdout);
        LCDProg::Current()->HandOver(folder / "Vantora II X.app");
      });
      wait.exec();
    });
  });
}
