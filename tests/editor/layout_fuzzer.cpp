// libFuzzer driver for longer runs by hand:
//   cmake -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DVANTORA_FUZZ=ON
//   cmake --build build-fuzz --target layout_fuzzer && build-fuzz/tests/editor/layout_fuzzer
#include "editor/layout_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzLayoutLoader(data, size);
}
