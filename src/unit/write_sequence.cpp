#include "unit/write_sequence.h"

#include <limits>

#include "unit/conversions.h"
#include "unit/wire_fields.h"

namespace unit {

namespace {

void QueueTableRows(const WindowSettings& s, const SensorsArray& sensors,
                    std::vector<QueuedRequest>& out) {
  for (int r = 0; r < kTableRows; ++r) {
    for (int t = 1; t <= kMainTables; ++t) {
      const TableData& table = s.Main[t - 1];
      // Exact comparisons: a cell read from the unit and left alone reads back
      // as the very same double, so only edited cells go out.
      double c = table.Volts[r];
      if (sensors[2 * t - 1][r + 1] != c) out.push_back(WriteTableVolts(t, r, c));
      double w = table.Values[r] * 10;
      if (sensors[2 * t][r + 1] * 10 != w) out.push_back(WriteTableValue(t, r, table.Values[r]));
    }
  }
}

}  // namespace

std::vector<QueuedRequest> BuildWrite(const WindowSettings& s, OptArray& opt2,
                                      const SensorsArray& sensors) {
  std::vector<QueuedRequest> out;
  for (int i = 1; i <= kPlaces; ++i) {
    if (s.Opt[i] != opt2[i]) {
      out.push_back(WriteItem(i, s.Opt[i]));
      opt2[i] = s.Opt[i];
    }
  }
  out.push_back(kItemsDone);
  out.push_back(WriteSystem(s.Sys, s.StPage, s.progstyle));
  out.push_back(WriteLogSpeed(s.DLSlider));
  out.push_back(WriteMapSensor(s.maps));
  out.push_back(WritePressureUnits(s.vact, s.prest));
  out.push_back(WriteUnits(s.usecelsius, s.usekph));
  out.push_back(WriteThrottle(s.ltps, s.utps));
  out.push_back(WriteWideband(0, s.WList[0][0], s.WList[0][1]));
  out.push_back(WriteWideband(1, s.WList[1][0], s.WList[1][1]));
  out.push_back(WriteWidebandInput(s.afrlist, s.demon));
  for (const QueuedRequest& limit : WriteLimits(s)) out.push_back(limit);
  QueueTableRows(s, sensors, out);
  for (int t = 1; t <= kMainTables; ++t) out.push_back(WriteTableName(t, s.Main[t - 1].Name));
  out.push_back(WriteTableDecimals(0, s.Main[0].Decimals, s.Main[1].Decimals));
  out.push_back(WriteTableDecimals(1, s.Main[2].Decimals, s.Main[3].Decimals));
  out.push_back(kTablesDone);
  for (int n = 1; n <= kAnInputs; ++n) out.push_back(WriteAnInput(n, s.An[n - 1]));
  out.push_back(kInputsDone);
  out.push_back(ReadRequest('s'));
  out.push_back(ReadRequest('u'));
  return out;
}

std::array<QueuedRequest, 4> WriteLimits(const WindowSettings& s) {
  return {WriteRpmLimit(s.rpmw),
          WriteTempLimit(kCoolantLimit, Spec::CtoF(TruncToInt(s.ectw), s.usecelsius)),
          WriteMapLimit(s.mappop == 0 ? s.mapw : Spec::PSITomBar(s.mapw)),
          WriteTempLimit(kIntakeLimit, Spec::CtoF(TruncToInt(s.iatw), s.usecelsius))};
}

void RememberTable(SensorsArray& sensors, int k, const TableData& table) {
  if (k < 1 || k + 1 >= static_cast<int>(sensors.size())) return;
  for (int r = 0; r < kTableRows; ++r) {
    sensors[k][r + 1] = table.Volts[r];
    sensors[k + 1][r + 1] = table.Values[r];
  }
}

void ForgetUnacknowledged(std::string_view final, OptArray& opt2, SensorsArray& sensors) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(final[i]); };
  if (final.size() == 4 && final.substr(0, 2) == "we" && final != "weee") {
    int place = byte(2);
    if (place >= 1 && place <= kPlaces) opt2[place] = kUnknownCode;
    return;
  }
  if (final.size() == 5 && final[0] == 's') {
    int table = byte(1);
    int row = byte(2);
    if (row >= kTableRows) return;
    // NaN equals nothing, so the cell differs from whatever the window holds.
    constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
    if (table >= 1 && table <= 4) sensors[2 * table - 1][row + 1] = unknown;
    if (table >= 5 && table <= 8) sensors[2 * (table - 4)][row + 1] = unknown;
  }
}

}  // namespace unit
