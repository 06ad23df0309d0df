#include "editor/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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

// Place 0's rows under each system, in menu order, copied by hand from the
// catalogue: item codes, and S for a separator. Places 1 to 7 are these
// without the large items and the separator after them (tested above).
constexpr int S = -1;
const std::vector<int> kPlaceZero[kSystemCount] = {
    // 0 NepTune RTP
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 4,  5,  62, 6,  7,  8,  20,
     18, 19, 9,   10,  11,  60,  12,  61,  67,  68,  13, 15, 17, 16, 52, 53, 63, 75, 64, 76, 65, 77,
     66, 78, 80,  85,  81,  86,  82,  87,  83,  88,  84, 89, S,  21, 22, 23, 24, 25, 26, 27, 28, 44,
     S,  29, 30,  31,  32,  33,  34,  S,   35,  36,  37, 38, 39, 40, 41, 42, 43, 55, 57},
    // 1 NepTune
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 4,  5,  62, 6,
     7,  8,  20,  18,  19,  9,   10,  11,  60,  12,  61, 67, 68, 13, 15, 17, 16, 52, 53,
     63, 75, 64,  76,  65,  77,  66,  78,  S,   21,  22, 23, 24, 25, 26, 27, 28, 44, S,
     29, 30, 31,  32,  33,  34,  S,   35,  36,  37,  38, 39, 40, 41, 42, 43, 55, 57},
    // 2 eCtune
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 4,  5,  62, 6,  7,  8,
     20, 18, 19,  9,   10,  11,  60,  12,  61,  67,  68, 69, 70, 13, 15, 17, 16, 52, 53, 63, 75,
     64, 76, 65,  77,  66,  78,  S,   21,  22,  23,  24, 25, 26, 27, 28, 44, S,  29, 30, 31, 32,
     33, 34, S,   35,  36,  37,  38,  46,  39,  45,  40, 54, 47, 55, 56, 57, 58, 48, 49, 50, 51},
    // 3 s300
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 4,  5,  62, 6,  7,
     20, 18, 9,   10,  11,  60,  12,  61,  67,  68,  69, 70, 13, 15, 17, 16, 52, 53, 63, 75,
     64, 76, 65,  77,  66,  78,  57,  S,   21,  22,  23, 24, 25, 26, 27, 28, 44, 71, S,  29,
     30, 31, 32,  33,  34,  S,   35,  36,  49,  50,  51, 37, 38, 46, 39, 45, 40},
    // 4 Crome
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 4, 5,
     62, 6,  7,   8,   20,  18,  9,   10,  11,  60,  12, 61, 13, 15, 17, S, 21,
     22, 23, 24,  25,  26,  27,  28,  44,  S,   29,  30, 31, 32, 33, 34},
    // 5 K-Pro
    {0,  S,  101, 105, 102, 103, 104, 106, 107, 108, S,  1,  2,  3,  59, 5,  62, 7,  8,
     18, 79, 74,  9,   10,  11,  60,  12,  61,  67,  68, 13, 15, 17, 16, 64, 76, 57, S,
     21, 22, 23,  25,  28,  S,   29,  30,  31,  32,  34, S,  73, 49, 50, 51, 37, 38, 46},
    // 6 GM $8D
    {0, S,  101, 105, 102, 103, 106, 107, 108, S,  1,  2,  3,  59, 4,
     5, 62, 7,   8,   18,  19,  11,  60,  12,  61, 67, 68, 13, 17},
    // 7 GM $59
    {0, S, 101, 105, 102, 103, 106, 107, 108, S,  1,  2,  3, 59,
     4, 5, 62,  7,   8,   18,  19,  11,  60,  12, 61, 13, 17},
    // 8 Ford GUFB (Moates QuarterHorse)
    {0,  S, 101, 105, 102, 103, 106, 107, 108, S,  1,  2,  3,
     59, 4, 5,   62,  7,   8,   18,  11,  60,  12, 61, 13, 17},
    // 9 GM $0D
    {0,  S, 101, 105, 102, 103, 106, 107, 108, S,  1,  2,  3,
     59, 4, 5,   62,  7,   8,   18,  11,  60,  12, 61, 13, 17},
    // 10 NEMU V5
    {0,  S,  101, 105, 102, 103, 106, 108, S,  1,  2, 3,  59, 5,  62, 18, 19, 11, 60,
     13, 17, 80,  85,  81,  86,  82,  87,  83, 88, S, 21, 29, 22, 23, 25, 31, 36},
    // 11 AEM
    {0, S, 101, 105, 102, 103, 106, 107, 108, S,  1,  2,  3, 59,
     4, 5, 62,  7,   8,   11,  60,  13,  17,  63, 64, 65, 66},
};

