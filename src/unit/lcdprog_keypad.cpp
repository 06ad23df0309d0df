// The unit's keys pressed from the COM page, and the hidden buttons that take
// the unit into its bootloader and out again.
#include "mainwindow/lcdprog.h"
#include "unit/firmware_update.h"
#include "unit/keypad.h"

// A key sent to the bootloader would be taken as one of its commands, and a
// key queued during an update would sit behind the last block.
void LCDProg::PressKey(unit::KeypadKey key) {
  if (FirmwareOwnsLinkNow()) return;
  const unit::QueuedRequest r = unit::KeypadRequest(key);
  Sline.AddPacket(r.Type, r.Final);
}

void LCDProg::LeftC_Action() {
  PressKey(unit::KeypadKey::Left);
}
void LCDProg::RightC_Action() {
  PressKey(unit::KeypadKey::Right);
}
void LCDProg::UpC_Action() {
  PressKey(unit::KeypadKey::Up);
}
void LCDProg::DownC_Action() {
  PressKey(unit::KeypadKey::Down);
}
void LCDProg::EnterC_Action() {
  PressKey(unit::KeypadKey::Enter);
}

void LCDProg::PRGBut_Open() {
  PRGBut.SetVisible(false);
}

void LCDProg::PRGBut_Action() {
  if (FirmwareUnderway) return;
  for (const unit::QueuedRequest& r : unit::BootloaderEntryRequests())
    Sline.AddPacket(r.Type, r.Final);
}

void LCDProg::ExitBut_Open() {
  ExitBut.SetVisible(false);
}

void LCDProg::ExitBut_Action() {
  if (FirmwareUnderway) return;
  const unit::QueuedRequest r = unit::BootloaderExitRequest();
  Sline.AddPacket(r.Type, r.Final);
}
