// The page and item editor on the real window: the open sequence, the page
// and system switches, the place pop-ups and what they store in Opt.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QTest>

#include "editor/catalogue.h"
#include "editor/selection.h"
#include "mainwindow/lcdprog.h"

using editor::OptIndex;

namespace {

struct Window {
  LCDProg w;
  Window() { w.Timer1.SetMode(platform::Timer::ModeOff); }
  int Code(int k) { return w.Item[k].RowTag(w.Item[k].ListIndex()); }
  // Chooses an item in place k the way the user does, by its text.
  void Choose(int k, const std::string& text) {
    platform::PopupMenu& place = w.Item[k];
    for (int i = 0; i < place.ListCount(); ++i) {
      if (place.List(i) == text) {
        place.SetListIndex(i);
        return;
      }
    }
    FAIL() << "place " << k << " offers no " << text;
  }
};

TEST(EditorWindow, OpeningLeavesEveryPlaceOnNoneAndOptEmpty) {
  Window t;
  LCDProg& w = t.w;
  for (int i = 1; i <= 56; ++i) EXPECT_EQ(w.Opt[i], 0) << i;
  EXPECT_EQ(w.Page.ListIndex(), 0);
  EXPECT_EQ(w.Sys.ListIndex(), 0);
  EXPECT_EQ(w.StPage.Text(), "1");
  for (platform::PopupMenu* p : {&w.maps, &w.vact, &w.prest, &w.afrlist}) {
    EXPECT_EQ(p->ListIndex(), 0) << p->Name();
  }
  EXPECT_EQ(w.afrlist.ListCount(), 4);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(w.Item[k].Text(), "None") << k;
    EXPECT_EQ(w.Item[k].ListCount(), k == 0 ? 85 : 76) << k;
  }
  EXPECT_FALSE(w.Ignore);
}

TEST(EditorWindow, PagesShowTheirStoredCodesAndChoicesStoreThem) {
  Window t;
  LCDProg& w = t.w;
  const int codes[8] = {101, 1, 18, 89, 11, 60, 13, 17};
  for (int k = 0; k < 8; ++k) w.Opt[OptIndex(2, k)] = codes[k];
  w.Page.SetListIndex(2);  // page "3": elements 17 to 24
  for (int k = 0; k < 8; ++k) EXPECT_EQ(t.Code(k), codes[k]) << k;
  EXPECT_EQ(w.Item[2].Text(), "Table Ignition");

  w.Page.SetListIndex(1);  // page "2"
  t.Choose(5, "ECT");
  EXPECT_EQ(w.Opt[14], 11);
  // Showing pages stores nothing.
  auto before = w.Opt;
  w.Page.SetListIndex(2);
  w.Page.SetListIndex(0);
  EXPECT_EQ(w.Opt, before);
  EXPECT_FALSE(w.Ignore);
}

TEST(EditorWindow, SystemChangeKeepsOfferedCodesOfThePageShown) {
  Window t;
  LCDProg& w = t.w;
  t.Choose(2, "Table Ignition");
  t.Choose(3, "Sensor 9 (AN5)");
  t.Choose(0, "Large IAT");
  for (int page = 1; page < 7; ++page) w.Opt[OptIndex(page, 3)] = 89;
  // Stored by a file or the unit: a large item outside place 0, an unknown code.
  w.Opt[OptIndex(0, 4)] = 105;
  w.Opt[OptIndex(0, 6)] = 14;

  w.Sys.SetListIndex(6);  // "GM $8D"
  EXPECT_EQ(w.Item[2].Text(), "Spark Advance Relative To TDC");
  EXPECT_EQ(w.Opt[3], 18);
  EXPECT_EQ(w.Item[3].Text(), "None");
  EXPECT_EQ(w.Opt[4], 0);
  EXPECT_EQ(w.Item[0].Text(), "Large MAT");
  EXPECT_EQ(w.Opt[1], 107);
  for (int page = 1; page < 7; ++page) EXPECT_EQ(w.Opt[OptIndex(page, 3)], 89);
  for (int k : {4, 6}) {
    EXPECT_EQ(w.Item[k].Text(), "None") << k;
    EXPECT_EQ(w.Opt[OptIndex(0, k)], 0) << k;
  }
  EXPECT_EQ(w.Item[0].ListCount(), 27 + 2);
  EXPECT_EQ(w.Item[5].ListCount(), 20 + 1);
}

