#include "editor/catalogue.h"

namespace editor {
namespace {

// Systems as a bit set, so the table below reads like the list of systems
// each group serves.
constexpr unsigned Span(int first, int last) {
  unsigned mask = 0;
  for (int s = first; s <= last; ++s) mask |= 1u << s;
  return mask;
}
constexpr unsigned One(int s) {
  return 1u << s;
}
constexpr unsigned kAll = Span(0, kSystemCount - 1);

struct Row {
  const char* text;  // nullptr marks a separator
  int code;
};
constexpr Row kSep{nullptr, 0};

struct Group {
  std::vector<Row> rows;
  unsigned systems;
  bool placeZeroOnly;
};

// Every place pop-up is built from this table, top to bottom. A group joins
// when it serves the system and, for the large items, only in place 0.
const std::vector<Group>& Groups() {
  static const std::vector<Group> groups = {
      {{{"None", 0}}, kAll, false},
      {{kSep}, kAll, false},
      // Large items, place 0 only.
      {{{"Large RPM", 101}, {"Large MAP", 105}, {"Large Air/Fuel", 102}, {"Large TPS", 103}},
       kAll,
       true},
      {{{"Large Duty Cycle", 104}}, Span(0, 5), true},
      {{{"Large ECT", 106}}, kAll, true},
      {{{"Large IAT", 107}}, Span(0, 5) | One(11), true},
      {{{"Large MAT", 107}}, Span(6, 9), true},
      {{{"Large VSS", 108}}, kAll, true},
      {{kSep}, kAll, true},
      // Engine readings.
      {{{"Small RPM", 1}, {"RPM Bar", 2}, {"TPS", 3}, {"TPS Bar", 59}}, kAll, false},
      {{{"TPS Voltage", 4}}, Span(0, 4) | Span(6, 9) | One(11), false},
      {{{"Air/Fuel Ratio", 5}, {"Air/Fuel Bar", 62}}, kAll, false},
      {{{"O2 Voltage", 6}}, Span(0, 4), false},
      {{{"MAP", 7}}, Span(0, 9) | One(11), false},
      {{{"MAP Voltage", 8}}, Span(0, 2) | Span(4, 9) | One(11), false},
      {{{"Duty Cycle", 20}}, Span(0, 4), false},
      {{{"Table Ignition", 18}}, Span(0, 5) | One(10), false},
      {{{"Spark Advance Relative To TDC", 18}, {"Spark Advance Relative To Ref. Pulse", 19}},
       Span(6, 7),
       false},
      {{{"Spark Advance", 18}}, Span(8, 9), false},
      {{{"Actual Ignition", 19}}, Span(0, 2) | One(10), false},
      {{{"Cam Angle", 79}, {"Knock Count", 74}}, One(5), false},
      {{{"PA", 9}, {"PA Voltage", 10}}, Span(0, 5), false},
      {{{"ECT", 11}, {"ECT Bar", 60}}, kAll, false},
      {{{"IAT", 12}, {"IAT Bar", 61}}, Span(0, 5), false},
      {{{"MAT", 12}, {"MAT Bar", 61}}, Span(6, 9), false},
      {{{"Lambda Integrator", 67}, {"Block Learn", 68}}, One(6), false},
      {{{"Short Term O2 Correction", 67}, {"Long Term O2 Correction", 68}},
       Span(0, 3) | One(5),
       false},
      {{{"ECT Correction", 69}, {"IAT Correction", 70}}, Span(2, 3), false},
      {{{"VSS", 13}}, kAll, false},
      {{{"Gear", 15}}, Span(0, 5), false},
      {{{"Battery Voltage", 17}}, kAll, false},
      {{{"ELD Voltage", 16}}, Span(0, 3) | One(5), false},
      // Sensor inputs.
      {{{"Sensor (ELD Input)", 64}, {"Sensor Bar (ELD Input)", 76}}, One(5), false},
      {{{"EGR Lift Voltage", 52},
        {"B6 Voltage", 53},
        {"Sensor 1 (O2 Input)", 63},
        {"Sensor 1 Bar (O2 Input)", 75},
        {"Sensor 2 (ELD Input)", 64},
        {"Sensor 2 Bar (ELD Input)", 76},
        {"Sensor 3 (EGR Lift Input)", 65},
        {"Sensor 3 Bar (EGR Lift Input)", 77},
        {"Sensor 4 (B6 Input)", 66},
        {"Sensor 4 Bar (B6 Input)", 78}},
       Span(0, 3),
       false},
      {{{"Sensor 1 (ADCR13)", 63},
        {"Sensor 2 (ADCR14)", 64},
        {"Sensor 3 (ADCR15)", 65},
        {"Sensor 4 (ADCR16)", 66}},
       One(11),
       false},
      {{{"Sensor 5 Voltage (AN1)", 80},
        {"Sensor 5 (AN1)", 85},
        {"Sensor 6 Voltage (AN2)", 81},
        {"Sensor 6 (AN2)", 86},
        {"Sensor 7 Voltage (AN3)", 82},
        {"Sensor 7 (AN3)", 87},
        {"Sensor 8 Voltage (AN4)", 83},
        {"Sensor 8 (AN4)", 88}},
       One(0) | One(10),
       false},
      {{{"Sensor 9 Voltage (AN5)", 84}, {"Sensor 9 (AN5)", 89}}, One(0), false},
      {{{"EBC Duty Cycle", 57}}, One(3) | One(5), false},
      // Outputs and inputs of the NEMU.
      {{kSep}, One(10), false},
      {{{"AC Clutch", 21},
        {"AC Switch", 29},
        {"Fan Output", 22},
        {"Fuel Relay", 23},
        {"Check Engine Light", 25},
        {"Power Steering Input", 31},
        {"Fuel Cut", 36}},
       One(10),
       false},
      // ECU outputs.
      {{kSep}, Span(0, 5), false},
      {{{"AC Clutch", 21}, {"Fan Output", 22}, {"Fuel Relay", 23}}, Span(0, 5), false},
      {{{"IAB", 24}}, Span(0, 4), false},
      {{{"Check Engine Light", 25}}, Span(0, 5), false},
      {{{"Purge Control Solenoid", 26}, {"O2 Heater", 27}}, Span(0, 4), false},
      {{{"VTEC Solenoid", 28}}, Span(0, 5), false},
      {{{"Alternator Control", 44}}, Span(0, 4), false},
      {{{"A10 Output", 71}}, One(3), false},
      // ECU inputs.
      {{kSep}, Span(0, 5), false},
      {{{"AC Switch", 29}, {"Brake Switch", 30}}, Span(0, 5), false},
      {{{"Power Steering Input", 31}}, Span(0, 4), false},
      {{{"Electronic Power Steering Input", 31}}, One(5), false},
      {{{"Service Connector", 32}}, Span(0, 5), false},
      {{{"Starter Signal", 33}}, Span(0, 4), false},
      {{{"VTEC Pressure Switch", 34}}, Span(0, 5), false},
      // Tuning features.
      {{kSep}, Span(0, 3), false},
      {{{"Secondary Maps", 35}}, Span(0, 3), false},
      {{{"Ignition Cut", 36}}, One(3), false},
      {{{"Fuel Cut", 36}}, Span(0, 2), false},
      {{{"Output 1 Armed", 49}, {"Output 2 Armed", 50}, {"Output 3 Armed", 51}}, One(3), false},
      {{{"Output 1 Active", 37}, {"Output 2 Active", 38}}, Span(0, 3), false},
      {{{"Output 3 Active", 46}}, Span(2, 3), false},
      {{{"2-Step", 39}}, Span(0, 3), false},
      {{{"Anti-Lag", 45}}, Span(2, 3), false},
      {{{"Full-Throttle Shift", 40}}, Span(0, 3), false},
      {{{"EBC Input", 54},
        {"EBC Active", 47},
        {"EBC Hi Boost", 55},
        {"EBC Base Duty", 56},
        {"EBC Duty Cycle", 57},
        {"EBC Target", 58},
        {"QuadBoost Active", 48},
        {"QuadBoost S2", 49},
        {"QuadBoost S3", 50},
        {"QuadBoost S4", 51}},
       One(2),
       false},
      {{{"Boost Control 1 Active", 41},
        {"Boost Control 2 Active", 42},
        {"Boost Control 3 Active", 43},
        {"EBC Hi Boost", 55},
        {"EBC Duty Cycle", 57}},
       Span(0, 1),
       false},
      {{kSep}, One(5), false},
      {{{"Closed Loop", 73},
        {"Output 1 Armed", 49},
        {"Output 2 Armed", 50},
        {"Output 3 Armed", 51},
        {"Output 1 Active", 37},
        {"Output 2 Active", 38},
        {"Output 3 Active", 46}},
       One(5),
       false},
  };
  return groups;
}

bool KnownSystem(int sys) {
  return sys >= 0 && sys < kSystemCount;
}

}  // namespace

const std::array<const char*, kSystemCount>& SystemNames() {
  static const std::array<const char*, kSystemCount> names = {
      "NepTune RTP", "NepTune", "eCtune",
      "s300",        "Crome",   "K-Pro",
      "GM $8D",      "GM $59",  "Ford GUFB (Moates QuarterHorse)",
      "GM $0D",      "NEMU V5", "AEM"};
  return names;
}

Menu PlaceRows(int sys, int place) {
  if (!KnownSystem(sys)) return {MenuRow{"None", 0, false}};
  Menu menu;
  for (const Group& group : Groups()) {
    if ((group.systems & One(sys)) == 0) continue;
    if (group.placeZeroOnly && place != 0) continue;
    for (const Row& row : group.rows) {
      if (row.text == nullptr) {
        menu.push_back(MenuRow{"", 0, true});
      } else {
        menu.push_back(MenuRow{row.text, row.code, false});
      }
    }
  }
  return menu;
}

std::string ItemText(int sys, int code) {
  for (const MenuRow& row : PlaceRows(sys, 0)) {
    if (!row.separator && row.code == code) return row.text;
  }
  return {};
}

std::vector<std::string> AfrInputs(int sys) {
  // Which of the unit's four analogue inputs the system leaves free for a
  // wideband controller.
  std::vector<std::string> inputs = {"O2 Input"};
  if (sys != 4 && sys <= 9) inputs.emplace_back("ELD Input");
  if (sys < 4) {
    inputs.emplace_back("EGR Lift Input");
    inputs.emplace_back("B6 Input");
  }
  return inputs;
}

std::array<std::string, 4> SensorCaptions(int sys) {
  if (sys == kSystemAem) return {"ADCR13", "ADCR14", "ADCR15", "ADCR16"};
  return {"O2 Input", "ELD Input", "EGR Lift Input", "B6 Input"};
}

}  // namespace editor
