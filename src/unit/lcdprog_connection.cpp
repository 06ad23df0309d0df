// The bottom bar: opening and closing the link, its state, and the buttons
// that read and write all settings.
#include "link/bg_thread.h"
#include "mainwindow/lcdprog.h"
#include "unit/command_set.h"
#include "unit/link_watch.h"

void LCDProg::BindConnection() {
  ConButton.Action.Bind(this, &LCDProg::ConButton_Action);
  ReadBut.Action.Bind(this, &LCDProg::ReadBut_Action);
  WriteBut.Action.Bind(this, &LCDProg::WriteBut_Action);
  connect(&Sline, &SuperSerial::Connecting, this, &LCDProg::Sline_Connecting);
  connect(&Sline, &SuperSerial::Connected, this, &LCDProg::Sline_Connected);
  connect(&Sline, &SuperSerial::Disconnected, this, &LCDProg::Sline_Disconnected);
  // After the reply handler, which was bound first: it has already moved the
  // progress bar and queued what follows when this sees the reply.
  connect(&Sline, &SuperSerial::PacketSucceeded, this, &LCDProg::FirmwareStep);
  connect(&Sline, &SuperSerial::QueueDropped, this, [this](PacketRef) { FirmwareUpdateBroken(); });

  port.Open.Bind(this, &LCDProg::port_Open);
  port.Change.Bind(this, &LCDProg::port_Change);

  LeftC.Action.Bind(this, &LCDProg::LeftC_Action);
  RightC.Action.Bind(this, &LCDProg::RightC_Action);
  UpC.Action.Bind(this, &LCDProg::UpC_Action);
  DownC.Action.Bind(this, &LCDProg::DownC_Action);
  EnterC.Action.Bind(this, &LCDProg::EnterC_Action);
  PRGBut.Open.Bind(this, &LCDProg::PRGBut_Open);
  PRGBut.Action.Bind(this, &LCDProg::PRGBut_Action);
  ExitBut.Open.Bind(this, &LCDProg::ExitBut_Open);
  ExitBut.Action.Bind(this, &LCDProg::ExitBut_Action);

  Timer2.Action.Bind(this, &LCDProg::Timer2_Action);
  FWUpdate.Action.Bind(this, &LCDProg::FWUpdate_Action);
}

void LCDProg::AttachPortWatch(BGThread* watch) {
  PortWatch = watch;
  if (watch) watch->ListPorts = [this] { ListPorts(); };
}

// What the button does depends on the port alone: while the caption still
// reads "Connecting" the port is open, and a press closes it.
void LCDProg::ConButton_Action() {
  if (Sline.Opened) {
    Sline.Disconnect();
  } else {
    Sline.Connect();
  }
}

void LCDProg::Sline_Connecting() {
  ConButton.SetCaption("Connecting");
  stat.SetText("Status: Connecting");
  Sline.AddPacket(unit::kHello.Type, unit::kHello.Final);
}

void LCDProg::Sline_Connected() {
  ConButton.SetCaption("Disconnect");
  stat.SetText("Status: Connected");
}

void LCDProg::Sline_Disconnected() {
  ConButton.SetCaption("Connect");
  stat.SetText("Status: Disconnected");
  FirmwareUpdateBroken();
}

bool LCDProg::FirmwareOwnsLinkNow() const {
  return unit::FirmwareOwnsLink(FirmwareUnderway, Sline.PMode);
}

// Reads sent to the bootloader would be taken as its own commands.
void LCDProg::ReadBut_Action() {
  if (FirmwareOwnsLinkNow()) return;
  ReadSettings();
}

void LCDProg::WriteBut_Action() {
  if (FirmwareOwnsLinkNow()) return;
  WriteSettings();
}

void LCDProg::UpdateButtons(bool enabled) {
  LeftC.SetEnabled(enabled);
  RightC.SetEnabled(enabled);
  UpC.SetEnabled(enabled);
  DownC.SetEnabled(enabled);
  EnterC.SetEnabled(enabled);
  ReadBut.SetEnabled(enabled);
  WriteBut.SetEnabled(enabled);
}
