#include "unit/reply_decode.h"

#include "platform/valstr.h"
#include "unit/conversions.h"
#include "unit/wire_fields.h"

namespace unit {

namespace {

// Reads a payload field by field; a read past the end yields 0 and marks the
// reader failed, so a decoder reads its whole layout and tests once.
class ByteReader {
 public:
  explicit ByteReader(std::string_view data) : data_(data) {}
  int Byte() {
    if (pos_ >= data_.size()) {
      failed_ = true;
      return 0;
    }
    return static_cast<unsigned char>(data_[pos_++]);
  }
  int Word() {
    int high = Byte();
    return high * 256 + Byte();
  }
  std::string_view Bytes(std::size_t n) {
    if (data_.size() - pos_ < n) {
      failed_ = true;
      pos_ = data_.size();
      return {};
    }
    std::string_view out = data_.substr(pos_, n);
    pos_ += n;
    return out;
  }
  bool Ok() const { return !failed_; }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// The payload must have exactly the length of its letter's reply.
bool Sized(char letter, std::string_view payload) {
  const ReadCommand* r = FindRead(letter);
  return r && payload.size() == static_cast<std::size_t>(r->PayloadBytes());
}

template <typename T>
std::optional<T> Done(const ByteReader& in, T value) {
  if (!in.Ok()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<SystemReply> DecodeSystem(std::string_view payload) {
  if (!Sized('t', payload)) return std::nullopt;
  ByteReader in(payload);
  SystemReply r;
  r.Sys = in.Byte() - 1;
  r.StPage = in.Byte() - 2;
  r.progstyle = in.Byte() != 0;
  return Done(in, r);
}

std::optional<int> DecodeLogSpeed(std::string_view payload) {
  if (!Sized('d', payload)) return std::nullopt;
  ByteReader in(payload);
  int value = in.Byte();
  return Done(in, value);
}

std::optional<int> DecodeMapSensor(std::string_view payload) {
  if (!Sized('m', payload)) return std::nullopt;
  ByteReader in(payload);
  int index = in.Byte() - 1;
  return Done(in, index);
}

std::optional<PressureUnitsReply> DecodePressureUnits(std::string_view payload) {
  if (!Sized('p', payload)) return std::nullopt;
  ByteReader in(payload);
  PressureUnitsReply r;
  r.vact = in.Byte() - 1;
  r.prest = in.Byte() - 1;
  return Done(in, r);
}

std::optional<UnitsReply> DecodeUnits(std::string_view payload) {
  if (!Sized('c', payload)) return std::nullopt;
  ByteReader in(payload);
  UnitsReply r;
  r.usecelsius = in.Byte() != 0;
  r.usekph = in.Byte() != 0;
  return Done(in, r);
}

std::optional<WidebandReply> DecodeWideband(std::string_view payload) {
  if (!Sized('w', payload)) return std::nullopt;
  ByteReader in(payload);
  WidebandReply r;
  r.WList[0][0] = VoltsShown(in.Byte());
  r.WList[1][0] = VoltsShown(in.Byte());
  r.WList[0][1] = TenthsShown(in.Byte());
  r.WList[1][1] = TenthsShown(in.Byte());
  in.Byte();  // the fifth byte means nothing to the window
  return Done(in, r);
}

std::optional<WidebandInputReply> DecodeWidebandInput(std::string_view payload) {
  if (!Sized('i', payload)) return std::nullopt;
  ByteReader in(payload);
  WidebandInputReply r;
  r.afrlist = in.Byte() - 1;
  int flag = in.Byte();
  r.demon = flag == 1;
  r.WriteBack = flag == 255;
  return Done(in, r);
}

std::optional<ThrottleReply> DecodeThrottle(std::string_view payload) {
  if (!Sized('h', payload)) return std::nullopt;
  ByteReader in(payload);
  ThrottleReply r;
  r.ltps = VoltsShown(in.Byte());
  r.utps = VoltsShown(in.Byte());
  return Done(in, r);
}

std::optional<std::array<int, kPlaces + 1>> DecodeItems(std::string_view payload) {
  if (!Sized('e', payload)) return std::nullopt;
  ByteReader in(payload);
  std::array<int, kPlaces + 1> codes{};
  for (int i = 1; i <= kPlaces; ++i) codes[i] = in.Byte();
  return Done(in, codes);
}

std::optional<LimitsReply> DecodeLimits(std::string_view payload) {
  if (!Sized('a', payload)) return std::nullopt;
  ByteReader in(payload);
  LimitsReply r;
  r.rpm = in.Word();
  r.ectF = in.Byte();
  r.mapMbar = in.Word();
  r.iatF = in.Byte();
  return Done(in, r);
}

LimitTexts ShownLimits(const LimitsReply& limits, bool celsius, bool psi) {
  using platform::Str;
  LimitTexts t;
  t.rpmw = Str(limits.rpm);
  t.ectw = Str(Spec::FtoC(limits.ectF, celsius));
  t.mapw = psi ? Str(Spec::mBarToPSI(limits.mapMbar)) : Str(limits.mapMbar);
  t.iatw = Str(Spec::FtoC(limits.iatF, celsius));
  return t;
}

namespace {

// A main table in the "s"/"u" layout: 15 volt bytes, then 15 tenths words.
TableData ReadMainTable(ByteReader& in) {
  TableData t;
  for (int r = 0; r < kTableRows; ++r) t.Volts[r] = VoltsShown(in.Byte());
  for (int r = 0; r < kTableRows; ++r) t.Values[r] = TenthsShown(in.Word());
  return t;
}

// An AN table in the "wz" layout: rows of a volt byte and a tenths word, then
// the name and the flag.
TableData ReadAnBlock(ByteReader& in) {
  TableData t;
  for (int r = 0; r < kTableRows; ++r) {
    t.Volts[r] = VoltsShown(in.Byte());
    t.Values[r] = TenthsShown(in.Word());
  }
  t.Name = NameText(in.Bytes(kNameBytes));
  t.Decimals = in.Byte() != 0;
  return t;
}

}  // namespace

std::optional<MainTablesReply> DecodeMainTables(char letter, std::string_view payload) {
  if ((letter != 's' && letter != 'u') || !Sized(letter, payload)) return std::nullopt;
  ByteReader in(payload);
  MainTablesReply r;
  r.Tables[0] = ReadMainTable(in);
  r.Tables[1] = ReadMainTable(in);
  r.HasNames = letter == 's';
  if (r.HasNames) {
    for (int j = 0; j < 4; ++j) {
      r.Names[j] = NameText(in.Bytes(kNameBytes));
      r.Decimals[j] = in.Byte() != 0;
    }
  }
  return Done(in, r);
}

std::optional<std::array<TableData, kAnInputs>> DecodeAnInputs(std::string_view payload) {
  if (!Sized('z', payload)) return std::nullopt;
  ByteReader in(payload);
  std::array<TableData, kAnInputs> inputs;
  for (TableData& t : inputs) t = ReadAnBlock(in);
  return Done(in, inputs);
}

}  // namespace unit
