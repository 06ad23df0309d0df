#pragma once
// The display items a place on the unit's screen can show, by engine control
// system. The unit, the layout file and the settings exchange know an item only
// by its code; the texts here are what the window shows for that code under the
// system chosen in `Sys`.
#include <array>
#include <string>
#include <vector>

namespace editor {

inline constexpr int kSystemCount = 12;
inline constexpr int kPlaceCount = 8;
inline constexpr int kPageCount = 7;
inline constexpr int kSystemAem = 11;  // the one system whose sensor inputs are ADCR pins

// One row of a place pop-up. Separators carry no code and cannot be chosen.
struct MenuRow {
  std::string text;
  int code = 0;
  bool separator = false;

  bool operator==(const MenuRow&) const = default;
};
using Menu = std::vector<MenuRow>;

// The `Sys` rows, index 0 to 11.
const std::array<const char*, kSystemCount>& SystemNames();

// The rows place `place` (0 to 7) offers under system `sys`, in menu order.
// Large items appear only in place 0. A system index outside 0 to 11 (the
// pop-up lost its selection) offers "None" alone, so nothing a place shows can
// belong to no system.
Menu PlaceRows(int sys, int place);

// The text place 0 shows for `code` under `sys` (large and small items alike);
// empty when the system offers no such item.
std::string ItemText(int sys, int code);

// Wideband inputs offered in `afrlist`.
std::vector<std::string> AfrInputs(int sys);

// Captions of the four sensor group boxes `gbox1` to `gbox4`.
std::array<std::string, 4> SensorCaptions(int sys);

}  // namespace editor
