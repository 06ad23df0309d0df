#pragma once
// Layouts and hand-made file bytes shared by the layout file tests.
#include <string>
#include <string_view>

#include "editor/layout_value.h"

namespace layout_samples {

// What a freshly opened window holds: first rows selected, design texts,
// every code 0, warnings empty (saved as 0), every table row "0", "0".
inline editor::Layout DefaultWindow() {
  editor::Layout l;
  l.sys = l.maps = l.prest = l.vact = l.afr = 0;
  l.wideband = {{{"0", "10"}, {"5", "20"}}};
  l.lowTps = "0.45";
  l.highTps = "4.50";
  for (auto& table : l.tables)
    for (auto& row : table) row = {"0", "0"};
  return l;
}

// Every field away from its default, with codes above 127 and odd indices.
inline editor::Layout Changed() {
  editor::Layout l;
  l.sys = 11;
  l.maps = 13;
  l.prest = 3;
  l.vact = -1;
  l.afr = 0;
  l.wideband = {{{"0.5", "9.9"}, {"4.75", "25.5"}}};
  l.lowTps = "0.3";
  l.highTps = "";
  for (int i = 1; i <= editor::kItemCodesNew; ++i) l.opt[i] = (i * 37) % 256;
  l.opt[1] = 108;
  l.opt[56] = 255;
  l.rpmw = 16000;
  l.mapw = 20;
  l.iatw = 250;
  l.ectw = -3;
  for (int t = 0; t < editor::kSensorTables; ++t)
    for (int r = 0; r < editor::kTableRows; ++r)
      l.tables[t][r] = {std::to_string(r % 6) + ".1", std::to_string(t * 1000 + r * 7)};
  return l;
}

// Bytes written out by hand, independent of the encoder.
struct Bytes {
  std::string b;
  Bytes& I8(int v) {
    b.push_back(static_cast<char>(v & 0xFF));
    return *this;
  }
  Bytes& I16(int v) { return I8(v >> 8).I8(v); }
  Bytes& Text(std::string_view t) {
    I8(static_cast<int>(t.size()));
    b += t;
    return *this;
  }
};

}  // namespace layout_samples