TEST(EditorWindow, PlaceNeverShowsAnotherPagesItem) {
  Window t;
  LCDProg& w = t.w;
  w.Sys.SetListIndex(6);
  t.Choose(3, "MAP");          // page 1 place 3 shows "MAP"
  w.Opt[OptIndex(1, 3)] = 89;  // page 2 holds an item GM doesn't offer
  w.Page.SetListIndex(1);
  EXPECT_EQ(w.Item[3].ListIndex(), -1);  // not "MAP"
  EXPECT_EQ(w.Opt[OptIndex(1, 3)], 89);

  // A system change works from what is stored, not from what is shown.
  w.Sys.SetListIndex(0);
  EXPECT_EQ(w.Item[3].Text(), "Sensor 9 (AN5)");
  EXPECT_EQ(w.Opt[OptIndex(1, 3)], 89);
  EXPECT_EQ(w.Opt[OptIndex(0, 3)], 7);

  // Back on a system without it, and the user's choice overwrites it.
  w.Sys.SetListIndex(6);
  EXPECT_EQ(w.Item[3].Text(), "None");
  EXPECT_EQ(w.Opt[OptIndex(1, 3)], 0);
  w.Opt[OptIndex(1, 3)] = 89;
  w.Page.SetListIndex(0);
  w.Page.SetListIndex(1);
  ASSERT_EQ(w.Item[3].ListIndex(), -1);
  w.show();
  w.MainBox.SetListIndex(1);
  auto* combo = qobject_cast<QComboBox*>(w.Item[3].Widget());
  ASSERT_NE(combo, nullptr);
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(w.Item[3].Text(), "None");
  EXPECT_EQ(w.Opt[OptIndex(1, 3)], 0);
}

TEST(EditorWindow, LargeItemsOnlyInPlaceZero) {
  Window t;
  LCDProg& w = t.w;
  t.Choose(4, "ECT");
  w.SelectP(w.Item[4], 105);
  EXPECT_EQ(w.Item[4].Text(), "ECT");
  w.SelectP(w.Item[0], 105);
  EXPECT_EQ(w.Item[0].Text(), "Large MAP");
  EXPECT_EQ(w.Opt[1], 105);
  w.SelectP(w.Item[0], 0);
  EXPECT_EQ(w.Item[0].Text(), "None");
}

TEST(EditorWindow, WidebandInputAndSensorCaptionsFollowTheSystem) {
  Window t;
  LCDProg& w = t.w;
  w.afrlist.SetListIndex(3);
  w.Sys.SetListIndex(1);
  EXPECT_EQ(w.afrlist.Text(), "B6 Input");
  w.Sys.SetListIndex(5);
  EXPECT_EQ(w.afrlist.ListCount(), 2);
  EXPECT_EQ(w.afrlist.Text(), "O2 Input");
  w.Sys.SetListIndex(11);
  EXPECT_EQ(w.gbox1.Caption(), "ADCR13");
  EXPECT_EQ(w.gbox4.Caption(), "ADCR16");
  w.afrlist.SetListIndex(-1);
  w.Sys.SetListIndex(2);
  EXPECT_EQ(w.afrlist.ListIndex(), -1);
  EXPECT_EQ(w.gbox1.Caption(), "O2 Input");
  EXPECT_EQ(w.gbox4.Caption(), "B6 Input");
}

TEST(EditorWindow, ListSelAndALostSystem) {
  Window t;
  LCDProg& w = t.w;
  w.Sys.SetListIndex(5);
  w.ListSel(w.Sys, 12);
  EXPECT_EQ(w.Sys.Text(), "NepTune RTP");
  w.ListSel(w.maps, -1);
  EXPECT_EQ(w.maps.ListIndex(), -1);
  w.ListSel(w.vact, -2);
  EXPECT_EQ(w.vact.ListIndex(), -1);
  w.ListSel(w.StPage, 6);
  EXPECT_EQ(w.StPage.Text(), "7");

  t.Choose(1, "VSS");
  w.Opt[OptIndex(4, 1)] = 13;
  w.ListSel(w.Sys, -1);  // the unit sent system byte 0
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(w.Item[k].ListCount(), 1);
    EXPECT_EQ(w.Item[k].Text(), "None");
  }
  EXPECT_EQ(w.Opt[OptIndex(4, 1)], 13);
  w.Page.SetListIndex(4);
  EXPECT_EQ(w.Item[1].ListIndex(), -1);
  w.ListSel(w.Sys, 0);
  EXPECT_EQ(w.Item[1].Text(), "VSS");
}

}  // namespace
