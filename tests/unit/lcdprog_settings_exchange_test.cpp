// The settings exchange end to end: the window on real widgets, its link on a
// pty, the simulated unit answering.
#include <QCheckBox>
#include <algorithm>

#include "platform/valstr.h"
#include "unit/bytes.h"
#include "unit/command_set.h"
#include "unit/conversions.h"
#include "unit/firmware_update.h"
#include "unit/settings_messages.h"
#include "unit/window_fixture.h"
#include "unit/wire_fields.h"

using platform::Val;
using unitsim::UnitSettings;

namespace {

// A unit whose memory differs from the factory's everywhere the window looks.
UnitSettings Distinctive() {
  UnitSettings u = UnitSettings::Defaults();
  u.Sys = 3;
  u.StartPage = 4;
  u.ProgStyle = 1;
  u.Dimmer = 7;
  u.Maps = 5;
  u.Vact = 2;
  u.Prest = 3;
  u.Celsius = 1;
  u.Kph = 1;
  u.TpsLow = 23;
  u.TpsHigh = 229;
  u.WidebandVolt = {12, 240};
  u.WidebandAfr = {98, 187};
  u.Afr = 1;
  u.Demo = 1;
  u.RpmWarn = 7500;
  u.EctWarn = 212;  // 100 C, and back to 212 F
  u.MapWarn = 2037;
  u.IatWarn = 140;  // 60 C
  for (std::size_t i = 0; i < 56; ++i) u.Items[i] = static_cast<std::uint8_t>((i * 7 + 3) % 251);
  for (std::size_t k = 0; k < 4; ++k) {
    for (std::size_t r = 0; r < 15; ++r) {
      u.Main[k].Volt[r] = static_cast<std::uint8_t>(17 * r + k);
      u.Main[k].Value[r] = static_cast<std::uint16_t>(4369 * r + 13 * k);
    }
    u.MainLabel[k].Decimals = k % 2;
  }
  u.MainLabel[1].Name = {'\xB0', 'C', ' '};  // a byte beyond ASCII comes back as it went
  for (std::size_t n = 0; n < 5; ++n) {
    for (std::size_t r = 0; r < 15; ++r) {
      u.An[n].Table.Volt[r] = static_cast<std::uint8_t>(255 - 11 * r - n);
      u.An[n].Table.Value[r] = static_cast<std::uint16_t>(65535 - 997 * r - n);
    }
    u.An[n].Label.Decimals = n % 2;
  }
  return u;
}

// What the window would write, in the unit's own terms.
UnitSettings AsUnitHoldsIt(LCDProg& w) {
  using namespace unit;
  WindowSettings s = w.SettingsSnapshot();
  UnitSettings u;
  u.Sys = SelectionByte(s.Sys);
  u.StartPage = StartPageByte(s.StPage);
  u.ProgStyle = FlagByte(s.progstyle);
  u.Dimmer = ByteField(s.DLSlider);
  u.Maps = SelectionByte(s.maps);
  u.Vact = SelectionByte(s.vact);
  u.Prest = SelectionByte(s.prest);
  u.Celsius = FlagByte(s.usecelsius);
  u.Kph = FlagByte(s.usekph);
  u.TpsLow = VoltByte(s.ltps);
  u.TpsHigh = VoltByte(s.utps);
  for (int r = 0; r < 2; ++r) {
    u.WidebandVolt[r] = VoltByte(s.WList[r][0]);
    u.WidebandAfr[r] = TenthsByte(s.WList[r][1]);
  }
  u.Afr = SelectionByte(s.afrlist);
  u.Demo = FlagByte(s.demon);
  u.RpmWarn = WordField(s.rpmw);
  u.EctWarn = ByteField(Spec::CtoF(TruncToInt(s.ectw), s.usecelsius));
  u.MapWarn = WordField(s.mappop == 0 ? s.mapw : Spec::PSITomBar(s.mapw));
  u.IatWarn = ByteField(Spec::CtoF(TruncToInt(s.iatw), s.usecelsius));
  for (int i = 1; i <= kPlaces; ++i) u.Items[i - 1] = static_cast<std::uint8_t>(s.Opt[i]);
  auto table = [](const TableData& t, unitsim::SensorTable& out, unitsim::SensorLabel& label) {
    for (int r = 0; r < kTableRows; ++r) {
      out.Volt[r] = VoltByte(t.Volts[r]);
      out.Value[r] = TenthsWord(t.Values[r]);
    }
    std::string name = NameBytes(t.Name);
    std::copy_n(name.begin(), 3, label.Name.begin());
    label.Decimals = FlagByte(t.Decimals);
  };
  for (int k = 0; k < 4; ++k) table(s.Main[k], u.Main[k], u.MainLabel[k]);
  for (int n = 0; n < 5; ++n) table(s.An[n], u.An[n].Table, u.An[n].Label);
  return u;
}

#define EXPECT_FIELD(f) EXPECT_EQ(+a.f, +b.f) << #f
void ExpectSameSettings(const UnitSettings& a, const UnitSettings& b) {
  EXPECT_FIELD(Sys);
  EXPECT_FIELD(StartPage);
  EXPECT_FIELD(ProgStyle);
  EXPECT_FIELD(Dimmer);
  EXPECT_FIELD(Maps);
  EXPECT_FIELD(Vact);
  EXPECT_FIELD(Prest);
  EXPECT_FIELD(Celsius);
  EXPECT_FIELD(Kph);
  EXPECT_FIELD(TpsLow);
  EXPECT_FIELD(TpsHigh);
  EXPECT_EQ(a.WidebandVolt, b.WidebandVolt);
  EXPECT_EQ(a.WidebandAfr, b.WidebandAfr);
  EXPECT_FIELD(Afr);
  EXPECT_FIELD(Demo);
  EXPECT_FIELD(RpmWarn);
  EXPECT_FIELD(EctWarn);
  EXPECT_FIELD(MapWarn);
  EXPECT_FIELD(IatWarn);
  EXPECT_EQ(a.Items, b.Items);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(a.Main[k].Volt, b.Main[k].Volt) << "table " << k;
    EXPECT_EQ(a.Main[k].Value, b.Main[k].Value) << "table " << k;
    EXPECT_EQ(a.MainLabel[k].Name, b.MainLabel[k].Name) << "table " << k;
    EXPECT_FIELD(MainLabel[k].Decimals);
  }
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(a.An[n].Table.Volt, b.An[n].Table.Volt) << "AN" << n + 1;
    EXPECT_EQ(a.An[n].Table.Value, b.An[n].Table.Value) << "AN" << n + 1;
    EXPECT_EQ(a.An[n].Label.Name, b.An[n].Label.Name) << "AN" << n + 1;
    EXPECT_FIELD(An[n].Label.Decimals);
  }
}
#undef EXPECT_FIELD

