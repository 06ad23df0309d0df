#pragma once
// The full settings write as a pure function: from what the window holds (a
// snapshot of its controls, numbers already read with Val) and what the unit
// was last known to hold, the ordered list of requests to queue.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "unit/command_set.h"

namespace unit {

// Item codes by place number, 1-based (element 0 unused): the window's Opt and Opt2.
using OptArray = std::array<int, kPlaces + 1>;
// Table values last read from the unit, Sensors(k, row + 1): k 1..8 the main
// tables (volts and values in pairs), 9..18 AN1..AN5; index 0 unused on both.
using SensorsArray = std::array<std::array<double, kTableRows + 1>, 19>;

// An item code the unit is not known to hold: differs from every real code.
inline constexpr int kUnknownCode = -1;

// Everything the window sends, as its controls hold it at the moment of the write.
struct WindowSettings {
  int Sys = -1;  // list indexes: -1 when nothing is selected
  int StPage = -1;
  bool progstyle = false;
  int DLSlider = 1;
  int maps = -1;
  int vact = -1;
  int prest = -1;
  bool usecelsius = false;
  bool usekph = false;
  double ltps = 0;
  double utps = 0;
  std::array<std::array<double, 2>, 2> WList{};  // [row][column]: volts, air/fuel ratio
  int afrlist = -1;
  bool demon = false;
  double rpmw = 0;
  double ectw = 0;  // in the unit the window shows (C or F)
  double mapw = 0;  // mbar when mappop is 0, else gauge PSI
  int mappop = 0;
  double iatw = 0;
  std::array<TableData, kMainTables> Main{};  // O2List, ELDList, EGRList, B6List
  std::array<TableData, kAnInputs> An{};      // an1list..an5list
  OptArray Opt{};
};

// The requests of one full write in order: item codes that differ from opt2
// (each one recorded in opt2 as it is queued), "weee", the settings, the four
// limits, the main table cells that differ from sensors, names, flags,
// "sssssss", the five AN blocks, "wzs", and the reads "rs" and "ru".
std::vector<QueuedRequest> BuildWrite(const WindowSettings& s, OptArray& opt2,
                                      const SensorsArray& sensors);

// The four "wa" requests of the warning limits, in the order of a full write:
// RPM, coolant, pressure, intake air; each in the unit the window shows.
std::array<QueuedRequest, 4> WriteLimits(const WindowSettings& s);

// Stores a table as shown into Sensors at k (volts) and k + 1 (values).
void RememberTable(SensorsArray& sensors, int k, const TableData& table);

// A write request that the unit never acknowledged: forget what the window
// believed the unit holds for that place or table cell, so the next write sends
// it again. Requests that are sent on every write need nothing forgotten.
void ForgetUnacknowledged(std::string_view final, OptArray& opt2, SensorsArray& sensors);

}  // namespace unit
