#pragma once
// Everything a layout file (.lcd) holds, as plain values: what the window
// saves and what a load applies. The byte layout lives in layout_file.cpp.
#include <array>
#include <cstdint>
#include <string>

namespace editor {

// Fields in file order. A load applies the fields 1 to FieldsRead of a parsed
// file, so a damaged file never puts half a field into the window.
enum LayoutField : int {
  kFieldVersion = 1,
  kFieldSys,
  kFieldMaps,
  kFieldPrest,
  kFieldVact,
  kFieldAfr,
  kFieldWideband1Volts,
  kFieldWideband1Afr,
  kFieldWideband2Volts,
  kFieldWideband2Afr,
  kFieldLowTps,
  kFieldHighTps,
  kFieldItemCodes,
  kFieldRpmWarning,
  kFieldMapWarning,
  kFieldIatWarning,
  kFieldEctWarning,
  kFieldO2Table,
  kFieldEldTable,
  kFieldEgrTable,
  kFieldB6Table,
};
inline constexpr int kLastFieldOfVersion1 = kFieldItemCodes;
inline constexpr int kLastField = kFieldB6Table;

inline constexpr int kLayoutVersionWritten = 3;
inline constexpr int kItemCodesNew = 56;  // seven pages of eight places
inline constexpr int kItemCodesOld = 40;  // versions 1 and 2 knew five pages
inline constexpr int kTableRows = 15;
inline constexpr int kSensorTables = 4;  // O2, ELD, EGR lift, B6 in file order

// One sensor calibration table: rows 0 to 14, column 0 (volts) and 1 (value).
using LayoutTable = std::array<std::array<std::string, 2>, kTableRows>;

struct Layout {
  // The version byte as stored (signed); ReadVersion() says how it is read.
  int version = kLayoutVersionWritten;
  // Selected rows of the pop-ups; -1 means no row was selected.
  int sys = -1;
  int maps = -1;
  int prest = -1;
  int vact = -1;
  int afr = -1;
  // WList rows 0 and 1, columns 0 (volts) and 1 (air/fuel).
  std::array<std::array<std::string, 2>, 2> wideband;
  std::string lowTps;
  std::string highTps;
  // Item codes 1-based like the window's Opt: opt[1..56]; opt[0] unused.
  // Codes are stored as one unsigned byte (0 to 255).
  std::array<int, kItemCodesNew + 1> opt{};
  int rpmw = 0;
  int mapw = 0;
  int iatw = 0;
  int ectw = 0;
  std::array<LayoutTable, kSensorTables> tables;

  bool operator==(const Layout&) const = default;
};

// 1, 2 or 3: how a version byte is read. Every byte below 2 (including the
// negative ones, 0x80 to 0xFF) is the first version, 3 to 127 the third.
constexpr int ReadVersion(int versionByte) {
  return versionByte < 2 ? 1 : (versionByte == 2 ? 2 : 3);
}

// How many item codes a file of that version byte holds.
constexpr int ItemCodeCount(int versionByte) {
  return ReadVersion(versionByte) > 2 ? kItemCodesNew : kItemCodesOld;
}

// The last field a complete file of that version byte holds.
constexpr int LastFieldOf(int versionByte) {
  return ReadVersion(versionByte) > 1 ? kLastField : kLastFieldOfVersion1;
}

}  // namespace editor