// Each code's text, where no system names it otherwise.
// clang-format off
const std::map<int, std::string> kTexts = {
    {0, "None"}, {1, "Small RPM"}, {2, "RPM Bar"}, {3, "TPS"}, {4, "TPS Voltage"},
    {5, "Air/Fuel Ratio"}, {6, "O2 Voltage"}, {7, "MAP"}, {8, "MAP Voltage"}, {9, "PA"},
    {10, "PA Voltage"}, {11, "ECT"}, {12, "IAT"}, {13, "VSS"}, {15, "Gear"}, {16, "ELD Voltage"},
    {17, "Battery Voltage"}, {18, "Table Ignition"}, {19, "Actual Ignition"}, {20, "Duty Cycle"},
    {21, "AC Clutch"}, {22, "Fan Output"}, {23, "Fuel Relay"}, {24, "IAB"},
    {25, "Check Engine Light"}, {26, "Purge Control Solenoid"}, {27, "O2 Heater"},
    {28, "VTEC Solenoid"}, {29, "AC Switch"}, {30, "Brake Switch"}, {31, "Power Steering Input"},
    {32, "Service Connector"}, {33, "Starter Signal"}, {34, "VTEC Pressure Switch"},
    {35, "Secondary Maps"}, {36, "Fuel Cut"}, {37, "Output 1 Active"}, {38, "Output 2 Active"},
    {39, "2-Step"}, {40, "Full-Throttle Shift"}, {41, "Boost Control 1 Active"},
    {42, "Boost Control 2 Active"}, {43, "Boost Control 3 Active"}, {44, "Alternator Control"},
    {45, "Anti-Lag"}, {46, "Output 3 Active"}, {47, "EBC Active"}, {48, "QuadBoost Active"},
    {49, "Output 1 Armed"}, {50, "Output 2 Armed"}, {51, "Output 3 Armed"},
    {52, "EGR Lift Voltage"}, {53, "B6 Voltage"}, {54, "EBC Input"}, {55, "EBC Hi Boost"},
    {56, "EBC Base Duty"}, {57, "EBC Duty Cycle"}, {58, "EBC Target"}, {59, "TPS Bar"},
    {60, "ECT Bar"}, {61, "IAT Bar"}, {62, "Air/Fuel Bar"}, {63, "Sensor 1 (O2 Input)"},
    {64, "Sensor 2 (ELD Input)"}, {65, "Sensor 3 (EGR Lift Input)"}, {66, "Sensor 4 (B6 Input)"},
    {67, "Short Term O2 Correction"}, {68, "Long Term O2 Correction"}, {69, "ECT Correction"},
    {70, "IAT Correction"}, {71, "A10 Output"}, {73, "Closed Loop"}, {74, "Knock Count"},
    {75, "Sensor 1 Bar (O2 Input)"}, {76, "Sensor 2 Bar (ELD Input)"},
    {77, "Sensor 3 Bar (EGR Lift Input)"}, {78, "Sensor 4 Bar (B6 Input)"}, {79, "Cam Angle"},
    {80, "Sensor 5 Voltage (AN1)"}, {81, "Sensor 6 Voltage (AN2)"}, {82, "Sensor 7 Voltage (AN3)"},
    {83, "Sensor 8 Voltage (AN4)"}, {84, "Sensor 9 Voltage (AN5)"}, {85, "Sensor 5 (AN1)"},
    {86, "Sensor 6 (AN2)"}, {87, "Sensor 7 (AN3)"}, {88, "Sensor 8 (AN4)"}, {89, "Sensor 9 (AN5)"},
    {101, "Large RPM"}, {102, "Large Air/Fuel"}, {103, "Large TPS"}, {104, "Large Duty Cycle"},
    {105, "Large MAP"}, {106, "Large ECT"}, {107, "Large IAT"}, {108, "Large VSS"}};
// clang-format on

// The texts some systems give a shared code instead.
struct OwnText {
  std::vector<int> systems;
  int code;
  const char* text;
};
const OwnText kOwnTexts[] = {
    {{6, 7}, 18, "Spark Advance Relative To TDC"},
    {{8, 9}, 18, "Spark Advance"},
    {{6, 7}, 19, "Spark Advance Relative To Ref. Pulse"},
    {{6, 7, 8, 9}, 12, "MAT"},
    {{6, 7, 8, 9}, 61, "MAT Bar"},
    {{6, 7, 8, 9}, 107, "Large MAT"},
    {{6}, 67, "Lambda Integrator"},
    {{6}, 68, "Block Learn"},
    {{5}, 31, "Electronic Power Steering Input"},
    {{3}, 36, "Ignition Cut"},
    {{2}, 49, "QuadBoost S2"},
    {{2}, 50, "QuadBoost S3"},
    {{2}, 51, "QuadBoost S4"},
    {{11}, 63, "Sensor 1 (ADCR13)"},
    {{11}, 64, "Sensor 2 (ADCR14)"},
    {{11}, 65, "Sensor 3 (ADCR15)"},
    {{11}, 66, "Sensor 4 (ADCR16)"},
    {{5}, 64, "Sensor (ELD Input)"},
    {{5}, 76, "Sensor Bar (ELD Input)"},
};

std::string ExpectedText(int sys, int code) {
  for (const OwnText& own : kOwnTexts) {
    if (own.code == code && std::count(own.systems.begin(), own.systems.end(), sys) > 0) {
      return own.text;
    }
  }
  return kTexts.at(code);
}

TEST(Catalogue, PlaceZeroOfEverySystemRowByRow) {
  for (int sys = 0; sys < kSystemCount; ++sys) {
    SCOPED_TRACE(std::string("system ") + SystemNames()[sys]);
    const Menu menu = PlaceRows(sys, 0);
    const std::vector<int>& codes = kPlaceZero[sys];
    ASSERT_EQ(menu.size(), codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
      if (codes[i] == S) {
        EXPECT_TRUE(menu[i].separator) << "row " << i;
        continue;
      }
      EXPECT_EQ(menu[i], (MenuRow{ExpectedText(sys, codes[i]), codes[i], false})) << "row " << i;
    }
    // The text shown for a code is that system's, and a code the system
    // doesn't offer has none.
    for (const auto& [code, text] : kTexts) {
      const bool offered = std::count(codes.begin(), codes.end(), code) > 0;
      EXPECT_EQ(ItemText(sys, code), offered ? ExpectedText(sys, code) : "") << "code " << code;
    }
  }
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
