#pragma once
// The simulated unit's settings memory. Every field is one field of the
// unit's command set, stored in its wire form (the bytes the window writes
// and reads back), so a test can compare what the window sent with what it
// meant. Comments name the write request that sets a field and the read
// reply that returns it; "byte n" counts from 1 after the request text or
// after the reply letter.
#include <array>
#include <cstdint>

namespace unitsim {

// One 15-row sensor table: row r (0 to 14) has a volt byte (count of 5/255 V)
// and a value in tenths.
struct SensorTable {
  std::array<std::uint8_t, 15> Volt{};
  std::array<std::uint16_t, 15> Value{};
};

// A sensor's name (three bytes, blank padded) and its "show decimals" flag.
struct SensorLabel {
  std::array<char, 3> Name{' ', ' ', ' '};
  std::uint8_t Decimals = 0;
};

// One AN input: the 49-byte block of "wz" (input n) and of "rz" (block n):
// rows 0-14 as volt byte + tenths word (3 bytes a row), name, flag.
struct AnalogInput {
  SensorTable Table;
  SensorLabel Label;
};

struct UnitSettings {
  // "wt" bytes 1-3; "rt" bytes 1-3 (the start page comes back as index + 2).
  std::uint8_t Sys = 1;        // engine control system, list index + 1
  std::uint8_t StartPage = 0;  // bare list index of the start page
  std::uint8_t ProgStyle = 0;  // flag
  // "wd" byte 1; "rd" byte 1: dimmer, 1 to 20.
  std::uint8_t Dimmer = 10;
  // "wm" byte 1; "rm" byte 1: map sensor selection.
  std::uint8_t Maps = 1;
  // "wp" bytes 1-2; "rp" bytes 1-2: selections.
  std::uint8_t Vact = 1;
  std::uint8_t Prest = 1;
  // "wc" bytes 1-2; "rc" bytes 1-2: flags.
  std::uint8_t Celsius = 0;
  std::uint8_t Kph = 0;
  // "wh" bytes 1-2; "rh" bytes 1-2: throttle volt bytes, closed and open.
  std::uint8_t TpsLow = 26;
  std::uint8_t TpsHigh = 230;
  // Wideband: "ww" sets row 0, "wx" row 1 (volt byte, ratio in tenths).
  // "rw" returns volt 0, volt 1, ratio 0, ratio 1, then WidebandSpare.
  std::array<std::uint8_t, 2> WidebandVolt{0, 255};
  std::array<std::uint8_t, 2> WidebandAfr{100, 200};
  std::uint8_t WidebandSpare = 0;
  // "wi" bytes 1-2; "ri" bytes 1-2: fuel-type selection and demo flag.
  std::uint8_t Afr = 1;
  std::uint8_t Demo = 0;
  // Warning limits: "wa" with selector 1 (word), 2 (temperature byte, then a
  // 0), 3 (word), 4 (temperature byte, then a 0). "ra": RPM word, ECT, MAP
  // word, IAT.
  std::uint16_t RpmWarn = 7000;  // RPM
  std::uint8_t EctWarn = 230;    // degrees Fahrenheit
  std::uint16_t MapWarn = 2000;  // absolute mbar
  std::uint8_t IatWarn = 140;    // degrees Fahrenheit
  // "we" place, code: Items[place - 1]; "re" bytes 1-56.
  std::array<std::uint8_t, 56> Items{};
  // Main sensor tables: 0 O2, 1 ELD, 2 EGR, 3 B6. "s" k=1-4 sets Volt of
  // table k-1, k=5-8 sets Value of table k-5, 9-12 Label.Name of table k-9,
  // 13 and 14 Label.Decimals of tables 0,1 and 2,3. "rs" returns tables 0-1
  // (volts, then values, each table in turn) and the four labels; "ru"
  // returns tables 2-3.
  std::array<SensorTable, 4> Main{};
  std::array<SensorLabel, 4> MainLabel{};
  // "wz" n: An[n - 1]; "rz" returns the five blocks in turn.
  std::array<AnalogInput, 5> An{};

  // Counts of the requests that make the unit keep what it was sent.
  int ItemCommits = 0;    // "weee"
  int SensorCommits = 0;  // "sssssss"
  int AnalogCommits = 0;  // "wzs"

  // A unit fresh from the factory.
  static UnitSettings Defaults();
};

}  // namespace unitsim
