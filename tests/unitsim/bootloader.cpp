// The AVR109 self-programming command set, as much of it as a programmer
// needs to write and verify the flash of a 128 KiB part (an ATmega128).
#include <algorithm>

#include "unitsim/unit_logic.h"
#include "unitsim/unit_sim.h"

namespace unitsim {
namespace {
constexpr char kCR = '\r';
constexpr std::uint8_t kDeviceCode = 0x43;                  // ATmega128
constexpr std::uint8_t kSignature[3] = {0x1E, 0x97, 0x02};  // ATmega128
constexpr std::size_t kEepromSize = 4096;

Step Answer(std::size_t consumed, std::string reply) {
  Step s;
  s.Consumed = consumed;
  s.Request = true;
  s.Reply = std::move(reply);
  return s;
}
std::uint8_t B(std::string_view in, std::size_t i) {
  return static_cast<std::uint8_t>(in[i]);
}

// The bytes of the memory a block command names ('F' flash, addressed in
// words; 'E' EEPROM, addressed in bytes) from the current address on, which
// moves past the block. Null, the address unchanged, for any other type or a
// block that would run past the end of its memory.
std::uint8_t* TakeBlock(BootState& st, char type, std::size_t length) {
  if (type != 'F' && type != 'E') return nullptr;
  const bool flash = type == 'F';
  std::vector<std::uint8_t>& memory = flash ? st.Flash : st.Eeprom;
  const std::size_t at = flash ? static_cast<std::size_t>(st.Address) * 2 : st.Address;
  if (at + length > memory.size()) return nullptr;
  st.Address += static_cast<std::uint32_t>(flash ? (length + 1) / 2 : length);
  return memory.data() + at;
}

// "B" length(2) type data: loads a block at the current address.
Step BlockWrite(std::string_view in, BootState& st) {
  if (in.size() < 4) return Step{};
  const std::size_t length = static_cast<std::size_t>(B(in, 1) * 256 + B(in, 2));
  if (length == 0 || length > kBlockSize) return Answer(4, "?");
  if (in.size() < 4 + length) return Step{};
  std::uint8_t* block = TakeBlock(st, in[3], length);
  if (block == nullptr) return Answer(4 + length, "?");
  std::copy_n(reinterpret_cast<const std::uint8_t*>(in.data() + 4), length, block);
  return Answer(4 + length, std::string(1, kCR));
}

// "g" length(2) type: reads a block from the current address.
Step BlockRead(std::string_view in, BootState& st) {
  if (in.size() < 4) return Step{};
  const std::size_t length = static_cast<std::size_t>(B(in, 1) * 256 + B(in, 2));
  if (length == 0 || length > kBlockSize) return Answer(4, "?");
  const std::uint8_t* block = TakeBlock(st, in[3], length);
  if (block == nullptr) return Answer(4, "?");
  return Answer(4, std::string(reinterpret_cast<const char*>(block), length));
}
}  // namespace

Step BootloaderTake(std::string_view in, BootState& st) {
  if (in.empty()) return Step{};
  if (st.Flash.size() != kFlashSize) st.Flash.resize(kFlashSize, 0xFF);
  if (st.Eeprom.size() != kEepromSize) st.Eeprom.resize(kEepromSize, 0xFF);
  const std::string cr(1, kCR);
  switch (in[0]) {
    case 27: {  // programmers send escapes to wake a bootloader; it stays silent
      Step s;
      s.Consumed = 1;
      return s;
    }
    case 'S':
      return Answer(1, kSoftwareId);
    case 'V':
      return Answer(1, kBootloaderVersion);
    case 'p':
      return Answer(1, "S");  // serial programmer
    case 'a':
      return Answer(1, "Y");  // address auto-increment
    case 'b': {
      std::string reply = "Y";
      reply.push_back(static_cast<char>(kBlockSize >> 8));
      reply.push_back(static_cast<char>(kBlockSize & 0xFF));
      return Answer(1, reply);
    }
    case 't': {
      std::string reply(1, static_cast<char>(kDeviceCode));
      reply.push_back('\0');
      return Answer(1, reply);
    }
    case 'T':
      if (in.size() < 2) return Step{};
      return Answer(2, cr);
    case 'x':
    case 'y':
    case 'l':  // LED on/off, lock bits: accepted, nothing to do
      if (in.size() < 2) return Step{};
      return Answer(2, cr);
    case 'P':
      st.Programming = true;
      return Answer(1, cr);
    case 'L':
      st.Programming = false;
      return Answer(1, cr);
    case 's': {  // signature, last byte first
      std::string reply;
      for (int i = 2; i >= 0; --i) reply.push_back(static_cast<char>(kSignature[i]));
      return Answer(1, reply);
    }
    case 'r':
    case 'F':
    case 'N':
    case 'Q':  // lock and fuse bits: unprogrammed
      return Answer(1, std::string(1, '\xFF'));
    case 'e':
      std::fill(st.Flash.begin(), st.Flash.end(), 0xFF);
      ++st.Erases;
      return Answer(1, cr);
    case 'A':
      if (in.size() < 3) return Step{};
      st.Address = static_cast<std::uint32_t>(B(in, 1) * 256 + B(in, 2));
      return Answer(3, cr);
    case 'H':
      if (in.size() < 4) return Step{};
      st.Address = static_cast<std::uint32_t>((B(in, 1) << 16) | (B(in, 2) << 8) | B(in, 3));
      return Answer(4, cr);
    case 'B':
      return BlockWrite(in, st);
    case 'g':
      return BlockRead(in, st);
    case 'E': {
      Step s = Answer(1, cr);
      s.SwitchMode = true;
      return s;
    }
    default:
      return Answer(1, "?");
  }
}

}  // namespace unitsim
