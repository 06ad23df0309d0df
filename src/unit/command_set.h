#pragma once
// The unit's command set, written once: every request's bytes and packet type,
// and for every read its reply length. The request builders are pure; the
// window queues what they return on its link.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/packet.h"

namespace unit {

// One request as it is queued: the packet type and the bytes sent unchanged.
struct Request {
  int Type = PacketTypeOK;
  std::string Final;
  bool operator==(const Request&) const = default;
};

// --- Requests without payload ---------------------------------------------
inline const Request kHello{PacketTypeHello, "VV"};
inline const Request kEnterBootloader{PacketTypeOK, std::string("\x1b\x1b", 2)};
inline const Request kBootloaderHello{PacketTypeHello, "V"};
inline const Request kChipErase{PacketTypeCR, "e"};
inline const Request kExitBootloader{PacketTypeCR, "E"};
inline const Request kKeyLeft{PacketTypeOK, "<<"};
inline const Request kKeyRight{PacketTypeOK, ">>"};
inline const Request kKeyUp{PacketTypeOK, "++"};
inline const Request kKeyDown{PacketTypeOK, "--"};
inline const Request kKeyEnter{PacketTypeOK, "=="};
inline const Request kPreview{PacketTypeOK, "00"};
inline const Request kItemsDone{PacketTypeOK, "weee"};
inline const Request kTablesDone{PacketTypeOK, "sssssss"};
inline const Request kInputsDone{PacketTypeOK, "wzs"};

// Firmware blocks of 256 bytes through the bootloader: the word address of
// block n (n x 128), then the block itself (length, "F", the bytes).
inline constexpr int kBootBlockBytes = 256;
Request BootAddress(int block);             // "A"
Request BootBlock(std::string_view bytes);  // "B"; at most kBootBlockBytes are taken

// --- Reads ------------------------------------------------------------------
// A read is "r" + its letter; the reply is the letter + a fixed payload.
struct ReadCommand {
  char Letter;
  int ReplyBytes;  // letter included
  std::string_view Text;
  int PayloadBytes() const { return ReplyBytes - 1; }
};

// The thirteen reads of a full settings read, in the order they are queued.
// "t" must come before "e": the system chosen by "t" decides which items the
// place pop-ups offer when the codes of "e" are selected in them.
inline constexpr std::array<ReadCommand, 13> kFullRead{{
    {'t', 4, "rt"},
    {'d', 2, "rd"},
    {'m', 2, "rm"},
    {'p', 3, "rp"},
    {'c', 3, "rc"},
    {'w', 6, "rw"},
    {'i', 3, "ri"},
    {'h', 3, "rh"},
    {'e', 57, "re"},
    {'a', 7, "ra"},
    {'s', 107, "rs"},
    {'u', 91, "ru"},
    {'z', 246, "rz"},
}};

// The read of one letter, or nullptr when the window never reads that letter.
const ReadCommand* FindRead(char letter);
Request ReadRequest(char letter);
// The thirteen read requests in order.
std::vector<Request> FullReadRequests();

// --- Writes (all acknowledged by "O") -----------------------------------------
inline constexpr int kPlaces = 56;     // 7 pages x 8 places
inline constexpr int kTableRows = 15;  // rows of every sensor table
inline constexpr int kMainTables = 4;  // O2, ELD, EGR, B6
inline constexpr int kAnInputs = 5;    // AN1..AN5

// Place number 1..56 of page p (0..6), place s (0..7).
constexpr int PlaceNumber(int page, int place) {
  return page * 8 + place + 1;
}

Request WriteItem(int placeNumber, int code);                           // "we"
Request WriteSystem(int sysIndex, int startPageIndex, bool progstyle);  // "wt"
Request WriteLogSpeed(int sliderValue);                                 // "wd"
Request WriteMapSensor(int mapsIndex);                                  // "wm"
Request WritePressureUnits(int vactIndex, int prestIndex);              // "wp"
Request WriteUnits(bool celsius, bool kph);                             // "wc"
Request WriteThrottle(double closedVolts, double wotVolts);             // "wh"
Request WriteWideband(int row, double volts, double ratio);             // "ww" / "wx"
Request WriteWidebandInput(int afrIndex, bool demon);                   // "wi"
Request WriteRpmLimit(double rpm);                                      // "wa" 1
Request WriteTempLimit(int which, int fahrenheit);                      // "wa" 2 / 4
Request WriteMapLimit(double mbar);                                     // "wa" 3
inline constexpr int kCoolantLimit = 2;
inline constexpr int kIntakeLimit = 4;
// Main sensor tables: t = 1..4 (O2, ELD, EGR, B6).
Request WriteTableVolts(int table, int row, double volts);     // "s" 1..4
Request WriteTableValue(int table, int row, double value);     // "s" 5..8
Request WriteTableName(int table, std::string_view utf8Name);  // "s" 9..12
// "Show Decimals" of tables 1 and 2 (pair 0, byte 13) or 3 and 4 (pair 1, byte 14).
Request WriteTableDecimals(int pair, bool first, bool second);

// One sensor table as the window holds it: 15 rows of volts and real values,
// the name field's text and "Show Decimals". The main tables' names and flags
// travel in their own "s" requests, an AN input's inside its "wz" block.
struct TableData {
  std::array<double, kTableRows> Volts{};
  std::array<double, kTableRows> Values{};
  std::string Name;  // UTF-8 text of the name field
  bool Decimals = false;
  bool operator==(const TableData&) const = default;
};
inline constexpr int kAnBlockBytes = 49;
Request WriteAnInput(int input, const TableData& in);  // "wz" n

}  // namespace unit
