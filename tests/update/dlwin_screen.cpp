// Saves a picture of the download window during a download, for the
// screenshot script. Not part of the program: the main window checks a local
// server that offers a new version, the answer is Yes, and the archive comes
// in slowly; the window is taken once about 40 per cent has arrived.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "mainwindow/confirm_win.h"
#include "mainwindow/lcdprog.h"
#include "mainwindow/local_http_server.h"
#include "update/dl_win.h"

int main(int argc, char** argv) {
  QApplication framework(argc, argv);
  const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("dlwin.png");
  LocalHttpServer server;
  server.routes["/vantora2.ver"] = {"200 OK", "1402151\n"};
  server.routes["/software/Vantora%20II/Mac%20OS/Vantora%20II%20X%20021514.zip"] = {
      "200 OK", QByteArray(2'000'000, 'x'), true, 20'000};
  platform::HTTPSocket::SetNetworkCheck([] { return true; });
  SetConfirmSink([](const std::string&, int) { return true; });
  LCDProg window;
  window.UpdateServer = server.Base();
  QTemporaryDir program;
  window.ProgramFolder = program.path().toStdString();
  window.show();
  bool saved = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!DLWinIsOpen() || DLWin().progress.Value() * 10 < DLWin().progress.Maximum() * 4) return;
    saved = DLWin().grab().save(file);
    if (!saved) std::fprintf(stderr, "could not save %s\n", qPrintable(file));
    QApplication::quit();
  });
  poll.start(50);
  QTimer::singleShot(60000, [] { QApplication::quit(); });
  window.CheckVersion(false);
  QApplication::exec();
  CloseDLWin();
  return saved ? 0 : 1;
}