bool IsItemWrite(const std::string& r) {
  return r.size() == 4 && r.starts_with("we") && r != "weee";
}
bool IsTableRowWrite(const std::string& r) {
  return r.size() == 5 && r[0] == 's' && r[1] >= 1 && r[1] <= 8;
}

class SettingsExchangeTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    // Whether the link had answered everything when each message appeared.
    platform::SetMsgBoxSink([this](const std::string& text) {
      messages.push_back(text);
      linkIdleAtMessage.push_back(LinkIdle());
    });
  }

  bool NoWriteReachedTheUnit() const {
    const std::vector<std::string> reqs = unit.Requests();
    return std::none_of(reqs.begin(), reqs.end(),
                        [](const std::string& r) { return r[0] == 'w' || r[0] == 's'; });
  }

  std::vector<bool> linkIdleAtMessage;
  // Opens the link and greets the unit as the window does, then waits until
  // the unit has answered everything that followed.
  void ConnectToUnit() {
    w->Sline.Connect();
    clock.Advance(21);
    ASSERT_TRUE(unitsim::Await([&] { return w->Sline.Opened; }));
    // The window's Connecting handler greets the unit; greet it here where
    // nothing did.
    if (!w->Sline.isConnected && w->Sline.IsIdle())
      w->Sline.AddPacket(unit::kHello.Type, unit::kHello.Final);
    ASSERT_TRUE(unitsim::Await([&] { return w->Sline.isConnected && LinkIdle(); }));
    ForgetTraffic();
  }

  // Waits until the link has nothing left to send or to wait for.
  void Settle() {
    ASSERT_TRUE(unitsim::Await([&] { return LinkIdle(); }));
  }

  // Writes and waits for the end of the write as the user sees it.
  void WriteAndSettle() {
    w->WriteSettings();
    ASSERT_TRUE(w->Programming);
    Settle();
    ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  }

  int Count(const std::vector<std::string>& reqs, bool (*pred)(const std::string&)) {
    return static_cast<int>(std::count_if(reqs.begin(), reqs.end(), pred));
  }
};

}  // namespace

