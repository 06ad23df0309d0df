// The warning limits and unit switches on the real window.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QTest>

#include "link/packet.h"
#include "mainwindow/lcdprog.h"

namespace {

struct Window {
  LCDProg w;
  Window() { w.Timer1.SetMode(platform::Timer::ModeOff); }
};

TEST(Warnings, EveryTextChangeIsKeptInRangeInEitherUnit) {
  Window t;
  LCDProg& w = t.w;
  struct Case {
    platform::EditField* field;
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {&w.rpmw, "16000", "16000"},
      {&w.rpmw, "16001", "16000"},
      {&w.rpmw, "-5", "0"},
      {&w.rpmw, "", ""},
      {&w.rpmw, "3000rpm", "3000rpm"},
      {&w.ectw, "250", "250"},
      {&w.ectw, "250.5", "250"},
      {&w.iatw, "-1", "0"},
      {&w.iatw, "249.9", "249.9"},
      {&w.mapw, "16001", "16000"},
      {&w.mapw, "-1", "0"},
  };
  for (bool otherUnits : {false, true}) {
    // The same bounds hold for PSI and for Celsius.
    w.usecelsius.SetValue(otherUnits);
    w.mapw.SetText("2026");
    w.mappop.SetListIndex(otherUnits ? 1 : 0);
    for (const Case& c : cases) {
      c.field->SetText(c.typed);
      EXPECT_EQ(c.field->Text(), c.kept) << c.field->Name() << " " << c.typed << " " << otherUnits;
    }
  }
  w.mapw.SetText("20000");
  EXPECT_EQ(w.mapw.Text(), "16000");
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
  // An empty field reads as 0 PSI.
  w.mappop.SetListIndex(1);
  w.mapw.SetText("");
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "1013");
  // A converted value out of range is held at the bound.
  w.mappop.SetListIndex(1);
  w.mapw.SetText("300");  // 300 PSI is far above 16000 mbar
  w.mappop.SetListIndex(0);
  EXPECT_EQ(w.mapw.Text(), "16000");
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
