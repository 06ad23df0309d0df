#pragma once
// Decoders of the unit's read replies. Each takes the payload (the bytes after
// the letter), checks its length, and returns the values in the form the
// window shows them, named after the control each one feeds; nullopt when the
// payload does not have the letter's length.
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "unit/command_set.h"

namespace unit {

// "t": Sys, StPage (the reply carries the start page + 2), progstyle.
struct SystemReply {
  int Sys = 0;     // list index (byte - 1)
  int StPage = 0;  // list index (byte - 2)
  bool progstyle = false;
};
std::optional<SystemReply> DecodeSystem(std::string_view payload);

// "d": DLSlider.
std::optional<int> DecodeLogSpeed(std::string_view payload);

// "m": maps list index.
std::optional<int> DecodeMapSensor(std::string_view payload);

// "p": vact and prest list indexes.
struct PressureUnitsReply {
  int vact = 0;
  int prest = 0;
};
std::optional<PressureUnitsReply> DecodePressureUnits(std::string_view payload);

// "c": usecelsius, usekph.
struct UnitsReply {
  bool usecelsius = false;
  bool usekph = false;
};
std::optional<UnitsReply> DecodeUnits(std::string_view payload);

// "w": WList cells; the reply carries both volts first, then both ratios.
struct WidebandReply {
  std::array<std::array<double, 2>, 2> WList{};  // [row][column]
};
std::optional<WidebandReply> DecodeWideband(std::string_view payload);

// "i": afrlist, demon (checked only by 1). A flag byte of 255 means the unit
// holds no valid choice and wants the selection written back at once.
struct WidebandInputReply {
  int afrlist = 0;  // list index (byte - 1)
  bool demon = false;
  bool WriteBack = false;
};
std::optional<WidebandInputReply> DecodeWidebandInput(std::string_view payload);

// "h": ltps, utps in volts.
struct ThrottleReply {
  double ltps = 0;
  double utps = 0;
};
std::optional<ThrottleReply> DecodeThrottle(std::string_view payload);

// "e": the 56 item codes, 1-based by place number (element 0 unused).
std::optional<std::array<int, kPlaces + 1>> DecodeItems(std::string_view payload);

// "a": the warning limits in wire units.
struct LimitsReply {
  int rpm = 0;
  int ectF = 0;
  int mapMbar = 0;
  int iatF = 0;
};
std::optional<LimitsReply> DecodeLimits(std::string_view payload);

// The limits as the window's fields show them: whole numbers, the
// temperatures through FtoC, the pressure in mbar or, with psi, through
// mBarToPSI.
struct LimitTexts {
  std::string rpmw;
  std::string ectw;
  std::string mapw;
  std::string iatw;
};
LimitTexts ShownLimits(const LimitsReply& limits, bool celsius, bool psi);

// "s": O2 and ELD tables plus the names and "Show Decimals" of all four main
// tables; "u": EGR and B6 tables only (HasNames false, names empty).
struct MainTablesReply {
  std::array<TableData, 2> Tables{};
  bool HasNames = false;
  std::array<std::string, 4> Names{};  // s1name..s4name as UTF-8 text
  std::array<bool, 4> Decimals{};      // S1Dec..S4Dec
};
std::optional<MainTablesReply> DecodeMainTables(char letter, std::string_view payload);

// "z": AN1..AN5, each in the layout of a "wz" block.
std::optional<std::array<TableData, kAnInputs>> DecodeAnInputs(std::string_view payload);

}  // namespace unit