TEST_F(SettingsExchangeTest, ConnectReadsEverySettingIntoTheWindow) {
  unit.SetSettings(Distinctive());
  unit.SetRevision(19);
  ConnectToUnit();
  UnitSettings held = unit.Settings();
  ExpectSameSettings(AsUnitHoldsIt(*w), held);
  // How the window shows what it read.
  EXPECT_EQ(w->Sys.ListIndex(), 2);
  EXPECT_EQ(w->StPage.ListIndex(), 4);
  EXPECT_EQ(w->ltps.Text(), "0.45");
  EXPECT_EQ(w->WList.Cell(1, 1), "18.7");
  EXPECT_EQ(w->ectw.Text(), "100");
  EXPECT_EQ(w->iatw.Text(), "60");
  EXPECT_EQ(w->mapw.Text(), "2037");
  EXPECT_EQ(w->s2name.Text(),
            "\xC2\xB0"
            "C ");
  EXPECT_TRUE(w->ReadBut.Enabled());
  EXPECT_TRUE(w->WriteBut.Enabled());
  for (int i = 1; i <= 56; ++i) {
    EXPECT_EQ(w->Opt[i], held.Items[i - 1]) << i;
    EXPECT_EQ(w->Opt2[i], held.Items[i - 1]) << i;
  }
  for (int k = 0; k < 4; ++k) {
    for (int r = 0; r < 15; ++r) {
      EXPECT_EQ(w->Sensors[2 * k + 1][r + 1], unit::VoltsShown(held.Main[k].Volt[r]));
      EXPECT_EQ(w->Sensors[2 * k + 2][r + 1], unit::TenthsShown(held.Main[k].Value[r]));
    }
  }
  EXPECT_EQ(w->Sensors[18][15], unit::TenthsShown(held.An[4].Table.Value[14]));
  EXPECT_TRUE(messages.empty());
}

// The item codes read from the unit are shown as they are stored: a code the
// unit's system doesn't offer leaves its place without a selection instead of
// showing whatever the place showed before, and the code stays stored.
TEST_F(SettingsExchangeTest, ReadCodeTheSystemLacksShowsNoSelection) {
  UnitSettings u = UnitSettings::Defaults();
  u.Sys = 1;
  u.Items[0] = 72;  // no system offers 72
  u.Items[1] = 0;
  unit.SetSettings(u);
  w->Page.SetListIndex(0);
  w->Item[0].SetListIndex(1);
  ASSERT_EQ(w->Item[0].ListIndex(), 1);
  ConnectToUnit();
  EXPECT_EQ(w->Opt[1], 72);
  EXPECT_EQ(w->Opt2[1], 72);
  EXPECT_EQ(w->Item[0].ListIndex(), -1);
  EXPECT_EQ(w->Item[1].RowTag(w->Item[1].ListIndex()), 0);
  WriteAndSettle();
  EXPECT_EQ(unit.Settings().Items[0], 72);
}

TEST_F(SettingsExchangeTest, WriteAfterAReadSendsNoItemsAndNoTableRows) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  WriteAndSettle();
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgrammedMessage});
  // Not a reply early: the last read-back had come in.
  EXPECT_EQ(linkIdleAtMessage, std::vector<bool>{true});
  std::vector<std::string> reqs = answered;
  EXPECT_EQ(reqs.size(), 29u);
  EXPECT_EQ(Count(reqs, IsItemWrite), 0);
  EXPECT_EQ(Count(reqs, IsTableRowWrite), 0);
  EXPECT_EQ(reqs.back(), "ru");
  ExpectSameSettings(unit.Settings(), Distinctive());
  EXPECT_FALSE(w->Programming);
}

