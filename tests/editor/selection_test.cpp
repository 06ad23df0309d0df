#include "editor/selection.h"

#include <gtest/gtest.h>

namespace editor {
namespace {

TEST(SelectP, FirstMatchingRowOrUnchanged) {
  Menu menu = PlaceRows(0, 1);
  EXPECT_EQ(SelectPIndex(menu, 0, 7), 0);  // code 0 is always "None"
  int ect = SelectPIndex(menu, 11, -1);
  ASSERT_GT(ect, 0);
  EXPECT_EQ(menu[ect].text, "ECT");
  // No match: the selection stays as it was, including no selection.
  EXPECT_EQ(SelectPIndex(menu, 14, 5), 5);
  EXPECT_EQ(SelectPIndex(menu, 14, -1), -1);
  // Large items exist only in place 0.
  EXPECT_EQ(SelectPIndex(menu, 101, 3), 3);
  EXPECT_GT(SelectPIndex(PlaceRows(0, 0), 101, 3), 0);
  // Separators carry no code of their own, so code 0 never lands on one.
  EXPECT_FALSE(menu[SelectPIndex(menu, 0, 1)].separator);
}

TEST(PlaceIndexFor, ShowsNoSelectionForAnUnofferedCode) {
  Menu gm = PlaceRows(6, 3);
  EXPECT_EQ(PlaceIndexFor(gm, 89), -1);
  EXPECT_EQ(PlaceIndexFor(gm, 0), 0);
  EXPECT_EQ(gm[PlaceIndexFor(gm, 18)].text, "Spark Advance Relative To TDC");
}

TEST(ListSel, IndexBelowCountOrRowZero) {
  EXPECT_EQ(ListSelIndex(11, 12), 11);
  EXPECT_EQ(ListSelIndex(12, 12), 0);  // "NepTune RTP"
  EXPECT_EQ(ListSelIndex(200, 14), 0);
  EXPECT_EQ(ListSelIndex(-1, 14), -1);  // clears the selection
  EXPECT_EQ(ListSelIndex(-2, 7), -1);
  EXPECT_EQ(ListSelIndex(0, 0), -1);  // an empty pop-up can't select anything
}

TEST(Rebuild, WidebandInputSelection) {
  // "B6 Input" (3): K-Pro offers two inputs, NepTune four.
  EXPECT_EQ(AfrIndexAfterRebuild(3, static_cast<int>(AfrInputs(5).size())), 0);
  EXPECT_EQ(AfrIndexAfterRebuild(3, static_cast<int>(AfrInputs(1).size())), 3);
  EXPECT_EQ(AfrIndexAfterRebuild(-1, 1), -1);
  EXPECT_EQ(AfrIndexAfterRebuild(1, 1), 0);
}

TEST(OptIndex, PagesOfEightPlaces) {
  EXPECT_EQ(OptIndex(0, 0), 1);
  EXPECT_EQ(OptIndex(2, 0), 17);
  EXPECT_EQ(OptIndex(2, 7), 24);
  EXPECT_EQ(OptIndex(1, 5), 14);
  EXPECT_EQ(OptIndex(6, 7), 56);
}

}  // namespace
}  // namespace editor
