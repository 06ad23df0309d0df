#include "editor/layout_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/valstr.h"

namespace editor {
namespace {

// The longest file any version can be: every text at its full 255 bytes.
// Nothing beyond it is ever read, so a huge or endless file costs nothing.
constexpr std::size_t kLongestFile = 1 + 5 + 6 * (1 + kMaxTextBytes) + kItemCodesNew + 4 * 2 +
                                     kSensorTables * kTableRows * 2 * (1 + kMaxTextBytes);

class ByteWriter {
 public:
  void Int8(int v) { bytes_.push_back(static_cast<char>(static_cast<std::uint8_t>(v & 0xFF))); }
  void Int16(int v) {
    Int8(v >> 8);
    Int8(v);
  }
  void PString(std::string_view text) {
    const std::string cut = CutText(text);
    Int8(static_cast<int>(cut.size()));
    bytes_ += cut;
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

// Every read checks the bytes left; once short, it returns 0 or an empty
// text and stays failed, so a field is whole exactly when the reader has not
// failed after it.
class ByteReader {
 public:
  explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
  bool Failed() const { return failed_; }

  int Byte() {
    if (!Have(1)) return 0;
    return static_cast<std::uint8_t>(bytes_[pos_++]);
  }
  int Int8() { return static_cast<std::int8_t>(static_cast<std::uint8_t>(Byte())); }
  int Int16() {
    if (!Have(2)) return 0;
    int high = Byte();
    int low = Byte();
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low));
  }
  std::string PString() {
    if (!Have(1)) return {};
    std::size_t length = static_cast<std::size_t>(Byte());
    if (!Have(length)) return {};
    std::string text(bytes_.substr(pos_, length));
    pos_ += length;
    return text;
  }

