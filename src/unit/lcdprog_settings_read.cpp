// The window's side of a settings read: queuing the thirteen reads and the
// reply handler that shows what the unit sent.
#include <QTimer>
#include <algorithm>

#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "platform/ticks.h"
#include "platform/valstr.h"
#include "unit/command_set.h"
#include "unit/firmware_update.h"
#include "unit/reply_decode.h"
#include "unit/settings_messages.h"

using platform::Str;

namespace {

constexpr int kComPage = 5;  // row of "COM" in MainBox

}  // namespace

void LCDProg::BindSettingsExchange() {
  connect(&Sline, &SuperSerial::PacketSucceeded, this, &LCDProg::Sline_PacketSucceeded);
  // A write that breaks off must not be reported as done by the next reply,
  // and a read that breaks off must not leave the controls passing for the
  // unit's settings.
  connect(&Sline, &SuperSerial::QueueDropped, this, [this](PacketRef) {
    SettingsWriteBroken();
    SettingsReadBroken();
  });
  connect(&Sline, &SuperSerial::Disconnected, this, [this] {
    SettingsWriteBroken();
    SettingsReadBroken();
    // A read of the last connection says nothing about the unit of the next.
    SettingsReadComplete = false;
  });
}

void LCDProg::ReadSettings() {
  QueueReads(unit::FullReadRequests(), true);
}

void LCDProg::ReadLimits() {
  QueueReads({unit::ReadRequest('a')}, false);
}

void LCDProg::QueueReads(const std::vector<unit::QueuedRequest>& reads, bool fullRead) {
  for (const unit::QueuedRequest& r : reads) {
    Sline.AddPacket(r.Type, r.Final);
    if (Sline.Opened) PendingReads.push_back(Sline.Packets.back());
  }
  if (Sline.Opened && fullRead) fullReadPending_ = true;
}

// The link answers in queue order and drops the whole queue on a failure, so
// a full read is whole once nothing it queued is pending any more.
void LCDProg::ReadAnswered(const PacketRef& p) {
  const auto erased = std::erase(PendingReads, p);
  if (erased == 0 || !PendingReads.empty() || !fullReadPending_) return;
  fullReadPending_ = false;
  SettingsReadComplete = true;
}

void LCDProg::SettingsReadBroken() {
  if (PendingReads.empty()) return;
  PendingReads.clear();
  fullReadPending_ = false;
  SettingsReadComplete = false;
  TellUserLater(unit::kNotReadMessage);
}

void LCDProg::TellUserLater(const std::string& text, int delayTicks) {
  TellUserAt(text, platform::Ticks() + delayTicks);
}

// The wait is counted on the tick clock, as every wait of the link is; the
// timer only says when to look at the clock again.
void LCDProg::TellUserAt(const std::string& text, std::int64_t dueTick) {
  const std::int64_t left = std::max<std::int64_t>(dueTick - platform::Ticks(), 0);
  QTimer::singleShot(platform::TicksToMs(left), this, [this, text, dueTick] {
    if (platform::Ticks() < dueTick) {
      TellUserAt(text, dueTick);
    } else {
      platform::MsgBox(text);
    }
  });
}

void LCDProg::Sline_PacketSucceeded(PacketRef p) {
  if (Programming && Sline.PacketCount() == 0) {
    Programming = false;
    UnackedWrites.clear();
    TellUserLater(unit::kProgrammedMessage);
  }
  if (!p) return;
  std::erase(UnackedWrites, p);
  switch (p->Type) {
    case PacketTypeCR:
      CarriageReturnAcknowledged(*p);
      break;
    case PacketTypeHello:
      HelloAnswered();
      break;
    case PacketTypeRead:
      ShowReadReply(*p);
      ReadAnswered(p);
      break;
    default:
      break;
  }
}

void LCDProg::HelloAnswered() {
  if (Sline.PMode) {
    // The link left the unit in its bootloader: tell the user why, unless
    // the hello is the update's own way in.
    if (FirmwareBrokenOff && !FirmwareUnderway) TellUserLater(unit::FirmwareRepeatMessage);
    return;
  }
  if (Spec::Revision < unit::kFirstCurrentRevision) {
    MainBox.SetListIndex(kComPage);
    WriteBut.SetEnabled(false);
    ReadBut.SetEnabled(false);
    TellUserLater(unit::kOlderFirmwareMessage, unit::kOlderFirmwareDelayTicks);
    return;
  }
  ReadSettings();
  WriteBut.SetEnabled(true);
  ReadBut.SetEnabled(true);
}

