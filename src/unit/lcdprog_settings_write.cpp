// The window's side of a settings write: what its controls hold, turned into
// the ordered write, and what happens when the write breaks off.
#include "mainwindow/lcdprog.h"
#include "platform/valstr.h"
#include "unit/settings_messages.h"

using platform::Val;

namespace {

unit::TableData ReadTable(const LCDProg::SensorTableControls& c) {
  unit::TableData t;
  for (int r = 0; r < unit::kTableRows; ++r) {
    t.Volts[r] = Val(c.List->Cell(r, 0));
    t.Values[r] = Val(c.List->Cell(r, 1));
  }
  t.Name = c.Name->Text();
  t.Decimals = c.Decimals->Value();
  return t;
}

}  // namespace

unit::WindowSettings LCDProg::SettingsSnapshot() {
  unit::WindowSettings s;
  s.Sys = Sys.ListIndex();
  s.StPage = StPage.ListIndex();
  s.progstyle = progstyle.Value();
  s.DLSlider = DLSlider.Value();
  s.maps = maps.ListIndex();
  s.vact = vact.ListIndex();
  s.prest = prest.ListIndex();
  s.usecelsius = usecelsius.Value();
  s.usekph = usekph.Value();
  s.ltps = Val(ltps.Text());
  s.utps = Val(utps.Text());
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) s.WList[r][c] = Val(WList.Cell(r, c));
  s.afrlist = afrlist.ListIndex();
  s.demon = demon.Value();
  s.rpmw = Val(rpmw.Text());
  s.ectw = Val(ectw.Text());
  s.mapw = Val(mapw.Text());
  s.mappop = mappop.ListIndex();
  s.iatw = Val(iatw.Text());
  auto main = MainSensorTables();
  for (int t = 0; t < unit::kMainTables; ++t) s.Main[t] = ReadTable(main[t]);
  auto an = AnSensorTables();
  for (int n = 0; n < unit::kAnInputs; ++n) s.An[n] = ReadTable(an[n]);
  s.Opt = Opt;
  return s;
}

void LCDProg::WriteSettings() {
  if (!Sline.isConnected) return;
  // In the bootloader "we" is no settings write but the start of a chip erase.
  if (Sline.PMode) return;
  // The write is built from the controls now; only a whole read on this
  // connection makes them the unit's settings (plus the user's edits).
  if (!PendingReads.empty()) {
    TellUserLater(unit::kProgramWhileReadingMessage);
    return;
  }
  if (!SettingsReadComplete) {
    TellUserLater(unit::kProgramUnreadMessage);
    return;
  }
  Programming = true;
  for (const unit::QueuedRequest& r : unit::BuildWrite(SettingsSnapshot(), Opt2, Sensors)) {
    Sline.AddPacket(r.Type, r.Final);
    UnackedWrites.push_back(Sline.Packets.back());
  }
}

void LCDProg::SettingsWriteBroken() {
  if (!Programming) return;
  Programming = false;
  // What the unit never acknowledged may or may not have reached it: make the
  // next write send it again rather than trust the last read.
  for (const PacketRef& p : UnackedWrites) unit::ForgetUnacknowledged(p->Final, Opt2, Sensors);
  UnackedWrites.clear();
  TellUserLater(unit::kNotProgrammedMessage);
}