TEST_F(SettingsExchangeTest, ChangedSettingsReachTheUnitAndOnlyOnce) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  w->Opt[unit::PlaceNumber(2, 3)] = 7;
  w->O2List.SetCell(4, 1, "15");
  w->EGRList.SetCell(0, 0, "2.5");
  w->s1name.SetText("AB");
  w->an5n.SetText("X");
  w->an3list.SetCell(14, 1, "0.1");
  w->ltps.SetText("0.6");
  w->rpmw.SetText("6500");
  w->mapw.SetText("1702");
  w->ectw.SetText("90");
  w->usekph.SetValue(false);
  w->progstyle.SetValue(false);
  w->maps.SetListIndex(9);
  w->StPage.SetListIndex(6);
  w->DLSlider.SetValue(20);
  WriteAndSettle();
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgrammedMessage});
  std::vector<std::string> reqs = answered;
  EXPECT_EQ(reqs.front(), unittest::B({'w', 'e', 20, 7}));
  EXPECT_EQ(Count(reqs, IsItemWrite), 1);
  EXPECT_EQ(Count(reqs, IsTableRowWrite), 2);
  UnitSettings held = unit.Settings();
  ExpectSameSettings(held, AsUnitHoldsIt(*w));
  EXPECT_EQ(held.Items[19], 7);
  EXPECT_EQ(held.Main[0].Value[4], 150);
  EXPECT_EQ(held.MainLabel[0].Name, (std::array<char, 3>{'A', 'B', ' '}));
  EXPECT_EQ(held.EctWarn, 194);
  EXPECT_EQ(held.StartPage, 6);
  // The read-back refreshed what the window knows of the unit.
  EXPECT_EQ(w->Sensors[2][5], 15.0);
  EXPECT_EQ(w->Sensors[5][1], 2.5);

  ForgetTraffic();
  messages.clear();
  WriteAndSettle();
  reqs = answered;
  EXPECT_EQ(reqs.size(), 29u);
  EXPECT_EQ(Count(reqs, IsItemWrite), 0);
  EXPECT_EQ(Count(reqs, IsTableRowWrite), 0);
}

TEST_F(SettingsExchangeTest, OlderFirmwareIsToldAfterAWhileAndNotRead) {
  unit.SetSettings(Distinctive());
  unit.SetRevision(18);
  ConnectToUnit();
  EXPECT_FALSE(w->ReadBut.Enabled());
  EXPECT_FALSE(w->WriteBut.Enabled());
  EXPECT_EQ(w->MainBox.ListIndex(), 5);  // "COM"
  // The message waits 50 ticks while the link goes on working: a key press
  // goes out and is answered before it. No read was queued.
  Click(w->EnterC);
  ASSERT_TRUE(unitsim::Await([&] { return !answered.empty() && LinkIdle(); }));
  EXPECT_TRUE(messages.empty());
  clock.Advance(50);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kOlderFirmwareMessage});
  EXPECT_EQ(answered, std::vector<std::string>{"=="});
  EXPECT_NE(w->Sys.ListIndex(), 2);
  EXPECT_EQ(w->rpmw.Text(), "");
}

TEST_F(SettingsExchangeTest, WriteTheUnitStopsAnsweringEndsWithTheFailureMessage) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  w->Opt[3] = 50;
  w->O2List.SetCell(2, 1, "1");
  // The unit takes "we" but never answers it, nor its five repeats.
  for (int i = 0; i < 6; ++i) unit.QueueFault({unitsim::FaultKind::NoReply});
  w->WriteSettings();
  for (std::size_t i = 1; i <= 6; ++i) {
    ASSERT_TRUE(unitsim::Await([&] { return unit.RequestCount() >= i; }));
    clock.Advance(61);
  }
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kNotProgrammedMessage});
  EXPECT_FALSE(w->Programming);
  EXPECT_TRUE(LinkIdle());

  // The place whose write was not acknowledged goes out again.
  unit.ClearRequests();
  messages.clear();
  WriteAndSettle();
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgrammedMessage});
  EXPECT_EQ(unit.Requests().front(), unittest::B({'w', 'e', 3, 50}));
  ExpectSameSettings(unit.Settings(), AsUnitHoldsIt(*w));

  // A reply after the write has been reported never reports it again.
  w->ReadSettings();
  Settle();
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SettingsExchangeTest, UnpluggedDuringAWriteTellsTheUserAndForgetsTheRest) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  for (int place : {10, 11, 12, 13, 14, 15}) w->Opt[place] = 99;
  unit.QueueFault({unitsim::FaultKind::Delay, 0});
  unit.QueueFault({unitsim::FaultKind::NoReply});  // the second "we" stays unanswered
  w->WriteSettings();
  ASSERT_TRUE(unitsim::Await([&] { return unit.RequestCount() >= 2; }));
  unit.Unplug();
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kNotProgrammedMessage});
  EXPECT_FALSE(w->Programming);
  EXPECT_EQ(w->Opt2[10], 99);  // acknowledged
  for (int place : {11, 12, 13, 14, 15}) EXPECT_EQ(w->Opt2[place], unit::kUnknownCode) << place;
}

