#pragma once
// What the simulated unit does with one request, apart from any port: each
// function takes the bytes received so far, and when they start with a whole
// request, consumes it, applies it and says what to answer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "unitsim/unit_settings.h"

namespace unitsim {

struct Step {
  std::size_t Consumed = 0;  // 0: the request at the head is not whole yet
  bool Request = false;      // false when the bytes were noise and were skipped
  std::string Reply;
  bool SwitchMode = false;  // firmware -> bootloader, or bootloader -> firmware
};

// quiet: no further byte arrived for a while, so a lone "V" is a whole request.
Step FirmwareTake(std::string_view in, bool quiet, UnitSettings& settings, int revision);

// The unit's key that a whole firmware request presses ("left", "right",
// "up", "down" or "E"), or nullptr when the request presses none.
const char* KeyName(std::string_view request);

struct BootState {
  std::vector<std::uint8_t> Flash;
  std::vector<std::uint8_t> Eeprom;
  std::uint32_t Address = 0;  // in words for flash, in bytes for EEPROM
  bool Programming = false;
  int Erases = 0;
};

Step BootloaderTake(std::string_view in, BootState& state);

// Reply payloads of the reads, letter included; exposed for tests.
std::string ReadReply(char letter, const UnitSettings& s);

}  // namespace unitsim
