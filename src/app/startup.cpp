#include "app/startup.h"

#include <QApplication>
#include <QMenuBar>

#include "app/app.h"
#include "mainwindow/files.h"
#include "mainwindow/lcdprog.h"

void _NewAppInstance() {
  new Application;
}

void _ApplicationAddMenuHandlers() {
  Application& app = App();
  QObject::connect(app.FileSave, &QAction::triggered, &app, [&app] { app._FileSave_Action(); });
  QObject::connect(app.FileLoad, &QAction::triggered, &app, [&app] { app._FileLoad_Action(); });
  QObject::connect(app.HelpOnline, &QAction::triggered, &app, [&app] { app._HelpOnline_Action(); });
  QObject::connect(app.HelpVers, &QAction::triggered, &app, [&app] { app._HelpVers_Action(); });
}

LCDProg* _MakeDefaultView() {
  auto* window = new LCDProg;
  window->setMenuBar(App().MenuBar1);
  window->show();
  return window;
}

int RunApplication(const std::function<void(const char* step)>& observe) {
  const auto step = [&](const char* name) {
    if (observe) observe(name);
  };
  _InitFileTypes();
  step("_InitFileTypes");
  _NewAppInstance();
  step("_NewAppInstance");
  _ApplicationAddMenuHandlers();
  step("_ApplicationAddMenuHandlers");
  LCDProg* window = _MakeDefaultView();
  step("_MakeDefaultView");
  App().Event_Open();
  step("App.Event_Open");
  const int result = App().RunEventLoop();
  step("EventLoop");
  App().Event_Close();
  step("App.Event_Close");
  // The port watch goes before the link it watches.
  delete &App();
  delete window;
  return result;
}

int _Main(int argc, char** argv) {
  QApplication framework(argc, argv);
  QApplication::setApplicationName("Vantora II");
  // The main window's close ends the program, not the last window's.
  QApplication::setQuitOnLastWindowClosed(false);
  return RunApplication();
}
