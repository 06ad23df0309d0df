#pragma once
// The layout loader's fuzz entry: fed any bytes, it decodes them and checks
// what must hold for every input. A broken rule aborts, which both the fuzzer
// and the test over the seed corpus catch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "editor/layout_file.h"

inline int FuzzLayoutLoader(const std::uint8_t* data, std::size_t size) {
  using namespace editor;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  LayoutRead r = DecodeLayout(bytes);
  if (r.fieldsRead < 0 || r.fieldsRead > kLastField) std::abort();
  if (r.damaged == r.error.empty()) std::abort();
  if (!r.damaged && r.fieldsRead != LastFieldOf(r.layout.version)) std::abort();
  if (r.damaged && r.fieldsRead >= LastFieldOf(r.layout.version)) std::abort();
  for (int i = 1; i <= kItemCodesNew; ++i)
    if (r.layout.opt[i] < 0 || r.layout.opt[i] > 255) std::abort();

  // Whatever was read survives a save and a load unchanged (as version 3).
  Layout expected = r.layout;
  expected.version = kLayoutVersionWritten;
  LayoutRead again = DecodeLayout(EncodeLayout(r.layout));
  if (again.damaged || !(again.layout == expected)) std::abort();
  return 0;
}
