#include "mainwindow/lcdprog.h"

#include <QApplication>
#include <QCloseEvent>

#include "link/module_globals.h"

namespace {
LCDProg* current = nullptr;
}

LCDProg* LCDProg::Current() {
  return current;
}

LCDProg::LCDProg(QWidget* parent) : QMainWindow(parent) {
  current = this;
  setWindowTitle("Vantora II");
  CreateControls();

  // Every handler is bound before the first control opens, so the opening
  // selections reach them.
  BindHandlers();

  // Settings exchange: bind its handlers below.
  BindSettingsExchange();

  // Connection, keypad and firmware: bind their handlers below.
  BindConnection();

  // Editor: bind its handlers below.
  BindEditor();

  // Layout file: bind its handlers below.
  BindLayoutFile();

  // Software update: bind its handlers below.
  BindUpdate();

  OpenControls();
  Event_Open();
}

LCDProg::~LCDProg() {
  if (current == this) current = nullptr;
  Timer1.SetMode(platform::Timer::ModeOff);
  Timer2.SetMode(platform::Timer::ModeOff);
  for (platform::Control* control : created_) control->Detach();
  for (auto& control : decorations_) control->Detach();
}

platform::Control* LCDProg::FindControl(const std::string& name, int index) const {
  for (platform::Control* control : created_) {
    if (control->Name() == name && control->Index() == index) return control;
  }
  return nullptr;
}

void LCDProg::BindHandlers() {
  MainBox.Open.Bind(this, &LCDProg::MainBox_Open);
  MainBox.Change.Bind(this, &LCDProg::MainBox_Change);
  Timer1.Action.Bind(this, &LCDProg::Timer1_Action);
}

// The framework opens a window's controls in the order they were created;
// `Page` comes before `Sys`, so a page is chosen before the first rebuild of
// the place pop-ups stores anything for it.
void LCDProg::OpenControls() {
  for (platform::Control* control : created_) control->Open();
}

void LCDProg::Event_Open() {
  Sline.SetBaud(921600);
  CheckVersion(false);
}

bool LCDProg::CancelClose(bool appQuitting) {
  // Ends the port watch: it must not reopen the link while the program goes.
  if (appQuitting) Spec::Quitting = true;
  return false;
}

void LCDProg::Timer1_Action() {
  Sline.Poll();
  Sline.SendNext();
}

void LCDProg::closeEvent(QCloseEvent* event) {
  // Closing the main window is how the program quits on this platform, so the
  // close is always part of quitting.
  if (CancelClose(true)) {
    event->ignore();
    return;
  }
  event->accept();
  QCoreApplication::quit();
}

void LCDProg::MainBox_Open() {
  MainBox.SetListIndex(0);
}

void LCDProg::MainBox_Change() {
  if (MainBox.ListIndex() > -1) Pages.SetValue(MainBox.ListIndex());
}
