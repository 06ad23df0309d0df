#include "unit/command_set.h"

#include <algorithm>

#include "unit/wire_fields.h"

namespace unit {

namespace {

QueuedRequest Ok(std::string text) {
  return QueuedRequest{PacketTypeOK, std::move(text)};
}

// A write: its letters, then one byte per payload field.
QueuedRequest Ok(std::string_view letters, std::initializer_list<std::uint8_t> payload) {
  std::string text(letters);
  for (std::uint8_t b : payload) PutByte(text, b);
  return Ok(std::move(text));
}

constexpr std::uint8_t High(std::uint16_t w) {
  return static_cast<std::uint8_t>(w >> 8);
}
constexpr std::uint8_t Low(std::uint16_t w) {
  return static_cast<std::uint8_t>(w & 0xFF);
}

}  // namespace

const ReadCommand* FindRead(char letter) {
  auto it = std::find_if(kFullRead.begin(), kFullRead.end(),
                         [letter](const ReadCommand& r) { return r.Letter == letter; });
  return it == kFullRead.end() ? nullptr : &*it;
}

QueuedRequest ReadRequest(char letter) {
  return QueuedRequest{PacketTypeRead, std::string("r") + letter};
}

std::vector<QueuedRequest> FullReadRequests() {
  std::vector<QueuedRequest> out;
  for (const ReadCommand& r : kFullRead)
    out.push_back(QueuedRequest{PacketTypeRead, std::string(r.Text)});
  return out;
}

QueuedRequest WriteItem(int placeNumber, int code) {
  return Ok("we", {ByteField(placeNumber), ByteField(code)});
}

QueuedRequest WriteSystem(int sysIndex, int startPageIndex, bool progstyle) {
  return Ok("wt", {SelectionByte(sysIndex), StartPageByte(startPageIndex), FlagByte(progstyle)});
}

QueuedRequest WriteLogSpeed(int sliderValue) {
  return Ok("wd", {ByteField(sliderValue)});
}

QueuedRequest WriteMapSensor(int mapsIndex) {
  return Ok("wm", {SelectionByte(mapsIndex)});
}

QueuedRequest WritePressureUnits(int vactIndex, int prestIndex) {
  return Ok("wp", {SelectionByte(vactIndex), SelectionByte(prestIndex)});
}

QueuedRequest WriteUnits(bool celsius, bool kph) {
  return Ok("wc", {FlagByte(celsius), FlagByte(kph)});
}

QueuedRequest WriteThrottle(double closedVolts, double wotVolts) {
  return Ok("wh", {VoltByte(closedVolts), VoltByte(wotVolts)});
}

QueuedRequest WriteWideband(int row, double volts, double ratio) {
  return Ok(row == 0 ? "ww" : "wx", {VoltByte(volts), TenthsByte(ratio)});
}

QueuedRequest WriteWidebandInput(int afrIndex, bool demon) {
  return Ok("wi", {SelectionByte(afrIndex), FlagByte(demon)});
}

QueuedRequest WriteRpmLimit(double rpm) {
  std::uint16_t w = WordField(rpm);
  return Ok("wa", {1, High(w), Low(w)});
}

QueuedRequest WriteTempLimit(int which, int fahrenheit) {
  return Ok("wa", {ByteField(which), ByteField(fahrenheit), 0});
}

QueuedRequest WriteMapLimit(double mbar) {
  std::uint16_t w = WordField(mbar);
  return Ok("wa", {3, High(w), Low(w)});
}

QueuedRequest WriteTableVolts(int table, int row, double volts) {
  return Ok("s", {ByteField(table), ByteField(row), VoltByte(volts), 0});
}

QueuedRequest WriteTableValue(int table, int row, double value) {
  std::uint16_t w = TenthsWord(value);
  return Ok("s", {ByteField(table + 4), ByteField(row), High(w), Low(w)});
}

QueuedRequest WriteTableName(int table, std::string_view utf8Name) {
  std::string text = "s";
  PutByte(text, ByteField(table + 8));
  text += NameBytes(utf8Name);
  return Ok(text);
}

QueuedRequest WriteTableDecimals(int pair, bool first, bool second) {
  return Ok("s", {ByteField(13 + pair), FlagByte(first), FlagByte(second)});
}

QueuedRequest WriteAnInput(int input, const TableData& in) {
  std::string text = "wz";
  PutByte(text, ByteField(input));
  for (int r = 0; r < kTableRows; ++r) {
    PutByte(text, VoltByte(in.Volts[r]));
    PutWord(text, TenthsWord(in.Values[r]));
  }
  text += NameBytes(in.Name);
  PutByte(text, FlagByte(in.Decimals));
  return Ok(text);
}

}  // namespace unit
