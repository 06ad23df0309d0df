#include "editor/catalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace editor {
namespace {

struct Count {
  int items;
  int separators;
};

Count CountRows(const Menu& menu) {
  Count c{0, 0};
  for (const MenuRow& row : menu) (row.separator ? c.separators : c.items)++;
  return c;
}

// Items (with "None") and separators per system: place 0, then places 1 to 7.
struct Expected {
  Count place0;
  Count others;
};
constexpr Expected kRowCounts[kSystemCount] = {
    {{80, 5}, {72, 4}}, {{70, 5}, {62, 4}}, {{79, 5}, {71, 4}}, {{72, 5}, {64, 4}},
    {{45, 4}, {37, 3}}, {{52, 5}, {44, 4}}, {{27, 2}, {20, 1}}, {{25, 2}, {18, 1}},
    {{24, 2}, {17, 1}}, {{24, 2}, {17, 1}}, {{34, 3}, {28, 2}}, {{25, 2}, {18, 1}},
};

TEST(Catalogue, RowCountsOfEverySystemAndPlace) {
  for (int sys = 0; sys < kSystemCount; ++sys) {
    for (int place = 0; place < kPlaceCount; ++place) {
      Count c = CountRows(PlaceRows(sys, place));
      Count want = place == 0 ? kRowCounts[sys].place0 : kRowCounts[sys].others;
      EXPECT_EQ(c.items, want.items) << "system " << sys << " place " << place;
      EXPECT_EQ(c.separators, want.separators) << "system " << sys << " place " << place;
    }
  }
}

TEST(Catalogue, EveryMenuStartsWithNoneAndASeparatorAndHasNoDuplicateCode) {
  for (int sys = 0; sys < kSystemCount; ++sys) {
    for (int place = 0; place < kPlaceCount; ++place) {
      Menu menu = PlaceRows(sys, place);
      ASSERT_GE(menu.size(), 2u);
      EXPECT_EQ(menu[0], (MenuRow{"None", 0, false}));
      EXPECT_TRUE(menu[1].separator);
      // Two rows with one code would make the second unreachable by code.
      std::set<int> codes;
      for (const MenuRow& row : menu) {
        if (row.separator) continue;
        EXPECT_TRUE(codes.insert(row.code).second)
            << "system " << sys << " place " << place << " code " << row.code;
        EXPECT_NE(row.code, 14);
        EXPECT_NE(row.code, 72);
        EXPECT_FALSE(row.text.empty());
      }
    }
  }
}

TEST(Catalogue, LargeItemsOnlyInPlaceZeroAndSmallItemsEverywhere) {
  for (int sys = 0; sys < kSystemCount; ++sys) {
    Menu zero = PlaceRows(sys, 0);
    for (int place = 1; place < kPlaceCount; ++place) {
      Menu other = PlaceRows(sys, place);
      for (const MenuRow& row : other) EXPECT_LT(row.code, 101);
      Menu smallOfZero;
      for (const MenuRow& row : zero) {
        if (row.code < 101) smallOfZero.push_back(row);
      }
      // Place 0 is the others plus the large block and its closing separator.
      smallOfZero.erase(smallOfZero.begin() + 2);
      EXPECT_EQ(smallOfZero, other) << "system " << sys;
    }
    int large = 0;
    for (const MenuRow& row : zero) large += row.code >= 101 ? 1 : 0;
    EXPECT_GE(large, 6) << "system " << sys;
  }
}

TEST(Catalogue, SharedCodesCarryEachSystemsText) {
  struct Case {
    int sys;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {0, 18, "Table Ignition"},
      {5, 18, "Table Ignition"},
      {10, 18, "Table Ignition"},
      {6, 18, "Spark Advance Relative To TDC"},
      {7, 18, "Spark Advance Relative To TDC"},
      {8, 18, "Spark Advance"},
      {9, 18, "Spark Advance"},
      {2, 19, "Actual Ignition"},
      {10, 19, "Actual Ignition"},
      {6, 19, "Spark Advance Relative To Ref. Pulse"},
      {5, 12, "IAT"},
      {5, 61, "IAT Bar"},
      {9, 12, "MAT"},
      {6, 61, "MAT Bar"},
      {11, 107, "Large IAT"},
      {0, 107, "Large IAT"},
      {8, 107, "Large MAT"},
      {3, 67, "Short Term O2 Correction"},
      {5, 68, "Long Term O2 Correction"},
      {6, 67, "Lambda Integrator"},
      {6, 68, "Block Learn"},
      {4, 31, "Power Steering Input"},
      {10, 31, "Power Steering Input"},
      {5, 31, "Electronic Power Steering Input"},
      {0, 36, "Fuel Cut"},
      {10, 36, "Fuel Cut"},
      {3, 36, "Ignition Cut"},
      {3, 49, "Output 1 Armed"},
      {5, 51, "Output 3 Armed"},
      {2, 49, "QuadBoost S2"},
      {2, 51, "QuadBoost S4"},
      {0, 63, "Sensor 1 (O2 Input)"},
      {3, 66, "Sensor 4 (B6 Input)"},
      {11, 63, "Sensor 1 (ADCR13)"},
      {11, 66, "Sensor 4 (ADCR16)"},
      {5, 64, "Sensor (ELD Input)"},
      {1, 64, "Sensor 2 (ELD Input)"},
      {1, 76, "Sensor 2 Bar (ELD Input)"},
      {5, 76, "Sensor Bar (ELD Input)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ItemText(c.sys, c.code), c.text) << "system " << c.sys << " code " << c.code;
  }
  // Systems outside a shared code's list don't offer it at all.
  EXPECT_EQ(ItemText(11, 18), "");
  EXPECT_EQ(ItemText(4, 67), "");
  EXPECT_EQ(ItemText(11, 31), "");
  EXPECT_EQ(ItemText(6, 49), "");
}

TEST(Catalogue, MenuOrderFollowsTheGroups) {
  // K-Pro's rows after "Battery Voltage": its own sensor rows, the output
  // block behind a separator, and its closed-loop block at the very end.
  Menu kpro = PlaceRows(5, 3);
  std::vector<std::string> tail;
  for (std::size_t i = kpro.size() - 8; i < kpro.size(); ++i) {
    tail.push_back(kpro[i].separator ? "-" : kpro[i].text);
  }
  EXPECT_EQ(tail, (std::vector<std::string>{"-", "Closed Loop", "Output 1 Armed", "Output 2 Armed",
                                            "Output 3 Armed", "Output 1 Active", "Output 2 Active",
                                            "Output 3 Active"}));
  Menu rtp = PlaceRows(0, 0);
  EXPECT_EQ(rtp[2].text, "Large RPM");
  EXPECT_EQ(rtp[5].text, "Large TPS");
  EXPECT_EQ(rtp[6].text, "Large Duty Cycle");
  EXPECT_EQ(rtp[7].text, "Large ECT");
  EXPECT_EQ(rtp[8].text, "Large IAT");
  EXPECT_EQ(rtp[9].text, "Large VSS");
  EXPECT_TRUE(rtp[10].separator);
  EXPECT_EQ(rtp[11].text, "Small RPM");
}

TEST(Catalogue, WidebandInputsAndSensorCaptionsPerSystem) {
  const std::vector<std::string> four = {"O2 Input", "ELD Input", "EGR Lift Input", "B6 Input"};
  const std::vector<std::string> two = {"O2 Input", "ELD Input"};
  const std::vector<std::string> one = {"O2 Input"};
  const std::vector<std::string> expected[kSystemCount] = {four, four, four, four, one, two,
                                                           two,  two,  two,  two,  one, one};
  const std::array<std::string, 4> standard = {"O2 Input", "ELD Input", "EGR Lift Input",
                                               "B6 Input"};
  for (int sys = 0; sys < kSystemCount; ++sys) {
    EXPECT_EQ(AfrInputs(sys), expected[sys]) << "system " << sys;
    if (sys == 11) {
      EXPECT_EQ(SensorCaptions(sys),
                (std::array<std::string, 4>{"ADCR13", "ADCR14", "ADCR15", "ADCR16"}));
    } else {
      EXPECT_EQ(SensorCaptions(sys), standard) << "system " << sys;
    }
  }
}

TEST(Catalogue, SystemOutsideTheListOffersOnlyNone) {
  for (int sys : {-1, -7, 12, 255}) {
    for (int place = 0; place < kPlaceCount; ++place) {
      EXPECT_EQ(PlaceRows(sys, place), (Menu{{"None", 0, false}})) << sys;
    }
    EXPECT_EQ(ItemText(sys, 1), "");
    EXPECT_EQ(ItemText(sys, 0), "None");
    EXPECT_FALSE(AfrInputs(sys).empty());
    EXPECT_EQ(SensorCaptions(sys)[0], "O2 Input");
  }
  EXPECT_STREQ(SystemNames()[5], "K-Pro");
  EXPECT_STREQ(SystemNames()[8], "Ford GUFB (Moates QuarterHorse)");
}

}  // namespace
}  // namespace editor
