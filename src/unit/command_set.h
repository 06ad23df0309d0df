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
#include "unit/queued_request.h"

namespace unit {

// Requests of the settings exchange. The keypad's, the bootloader's and the
// firmware update's own requests live with them (keypad.h, firmware_update.h).
inline const QueuedRequest kHello{PacketTypeHello, "VV"};
inline const QueuedRequest kItemsDone{PacketTypeOK, "weee"};
inline const QueuedRequest kTablesDone{PacketTypeOK, "sssssss"};
inline const QueuedRequest kInputsDone{PacketTypeOK, "wzs"};

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
QueuedRequest ReadRequest(char letter);
// The thirteen read requests in order.
std::vector<QueuedRequest> FullReadRequests();

// --- Writes (all acknowledged by "O") -----------------------------------------
inline constexpr int kPlaces = 56;     // 7 pages x 8 places
inline constexpr int kTableRows = 15;  // rows of every sensor table
inline constexpr int kMainTables = 4;  // O2, ELD, EGR, B6
inline constexpr int kAnInputs = 5;    // AN1..AN5

// Place number 1..56 of page p (0..6), place s (0..7).
constexpr int PlaceNumber(int page, int place) {
  return page * 8 + place + 1;
}

QueuedRequest WriteItem(int placeNumber, int code);                           // "we"
QueuedRequest WriteSystem(int sysIndex, int startPageIndex, bool progstyle);  // "wt"
QueuedRequest WriteLogSpeed(int sliderValue);                                 // "wd"
QueuedRequest WriteMapSensor(int mapsIndex);                                  // "wm"
QueuedRequest WritePressureUnits(int vactIndex, int prestIndex);              // "wp"
QueuedRequest WriteUnits(bool celsius, bool kph);                             // "wc"
QueuedRequest WriteThrottle(double closedVolts, double wotVolts);             // "wh"
QueuedRequest WriteWideband(int row, double volts, double ratio);             // "ww" / "wx"
QueuedRequest WriteWidebandInput(int afrIndex, bool demon);                   // "wi"
QueuedRequest WriteRpmLimit(double rpm);                                      // "wa" 1
QueuedRequest WriteTempLimit(int which, int fahrenheit);                      // "wa" 2 / 4
QueuedRequest WriteMapLimit(double mbar);                                     // "wa" 3
inline constexpr int kCoolantLimit = 2;
inline constexpr int kIntakeLimit = 4;
// Main sensor tables: t = 1..4 (O2, ELD, EGR, B6).
QueuedRequest WriteTableVolts(int table, int row, double volts);     // "s" 1..4
QueuedRequest WriteTableValue(int table, int row, double value);     // "s" 5..8
QueuedRequest WriteTableName(int table, std::string_view utf8Name);  // "s" 9..12
// "Show Decimals" of tables 1 and 2 (pair 0, byte 13) or 3 and 4 (pair 1, byte 14).
QueuedRequest WriteTableDecimals(int pair, bool first, bool second);

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
QueuedRequest WriteAnInput(int input, const TableData& in);  // "wz" n

}  // namespace unit
