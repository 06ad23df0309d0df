// Update Firmware: the whole update is queued at once. This file starts it,
// follows its acknowledgements as the reply handler passes them on, and
// cleans up when it breaks off.
#include "mainwindow/firmware_image.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "unit/command_set.h"
#include "unit/firmware_update.h"

void LCDProg::FWUpdate_Action() {
  // Nothing can reach the unit through a closed link, and a second press in
  // the middle of an update would send escapes into the bootloader.
  if (!Sline.isConnected || FirmwareUnderway) return;
  const std::string image = FirmwareImage ? FirmwareImage() : VA2Firmware();
  const std::string problem = unit::FirmwareImageProblem(image);
  if (!problem.empty()) {
    platform::MsgBox(problem);
    return;
  }
  if (!Sline.PMode) {
    for (const unit::QueuedRequest& r : unit::BootloaderEntryRequests())
      Sline.AddPacket(r.Type, r.Final);
  }
  Upgrade(1);
}

// All of it in one pass, so nothing queued by another handler can land
// between the blocks.
void LCDProg::Upgrade(int /*unused*/) {
  const std::string image = FirmwareImage ? FirmwareImage() : VA2Firmware();
  if (!unit::FirmwareImageProblem(image).empty()) return;
  Upgrading = true;
  FirmwareUnderway = true;
  UpdateButtons(false);
  FWProg.SetValue(0);
  FWProg.SetMaximum(2 * unit::FirmwareBlockCount(image.size()));
  for (const unit::QueuedRequest& r : unit::FirmwareBlockRequests(image))
    Sline.AddPacket(r.Type, r.Final);
}

// Every carriage return the bootloader sends back: one more step of the
// update, and after the last block the "E" that leaves the bootloader; once
// that is acknowledged the unit runs its firmware again and is greeted.
void LCDProg::CarriageReturnAcknowledged(const Packet& p) {
  if (Upgrading) {
    if (Sline.PacketCount() > 0) {
      FWProg.SetValue(FWProg.Value() + 1);
    } else {
      Upgrading = false;
      Sline.AddPacket(PacketTypeCR, "E");
    }
    return;
  }
  if (p.Final == "E") {
    UpdateButtons(true);
    FWProg.SetValue(0);
    Sline.AddPacket(unit::kHello.Type, unit::kHello.Final);
  }
}

// The reply handler has enabled the buttons, cleared the progress bar and
// greeted the unit once it acknowledged leaving its bootloader: the update is
// over.
void LCDProg::FirmwareStep(PacketRef p) {
  if (!FirmwareUnderway || Upgrading || !p) return;
  if (p->Type == PacketTypeCR && p->Final == "E") {
    FirmwareUnderway = false;
    FirmwareBrokenOff = false;
    Sline.ExitBootloaderOnConnect = true;
  }
}

// A dropped queue or a closed link stops the update where it was: nothing
// more will be acknowledged, so undo what the update set up and tell the
// user. The unit may be left in its bootloader; the next Update Firmware then
// starts at the chip erase.
void LCDProg::FirmwareUpdateBroken() {
  if (!FirmwareUnderway) return;
  FirmwareUnderway = false;
  Upgrading = false;
  // The unit may now hold half an image: found in its bootloader at a later
  // connection, it must wait there for the update to be repeated.
  FirmwareBrokenOff = true;
  Sline.ExitBootloaderOnConnect = false;
  // Nothing of the update is left to go out: the link has already dropped its
  // queue (and, when it closed, the request it was waiting on).
  UpdateButtons(true);
  FWProg.SetValue(0);
  TellUserLater(unit::FirmwareInterruptedMessage);
}
