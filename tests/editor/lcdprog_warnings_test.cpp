// The warning limits and unit switches on the real window.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QTest>
#include <memory>

#include "link/packet.h"
#include "mainwindow/lcdprog.h"

namespace {

struct Window {
  LCDProg w;
  Window() { w.Timer1.SetMode(platform::Timer::ModeOff); }
};

TEST(Warnings, EveryTextChangeIsKeptInRangeOfTheUnitShown) {
  Window t;
  LCDProg& w = t.w;
  struct Case {
    platform::EditField* field;
    const char* typed;
    const char* kept;       // in mbar and Fahrenheit
    const char* keptOther;  // in PSI and Celsius
  };
  const Case cases[] = {
      {&w.rpmw, "16000", "16000", "16000"},
      {&w.rpmw, "16001", "16000", "16000"},
      {&w.rpmw, "-5", "0", "0"},
      {&w.rpmw, "", "", ""},
      {&w.rpmw, "3000rpm", "3000rpm", "3000rpm"},
      {&w.ectw, "250", "250", "121"},
      {&w.ectw, "250.5", "250", "121"},
      {&w.iatw, "-1", "0", "-1"},
      {&w.iatw, "-20", "0", "-18"},
      {&w.iatw, "249.9", "249.9", "121"},
      {&w.mapw, "16001", "16000", "217.4"},
      {&w.mapw, "2000", "2000", "217.4"},  // would go out as more than 16000 mbar
      {&w.mapw, "-1", "0", "-1"},
      {&w.mapw, "-15", "0", "-14.7"},
  };
  for (bool otherUnits : {false, true}) {
    w.usecelsius.SetValue(otherUnits);
    w.mappop.SetListIndex(otherUnits ? 1 : 0);
    for (const Case& c : cases) {
      c.field->SetText("");  // so that typing the same text again is a change
      c.field->SetText(c.typed);
      EXPECT_EQ(c.field->Text(), otherUnits ? c.keptOther : c.kept)
          << c.field->Name() << " " << c.typed << " " << otherUnits;
    }
  }
}

// What the unit holds is shown as it stands, even beyond what the user may
// type, so that Program with nothing edited sends it back.
TEST(Warnings, LimitsFromTheUnitAreShownAsTheyStand) {
  Window t;
  LCDProg& w = t.w;
  struct Case {
    bool otherUnits;
    unsigned char reply[6];  // RPM word, ECT, MAP word, IAT
    const char* shown[4];    // rpmw, ectw, mapw, iatw
  };
  const Case cases[] = {
      {false, {0x4E, 0x20, 255, 0x01, 0xF4, 20}, {"20000", "255", "500", "20"}},
      {true, {0xFF, 0xFF, 20, 0x00, 0x00, 255}, {"65535", "-6", "-14.7", "123"}},
      {true, {0x00, 0x00, 0, 0xFF, 0xFF, 250}, {"0", "-17", "936.3", "121"}},
  };
  for (const Case& c : cases) {
    w.usecelsius.SetValue(c.otherUnits);
    w.mappop.SetListIndex(c.otherUnits ? 1 : 0);
    auto p = std::make_shared<Packet>();
    p->Type = PacketTypeRead;
    p->Header = "a";
    p->Response.assign(reinterpret_cast<const char*>(c.reply), sizeof c.reply);
    w.Sline_PacketSucceeded(p);
    const platform::EditField* fields[] = {&w.rpmw, &w.ectw, &w.mapw, &w.iatw};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fields[i]->Text(), c.shown[i]) << fields[i]->Name();
  }
  w.rpmw.SetText("65535");  // the user's own edit is still held in range
  EXPECT_EQ(w.rpmw.Text(), "16000");
}

TEST(Warnings, MapLimitFollowsThePressureUnit) {
  Window t;
  LCDProg& w = t.w;
  ASSERT_EQ(w.mappop.ListIndex(), 0);
  w.mapw.SetText("2026");
  w.mappop.SetListIndex(1);
  EXPECT_EQ(w.mapw.Text(), "14.7");
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "2026");
  // Two switches need not come back to the start.
  w.mapw.SetText("1500");
  w.mappop.SetListIndex(1);
  EXPECT_EQ(w.mapw.Text(), "7.1");
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "1502");
  // Below one atmosphere the gauge pressure is negative, and stays so.
  w.mapw.SetText("500");
  w.mappop.SetListIndex(1);
  EXPECT_EQ(w.mapw.Text(), "-7.4");
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "503");
  // An empty field reads as 0 PSI.
  w.mappop.SetListIndex(1);
  w.mapw.SetText("");
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "1013");
  // A converted value out of range is held at the bound.
  w.mapw.SetText("16000");  // 217.5 PSI, which would go out as 16001 mbar
  w.mappop.SetListIndex(1);
  EXPECT_EQ(w.mapw.Text(), "217.4");
}

TEST(Warnings, CelsiusClickQueuesOneWarningsRead) {
  Window t;
  LCDProg& w = t.w;
  w.usecelsius.SetValue(true);
  w.usecelsius.SetValue(false);
  EXPECT_EQ(w.Sline.PacketCount(), 0);
  w.show();
  QTest::mouseClick(w.usecelsius.Widget(), Qt::LeftButton, {},
                    QPoint(8, w.usecelsius.Height() / 2));
  EXPECT_TRUE(w.usecelsius.Value());
  ASSERT_EQ(w.Sline.PacketCount(), 1);
  EXPECT_EQ(w.Sline.Packets[1]->Final, "ra");
  EXPECT_EQ(w.Sline.Packets[1]->Type, PacketTypeRead);
  EXPECT_EQ(w.rpmw.Text(), "");  // the window converts nothing itself
}

}  // namespace