void LCDProg::ShowReadReply(const Packet& p) {
  if (p.Header.size() != 1) return;
  const std::string& in = p.Response;
  switch (p.Header[0]) {
    case 't':
      if (auto t = unit::DecodeSystem(in)) {
        // A change of system rebuilds the place pop-ups; leave them alone
        // when the unit reports the system already shown.
        if (t->Sys != Sys.ListIndex()) ListSel(Sys, t->Sys);
        ListSel(StPage, t->StPage);
        progstyle.SetValue(t->progstyle);
      }
      break;
    case 'd':
      if (auto d = unit::DecodeLogSpeed(in)) DLSlider.SetValue(*d);
      break;
    case 'm':
      if (auto m = unit::DecodeMapSensor(in)) ListSel(maps, *m);
      break;
    case 'p':
      if (auto pr = unit::DecodePressureUnits(in)) {
        ListSel(vact, pr->vact);
        ListSel(prest, pr->prest);
      }
      break;
    case 'c':
      if (auto c = unit::DecodeUnits(in)) {
        usecelsius.SetValue(c->usecelsius);
        usekph.SetValue(c->usekph);
      }
      break;
    case 'w':
      if (auto w = unit::DecodeWideband(in)) {
        for (int r = 0; r < 2; ++r)
          for (int c = 0; c < 2; ++c) WList.SetCell(r, c, Str(w->WList[r][c]));
      }
      break;
    case 'i':
      if (auto i = unit::DecodeWidebandInput(in)) {
        ListSel(afrlist, i->afrlist);
        demon.SetValue(i->demon);
        // A read queued before Update Firmware is answered during the update:
        // its write-back would land behind the last block and keep the update
        // from ever leaving the bootloader.
        if (i->WriteBack && !FirmwareOwnsLinkNow()) {
          unit::QueuedRequest wi = unit::WriteWidebandInput(afrlist.ListIndex(), false);
          Sline.AddPacket(wi.Type, wi.Final);
        }
      }
      break;
    case 'h':
      if (auto h = unit::DecodeThrottle(in)) {
        ltps.SetText(Str(h->ltps));
        utps.SetText(Str(h->utps));
      }
      break;
    case 'e':
      if (auto e = unit::DecodeItems(in)) ShowItems(*e);
      break;
    case 'a':
      if (auto a = unit::DecodeLimits(in)) ShowLimits(*a);
      break;
    case 's':
    case 'u':
      if (auto s = unit::DecodeMainTables(p.Header[0], in)) ShowMainTables(p.Header[0], *s);
      break;
    case 'z':
      if (auto z = unit::DecodeAnInputs(in)) ShowAnInputs(*z);
      break;
    default:
      break;
  }
}

void LCDProg::ShowItems(const std::array<int, unit::kPlaces + 1>& codes) {
  for (int i = 1; i <= unit::kPlaces; ++i) Opt[i] = Opt2[i] = codes[i];
  int page = Page.ListIndex();
  if (page < 0) return;
  // A place shows only what is stored for it: a code this system doesn't
  // offer shows no selection rather than the item the place showed before.
  for (int k = 0; k < 8; ++k) ShowPlace(k, Opt[unit::PlaceNumber(page, k)]);
}

void LCDProg::ShowTable(platform::ListBox& list, int k, const unit::TableData& table) {
  for (int r = 0; r < unit::kTableRows; ++r) {
    list.SetCell(r, 0, Str(table.Volts[r]));
    list.SetCell(r, 1, Str(table.Values[r]));
  }
  unit::RememberTable(Sensors, k, table);
}

std::array<LCDProg::SensorTableControls, 4> LCDProg::MainSensorTables() {
  return {{{&O2List, &s1name, &S1Dec},
           {&ELDList, &s2name, &S2Dec},
           {&EGRList, &s3name, &S3Dec},
           {&B6List, &s4name, &S4Dec}}};
}

std::array<LCDProg::SensorTableControls, 5> LCDProg::AnSensorTables() {
  return {{{&an1list, &an1n, &AN1Dec},
           {&an2list, &an2n, &AN2Dec},
           {&an3list, &an3n, &AN3Dec},
           {&an4list, &an4n, &AN4Dec},
           {&an5list, &an5n, &An5Dec}}};
}

void LCDProg::ShowMainTables(char letter, const unit::MainTablesReply& reply) {
  // "s" carries O2 and ELD (Sensors 1 to 4), "u" EGR and B6 (5 to 8).
  auto tables = MainSensorTables();
  int first = letter == 's' ? 0 : 2;
  for (int j = 0; j < 2; ++j) {
    ShowTable(*tables[first + j].List, 2 * (first + j) + 1, reply.Tables[j]);
  }
  if (!reply.HasNames) return;
  for (int j = 0; j < 4; ++j) {
    tables[j].Name->SetText(reply.Names[j]);
    tables[j].Decimals->SetValue(reply.Decimals[j]);
  }
}

void LCDProg::ShowAnInputs(const std::array<unit::TableData, unit::kAnInputs>& inputs) {
  auto tables = AnSensorTables();
  for (int n = 0; n < unit::kAnInputs; ++n) {
    ShowTable(*tables[n].List, 9 + 2 * n, inputs[n]);
    tables[n].Name->SetText(inputs[n].Name);
    tables[n].Decimals->SetValue(inputs[n].Decimals);
  }
}
