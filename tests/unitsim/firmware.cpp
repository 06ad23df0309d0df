#include <algorithm>

#include "unitsim/unit_logic.h"

namespace unitsim {
namespace {
std::uint8_t B(std::string_view in, std::size_t i) {
  return static_cast<std::uint8_t>(in[i]);
}
std::uint16_t Word(std::string_view in, std::size_t i) {
  return static_cast<std::uint16_t>(B(in, i) * 256 + B(in, i + 1));
}
void PutWord(std::string& out, std::uint16_t w) {
  out.push_back(static_cast<char>(w >> 8));
  out.push_back(static_cast<char>(w & 0xFF));
}
void PutTable(std::string& out, const SensorTable& t) {
  for (auto v : t.Volt) out.push_back(static_cast<char>(v));
  for (auto v : t.Value) PutWord(out, v);
}
void PutLabel(std::string& out, const SensorLabel& l) {
  out.append(l.Name.data(), 3);
  out.push_back(static_cast<char>(l.Decimals));
}

Step Whole(std::size_t n, std::string reply = "O") {
  Step s;
  s.Consumed = n;
  s.Request = true;
  s.Reply = std::move(reply);
  return s;
}
Step Need() {
  return Step{};
}
Step Noise() {
  Step s;
  s.Consumed = 1;
  return s;
}

// "wa": warning limits, one selector byte then three bytes.
void ApplyWarning(std::string_view in, UnitSettings& s) {
  switch (B(in, 2)) {
    case 1:
      s.RpmWarn = Word(in, 3);
      break;
    case 2:
      s.EctWarn = B(in, 3);
      break;
    case 3:
      s.MapWarn = Word(in, 3);
      break;
    case 4:
      s.IatWarn = B(in, 3);
      break;
    default:
      break;
  }
}

// "s" k ...: one row or label of the main sensor tables.
void ApplySensor(std::string_view in, UnitSettings& s) {
  const int k = B(in, 1);
  if (k >= 1 && k <= 8) {
    const int row = B(in, 2);
    if (row > 14) return;
    if (k <= 4) {
      s.Main[static_cast<std::size_t>(k - 1)].Volt[static_cast<std::size_t>(row)] = B(in, 3);
    } else {
      s.Main[static_cast<std::size_t>(k - 5)].Value[static_cast<std::size_t>(row)] = Word(in, 3);
    }
  } else if (k >= 9 && k <= 12) {
    auto& name = s.MainLabel[static_cast<std::size_t>(k - 9)].Name;
    std::copy_n(in.begin() + 2, 3, name.begin());
  } else if (k == 13 || k == 14) {
    const std::size_t first = k == 13 ? 0 : 2;
    s.MainLabel[first].Decimals = B(in, 2);
    s.MainLabel[first + 1].Decimals = B(in, 3);
  }
}

// "wz" n + 49-byte block.
void ApplyAnalog(std::string_view in, UnitSettings& s) {
  const int n = B(in, 2);
  if (n < 1 || n > 5) return;
  AnalogInput& a = s.An[static_cast<std::size_t>(n - 1)];
  for (std::size_t r = 0; r < 15; ++r) {
    a.Table.Volt[r] = B(in, 3 + 3 * r);
    a.Table.Value[r] = Word(in, 4 + 3 * r);
  }
  std::copy_n(in.begin() + 48, 3, a.Label.Name.begin());
  a.Label.Decimals = B(in, 51);
}

Step Write(std::string_view in, UnitSettings& s) {
  if (in.size() < 2) return Need();
  const char what = in[1];
  // Requests whose length depends on their third byte.
  if (what == 'e') {
    if (in.size() < 3) return Need();
    if (in[2] == 'e') {
      if (in.size() < 4) return Need();
      if (in[3] != 'e') return Noise();
      ++s.ItemCommits;
      return Whole(4);
    }
    if (in.size() < 4) return Need();
    const int place = B(in, 2);
    if (place >= 1 && place <= 56) s.Items[static_cast<std::size_t>(place - 1)] = B(in, 3);
    return Whole(4);
  }
  if (what == 'z') {
    if (in.size() < 3) return Need();
    if (in[2] == 's') {
      ++s.AnalogCommits;
      return Whole(3);
    }
    if (in.size() < 52) return Need();
    ApplyAnalog(in, s);
    return Whole(52);
  }
  std::size_t length = 0;
  switch (what) {
    case 't':
    case 'a':
      length = 5;
      break;
    case 'd':
    case 'm':
      length = 3;
      break;
    case 'p':
    case 'c':
    case 'h':
    case 'w':
    case 'x':
    case 'i':
      length = 4;
      break;
    default:
      return Noise();
  }
  if (in.size() < length) return Need();
  switch (what) {
    case 't':
      s.Sys = B(in, 2);
      s.StartPage = B(in, 3);
      s.ProgStyle = B(in, 4);
      break;
    case 'd':
      s.Dimmer = B(in, 2);
      break;
    case 'm':
      s.Maps = B(in, 2);
      break;
    case 'p':
      s.Vact = B(in, 2);
      s.Prest = B(in, 3);
      break;
    case 'c':
      s.Celsius = B(in, 2);
      s.Kph = B(in, 3);
      break;
    case 'h':
      s.TpsLow = B(in, 2);
      s.TpsHigh = B(in, 3);
      break;
    case 'w':
    case 'x': {
      const std::size_t row = what == 'w' ? 0 : 1;
      s.WidebandVolt[row] = B(in, 2);
      s.WidebandAfr[row] = B(in, 3);
      break;
    }
    case 'i':
      s.Afr = B(in, 2);
      s.Demo = B(in, 3);
      break;
    case 'a':
      ApplyWarning(in, s);
      break;
    default:
      break;
  }
  return Whole(length);
}

Step Sensor(std::string_view in, UnitSettings& s) {
  if (in.size() < 2) return Need();
  if (in[1] == 's') {
    if (in.size() < 7) return Need();
    if (in.substr(0, 7) != "sssssss") return Noise();
    ++s.SensorCommits;
    return Whole(7);
  }
  const int k = B(in, 1);
  const std::size_t length = (k == 13 || k == 14) ? 4 : 5;
  if (k < 1 || k > 14) return Noise();
  if (in.size() < length) return Need();
  ApplySensor(in, s);
  return Whole(length);
}
}  // namespace

std::string ReadReply(char letter, const UnitSettings& s) {
  std::string out(1, letter);
  auto put = [&out](int v) { out.push_back(static_cast<char>(v)); };
  switch (letter) {
    case 't':
      put(s.Sys);
      put(s.StartPage + 2);
      put(s.ProgStyle);
      break;
    case 'd':
      put(s.Dimmer);
      break;
    case 'm':
      put(s.Maps);
      break;
    case 'p':
      put(s.Vact);
      put(s.Prest);
      break;
    case 'c':
      put(s.Celsius);
      put(s.Kph);
      break;
    case 'w':
      put(s.WidebandVolt[0]);
      put(s.WidebandVolt[1]);
      put(s.WidebandAfr[0]);
      put(s.WidebandAfr[1]);
      put(s.WidebandSpare);
      break;
    case 'i':
      put(s.Afr);
      put(s.Demo);
      break;
    case 'h':
      put(s.TpsLow);
      put(s.TpsHigh);
      break;
    case 'e':
      for (auto code : s.Items) put(code);
      break;
    case 'a':
      PutWord(out, s.RpmWarn);
      put(s.EctWarn);
      PutWord(out, s.MapWarn);
      put(s.IatWarn);
      break;
    case 's':
      PutTable(out, s.Main[0]);
      PutTable(out, s.Main[1]);
      for (const auto& label : s.MainLabel) PutLabel(out, label);
      break;
    case 'u':
      PutTable(out, s.Main[2]);
      PutTable(out, s.Main[3]);
      break;
    case 'z':
      for (const auto& a : s.An) {
        for (std::size_t r = 0; r < 15; ++r) {
          put(a.Table.Volt[r]);
          PutWord(out, a.Table.Value[r]);
        }
        PutLabel(out, a.Label);
      }
      break;
    default:
      return std::string();
  }
  return out;
}

const char* KeyName(std::string_view request) {
  if (request == "<<") return "left";
  if (request == ">>") return "right";
  if (request == "++") return "up";
  if (request == "--") return "down";
  if (request == "==") return "E";
  return nullptr;
}

Step FirmwareTake(std::string_view in, bool quiet, UnitSettings& settings, int revision) {
  if (in.empty()) return Need();
  const char c = in[0];
  switch (c) {
    case 'V': {
      // "VV" is the hello; a lone "V" (sent after the escapes, in case the
      // firmware rather than the bootloader is listening) gets the same answer.
      if (in.size() < 2 && !quiet) return Need();
      std::string hello = "NM";
      hello.push_back(static_cast<char>(revision));
      return Whole(in.size() >= 2 && in[1] == 'V' ? 2 : 1, hello);
    }
    case 27:
      if (in.size() < 2) return quiet ? Noise() : Need();
      if (in[1] != 27) return Noise();
      {
        Step s = Whole(2);
        s.SwitchMode = true;
        return s;
      }
    case '<':
    case '>':
    case '+':
    case '-':
    case '=':
    case '0':
      if (in.size() < 2) return Need();
      if (in[1] != c) return Noise();
      return Whole(2);
    case 'r': {
      if (in.size() < 2) return Need();
      std::string reply = ReadReply(in[1], settings);
      if (reply.empty()) return Noise();
      return Whole(2, reply);
    }
    case 'w':
      return Write(in, settings);
    case 's':
      return Sensor(in, settings);
    default:
      return Noise();
  }
}

UnitSettings UnitSettings::Defaults() {
  UnitSettings s;
  // Page 1 shows the first eight small items; the other pages are empty.
  for (std::size_t i = 0; i < 8; ++i) s.Items[i] = static_cast<std::uint8_t>(i + 1);
  auto ramp = [](SensorTable& t, int step) {
    for (std::size_t r = 0; r < 15; ++r) {
      t.Volt[r] = static_cast<std::uint8_t>(r * 18);
      t.Value[r] = static_cast<std::uint16_t>(r * static_cast<std::size_t>(step));
    }
  };
  const char* mainNames[4] = {"O2 ", "ELD", "EGR", "B6 "};
  for (std::size_t k = 0; k < 4; ++k) {
    ramp(s.Main[k], 10 * static_cast<int>(k + 1));
    std::copy_n(mainNames[k], 3, s.MainLabel[k].Name.begin());
  }
  for (std::size_t n = 0; n < 5; ++n) {
    ramp(s.An[n].Table, 100);
    s.An[n].Label.Name = {'A', 'N', static_cast<char>('1' + n)};
    s.An[n].Label.Decimals = 1;
  }
  return s;
}

}  // namespace unitsim
