// Not a test of its own: the program, started as it starts, which then hands
// over to a new copy. app_tests runs it as a child process, so that what ends
// it is the real quit and what starts the new copy is the real launch.
//
//   handover_child startup <folder>   the hand-over comes while the start-up
//                                     message is up, before the event loop runs
//   handover_child dialog <folder>    it comes inside a message box opened from
//                                     the event loop
//   handover_child update <folder> <archive>
//                                     the whole road: the start-up message, the
//                                     offer, the download of <archive> from a
//                                     server on 127.0.0.1, the swap, the quit
//
// <folder> holds the program's bundle "Vantora II X.app". What happens is
// printed on standard output, one line each, for the test to read.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app.h"
#include "app/startup.h"
#include "mainwindow/confirm_win.h"
#include "mainwindow/lcdprog.h"
#include "mainwindow/local_http_server.h"
#include "platform/qt/http_socket.h"
#include "platform/qt/msgbox.h"

namespace fs = std::filesystem;

namespace {

constexpr char kVersionPath[] = "/vantora2.ver";
constexpr char kDownloadPath[] = "/software/Vantora%20II/Mac%20OS/Vantora%20II%20X%20021514.zip";
constexpr int kPollMs = 20;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// What is modal right now, by class; "none" when nothing is.
std::string Modal() {
  QWidget* modal = QApplication::activeModalWidget();
  return modal == nullptr ? "none" : modal->metaObject()->className();
}

void SayHandOver(bool eventOpenDone) {
  Say("handover in " + Modal() + (eventOpenDone ? " after" : " before") + " start-up");
}

void HandOverNow(const fs::path& folder, bool eventOpenDone) {
  SayHandOver(eventOpenDone);
  LCDProg::Current()->HandOver(folder / "Vantora II X.app");
}

// Dismisses the start-up message once the version answer has come and its
// offer is waiting (or, were it not to wait, has been asked).
void DismissStartUpMessage(const LocalHttpServer& server, const bool& asked) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  LCDProg* window = LCDProg::Current();
  const bool answered = !server.requested.empty() && !window->VersSocket.Busy() &&
                        (window->UpdateOfferWaiting() || asked);
  if (box == nullptr || !answered) {
    QTimer::singleShot(kPollMs, [&server, &asked] { DismissStartUpMessage(server, asked); });
    return;
  }
  Say("start-up message dismissed");
  box->button(QMessageBox::Ok)->click();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication framework(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const std::string mode = argc > 2 ? argv[1] : "";
  if (argc < 3 || (mode == "update" && argc < 4)) {
    std::fprintf(stderr, "usage: handover_child startup|dialog|update <folder> [archive]\n");
    return 2;
  }
  const fs::path folder = argv[2];
  // The window's own check at its opening asks nobody; the road's is below.
  platform::HTTPSocket::SetNetworkCheck([] { return false; });

  LocalHttpServer server;
  bool asked = false;
  if (mode == "update") {
    QFile archive(argv[3]);
    if (!archive.open(QIODevice::ReadOnly)) return 2;
    server.routes[kVersionPath] = {"200 OK", "1402151\n"};
    server.routes[kDownloadPath] = {"200 OK", archive.readAll()};
    SetConfirmSink([&asked](const std::string&, int) {
      Say("offer asked in " + Modal());
      asked = true;
      return true;
    });
  }
  // Any other message is a failure of the road: said and dismissed.
  const auto sayMessage = [](const std::string& text) { Say("message: " + text); };

  bool eventOpenDone = false;
  const int result = RunApplication([&](const char* step) {
    const std::string name = step;
    if (name == "_NewAppInstance") {
      App().ProgramFolder = folder;
      App().RunningBundle = folder / "Vantora II X.app";
    } else if (name == "_MakeDefaultView" && mode == "startup") {
      // The first turn of any event loop: the start-up message's.
      QTimer::singleShot(0, [&] { HandOverNow(folder, eventOpenDone); });
    } else if (name == "_MakeDefaultView" && mode == "update") {
      LCDProg* window = LCDProg::Current();
      window->UpdateServer = server.Base();
      platform::HTTPSocket::SetNetworkCheck([] { return true; });
      window->CheckVersion(false);
      QTimer::singleShot(0, [&] { DismissStartUpMessage(server, asked); });
    } else if (name == "App.Event_Open") {
      eventOpenDone = true;
      if (mode == "update") {
        platform::SetMsgBoxSink(sayMessage);
        // Told, then left to the application's own hand-over.
        LCDProg* window = LCDProg::Current();
        window->HandOver = [&folder, &eventOpenDone, real = window->HandOver](const fs::path& to) {
          SayHandOver(eventOpenDone);
          if (to != folder / "Vantora II X.app") Say("handover to " + to.string());
          real(to);
        };
      }
      if (mode == "dialog") {
        QTimer::singleShot(0, [&] {
          QTimer::singleShot(0, [&] { HandOverNow(folder, eventOpenDone); });
          platform::MsgBox("A dialog of the running program.");
          Say("dialog closed");
        });
      }
    }
    Say(std::string("step ") + step);
  });
  Say("exit " + std::to_string(result));
  return result;
}