TEST_F(SettingsExchangeTest, UnitAnsweringFromItsBootloaderIsSentBackAndRead) {
  unit.SetSettings(Distinctive());
  unit.EnterBootloader();
  ConnectToUnit();
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_FALSE(w->Sline.PMode);
  ExpectSameSettings(AsUnitHoldsIt(*w), Distinctive());

  // Sent into the bootloader on purpose, the unit gets no settings write: its
  // "we" would be taken as a chip erase.
  w->Sline.AddPacket(PacketTypeOK, std::string("\x1b\x1b"));
  w->Sline.AddPacket(PacketTypeHello, "V");
  Settle();
  ASSERT_TRUE(w->Sline.PMode);
  unit.ClearRequests();
  w->Opt[1] = 77;
  w->WriteSettings();
  EXPECT_FALSE(w->Programming);
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  Settle();
  EXPECT_TRUE(unit.Requests().empty());
  EXPECT_EQ(unit.EraseCount(), 0);
}

TEST_F(SettingsExchangeTest, NothingIsQueuedWhileDisconnected) {
  w->WriteSettings();
  EXPECT_FALSE(w->Programming);
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  // A read is queued regardless; the pump then drops it unsent.
  w->ReadSettings();
  EXPECT_EQ(w->Sline.PacketCount(), 13);
}

TEST_F(SettingsExchangeTest, UnsetWidebandInputIsWrittenBackAtOnce) {
  UnitSettings u = Distinctive();
  u.Demo = 255;
  unit.SetSettings(u);
  ConnectToUnit();
  EXPECT_FALSE(w->demon.Value());
  EXPECT_EQ(unit.Settings().Demo, 0);
  EXPECT_EQ(unit.Settings().Afr, 1);
}

TEST_F(SettingsExchangeTest, LeavingTheBootloaderGreetsAndReadsAgain) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  w->Sline.AddPacket(PacketTypeOK, std::string("\x1b\x1b"));
  w->Sline.AddPacket(PacketTypeHello, "V");
  Settle();
  ASSERT_TRUE(w->Sline.PMode);
  w->UpdateButtons(false);
  w->FWProg.SetValue(3);
  ForgetTraffic();
  w->Sline.AddPacket(PacketTypeCR, "E");
  Settle();
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_FALSE(w->Sline.PMode);
  EXPECT_TRUE(w->ReadBut.Enabled());
  EXPECT_TRUE(w->EnterC.Enabled());
  EXPECT_EQ(w->FWProg.Value(), 0);
  const std::vector<std::string>& reqs = answered;
  ASSERT_EQ(reqs.size(), 2u + 13u);
  EXPECT_EQ(reqs[1], "VV");
  EXPECT_EQ(reqs[2], "rt");
}

TEST_F(SettingsExchangeTest, UpdateAcknowledgementsMoveTheBarThenLeaveTheBootloader) {
  ConnectToUnit();
  w->Sline.AddPacket(PacketTypeOK, std::string("\x1b\x1b"));
  w->Sline.AddPacket(PacketTypeHello, "V");
  Settle();
  ASSERT_TRUE(w->Sline.PMode);
  ForgetTraffic();
  std::string image(300, '\x5a');
  int bar = 0;
  w->Upgrading = true;
  w->FWProg.SetValue(0);
  for (const unit::QueuedRequest& r : unit::FirmwareBlockRequests(image))
    w->Sline.AddPacket(r.Type, r.Final);
  ASSERT_TRUE(unitsim::Await([&] {
    bar = std::max(bar, w->FWProg.Value());
    return LinkIdle();
  }));
  // Every acknowledgement but the last moved the bar; the last sent the unit
  // back to its firmware, whose hello started a read.
  EXPECT_EQ(bar, 4);
  EXPECT_FALSE(w->Upgrading);
  EXPECT_EQ(w->FWProg.Value(), 0);
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  const std::vector<std::string>& reqs = answered;
  ASSERT_GE(reqs.size(), 7u);
  EXPECT_EQ(reqs[5], "E");
  EXPECT_EQ(reqs[6], "VV");
  std::vector<std::uint8_t> flash = unit.Flash();
  EXPECT_TRUE(
      std::all_of(flash.begin(), flash.begin() + 300, [](std::uint8_t b) { return b == 0x5a; }));
}