 private:
  bool Have(std::size_t n) {
    if (failed_ || bytes_.size() - pos_ < n) failed_ = true;
    return !failed_;
  }
  std::string_view bytes_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

const char* FieldName(int field) {
  switch (field) {
    case kFieldVersion:
      return "version";
    case kFieldSys:
      return "system";
    case kFieldMaps:
      return "map sensor";
    case kFieldPrest:
      return "pressure units";
    case kFieldVact:
      return "vacuum units";
    case kFieldAfr:
      return "wideband input";
    case kFieldWideband1Volts:
    case kFieldWideband1Afr:
    case kFieldWideband2Volts:
    case kFieldWideband2Afr:
      return "wideband settings";
    case kFieldLowTps:
    case kFieldHighTps:
      return "TPS settings";
    case kFieldItemCodes:
      return "page layout";
    case kFieldRpmWarning:
    case kFieldMapWarning:
    case kFieldIatWarning:
    case kFieldEctWarning:
      return "warnings";
    case kFieldO2Table:
      return "O2 input table";
    case kFieldEldTable:
      return "ELD input table";
    case kFieldEgrTable:
      return "EGR lift input table";
    default:
      return "B6 input table";
  }
}

void ReadTable(ByteReader& in, LayoutTable& table) {
  for (auto& row : table) {
    row[0] = in.PString();
    row[1] = in.PString();
  }
}

// Reads one field into the layout; the caller checks the reader afterwards.
void ReadField(ByteReader& in, int field, Layout& l) {
  switch (field) {
    case kFieldVersion:
      l.version = in.Int8();
      break;
    case kFieldSys:
      l.sys = in.Int8();
      break;
    case kFieldMaps:
      l.maps = in.Int8();
      break;
    case kFieldPrest:
      l.prest = in.Int8();
      break;
    case kFieldVact:
      l.vact = in.Int8();
      break;
    case kFieldAfr:
      l.afr = in.Int8();
      break;
    case kFieldWideband1Volts:
      l.wideband[0][0] = in.PString();
      break;
    case kFieldWideband1Afr:
      l.wideband[0][1] = in.PString();
      break;
    case kFieldWideband2Volts:
      l.wideband[1][0] = in.PString();
      break;
    case kFieldWideband2Afr:
      l.wideband[1][1] = in.PString();
      break;
    case kFieldLowTps:
      l.lowTps = in.PString();
      break;
    case kFieldHighTps:
      l.highTps = in.PString();
      break;
    case kFieldItemCodes: {
      // Stored signed, but the codes are unsigned: 200 goes out as -56 and
      // must come back as 200. Read into a copy so a short field leaves the
      // codes untouched.
      auto codes = l.opt;
      for (int i = 1; i <= ItemCodeCount(l.version); ++i) codes[i] = in.Byte();
      if (!in.Failed()) l.opt = codes;
      break;
    }
    case kFieldRpmWarning:
      l.rpmw = in.Int16();
      break;
    case kFieldMapWarning:
      l.mapw = in.Int16();
      break;
    case kFieldIatWarning:
      l.iatw = in.Int16();
      break;
    case kFieldEctWarning:
      l.ectw = in.Int16();
      break;
    default: {
      LayoutTable table;
      ReadTable(in, table);
      if (!in.Failed()) l.tables[field - kFieldO2Table] = table;
      break;
    }
  }
}

}  // namespace

std::string CutText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  std::size_t end = maxBytes;
  // Step back over continuation bytes (10xxxxxx) to the start of the
  // character that would be split; at most three of them in UTF-8.
  std::size_t steps = 0;
  while (end > 0 && steps < 3 && (static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80)
    --end, ++steps;
  if ((static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80)
    end = maxBytes;  // not UTF-8: cut at the byte
  return std::string(text.substr(0, end));
}

int WarningValue(std::string_view text) {
  double v = std::trunc(platform::Val(text));
  if (std::isnan(v)) return 0;
  v = std::clamp(v, static_cast<double>(std::numeric_limits<std::int16_t>::min()),
                 static_cast<double>(std::numeric_limits<std::int16_t>::max()));
  return static_cast<int>(v);
}

std::string EncodeLayout(const Layout& l) {
  ByteWriter out;
  out.Int8(kLayoutVersionWritten);
  out.Int8(l.sys);
  out.Int8(l.maps);
  out.Int8(l.prest);
  out.Int8(l.vact);
  out.Int8(l.afr);
  out.PString(l.wideband[0][0]);
  out.PString(l.wideband[0][1]);
  out.PString(l.wideband[1][0]);
  out.PString(l.wideband[1][1]);
  out.PString(l.lowTps);
  out.PString(l.highTps);
  for (int i = 1; i <= kItemCodesNew; ++i) out.Int8(l.opt[i]);
  out.Int16(l.rpmw);
  out.Int16(l.mapw);
  out.Int16(l.iatw);
  out.Int16(l.ectw);
  for (const auto& table : l.tables) {
    for (const auto& row : table) {
      out.PString(row[0]);
      out.PString(row[1]);
    }
  }
  return out.Take();
}

LayoutRead DecodeLayout(std::string_view bytes) {
  LayoutRead r;
  ByteReader in(bytes);
  int last = kLastField;
  for (int field = kFieldVersion; field <= last; ++field) {
    ReadField(in, field, r.layout);
    if (in.Failed()) {
      r.damaged = true;
      r.error = std::string("The file ends in the middle of the ") + FieldName(field) + ".";
      if (field == kFieldVersion) r.error = "The file is empty.";
      break;
    }
    r.fieldsRead = field;
    if (field == kFieldVersion) last = LastFieldOf(r.layout.version);
  }
  return r;
}

LayoutRead LoadLayoutFile(const std::string& path) {
  LayoutRead r;
  std::string bytes(kLongestFile, '\0');
  std::FILE* file = std::fopen(path.c_str(), "rb");
  std::size_t got = 0;
  int err = 0;
  if (!file) {
    err = errno ? errno : ENOENT;
  } else {
    got = std::fread(bytes.data(), 1, bytes.size(), file);
    if (std::ferror(file)) err = errno ? errno : EIO;
    std::fclose(file);
  }
  if (!file || err) {
    r.unreadable = true;
    r.error = std::generic_category().message(err);
    return r;
  }
  bytes.resize(got);
  return DecodeLayout(bytes);
}

bool SaveLayoutFile(const std::string& path, const Layout& layout, std::string* error) {
  return platform::WriteFileAtomic(path, EncodeLayout(layout), error);
}

}  // namespace editor