// A read that breaks off, at whichever of its thirteen requests, is told, and
// Program then leaves the unit alone.
class BrokenReadTest : public SettingsExchangeTest,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P(BrokenReadTest, IsToldAndProgramThenWritesNothing) {
  unit.SetSettings(Distinctive());
  unit.FaultEvery(GetParam(), {unitsim::FaultKind::WrongLetter});
  ConnectToUnit();
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kNotReadMessage});
  EXPECT_EQ(w->stat.Text(), "Status: Connected");

  messages.clear();
  Click(w->WriteBut);
  EXPECT_FALSE(w->Programming);
  EXPECT_EQ(w->Sline.PacketCount(), 0);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgramUnreadMessage});

  // The temperature switch reads the limits alone: once that read is back,
  // the rest has still not been read whole.
  unit.ClearFaults();
  messages.clear();
  static_cast<QCheckBox*>(w->usecelsius.Widget())->click();
  Settle();
  ASSERT_EQ(answered.back(), "ra");
  Click(w->WriteBut);
  EXPECT_FALSE(w->Programming);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgramUnreadMessage});
  EXPECT_TRUE(NoWriteReachedTheUnit());
  ExpectSameSettings(unit.Settings(), Distinctive());
}

INSTANTIATE_TEST_SUITE_P(EachRead, BrokenReadTest,
                         ::testing::Values("rt", "rd", "rm", "rp", "rc", "rw", "ri", "rh", "re",
                                           "ra", "rs", "ru", "rz"));

TEST_F(SettingsExchangeTest, ProgramWhileAReadIsOnItsWayWritesNothing) {
  unit.SetSettings(Distinctive());
  // The unit holds back its answer to "rt" until the test lets it go.
  unit.FaultEvery("rt", {unitsim::FaultKind::Split, 0});
  Click(w->ConButton);
  clock.Advance(21);
  ASSERT_TRUE(AwaitRequests(2));  // "VV", and "rt" waiting for its reply
  Click(w->WriteBut);
  EXPECT_FALSE(w->Programming);
  unit.ClearFaults();
  unit.ReleaseHeld();
  Settle();
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgramWhileReadingMessage});
  ExpectSameSettings(AsUnitHoldsIt(*w), Distinctive());

  // Nor while the temperature switch's read of the limits is on its way.
  unit.FaultEvery("ra", {unitsim::FaultKind::Split, 0});
  static_cast<QCheckBox*>(w->usecelsius.Widget())->click();
  ASSERT_TRUE(unitsim::Await([&] {
    const std::vector<std::string> reqs = unit.Requests();
    return !reqs.empty() && reqs.back() == "ra";
  }));
  Click(w->WriteBut);
  EXPECT_FALSE(w->Programming);
  unit.ClearFaults();
  unit.ReleaseHeld();
  Settle();
  ASSERT_TRUE(unitsim::Await([&] { return messages.size() == 2; }));
  EXPECT_EQ(messages[1], unit::kProgramWhileReadingMessage);
  EXPECT_TRUE(NoWriteReachedTheUnit());
  ExpectSameSettings(unit.Settings(), Distinctive());
}

TEST_F(SettingsExchangeTest, ABrokenReadIsToldAndOnlyAWholeReadLetsProgramWrite) {
  unit.SetSettings(Distinctive());
  ConnectToUnit();
  unit.QueueFault({unitsim::FaultKind::NoReply});
  Click(w->ReadBut);
  ASSERT_TRUE(AwaitRequests(1));
  Click(w->ConButton);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kNotReadMessage});

  // Connected again, the automatic read comes back whole: Program writes.
  messages.clear();
  ConnectToUnit();
  WriteAndSettle();
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgrammedMessage});
  ExpectSameSettings(unit.Settings(), Distinctive());

  // A Read that breaks off on a link still up undoes the whole read before it.
  unit.FaultEvery("rh", {unitsim::FaultKind::WrongLetter});
  messages.clear();
  Click(w->ReadBut);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kNotReadMessage});
  ASSERT_TRUE(w->Sline.isConnected);
  messages.clear();
  Click(w->WriteBut);
  EXPECT_FALSE(w->Programming);
  ASSERT_TRUE(unitsim::Await([&] { return !messages.empty(); }));
  EXPECT_EQ(messages, std::vector<std::string>{unit::kProgramUnreadMessage});
}
