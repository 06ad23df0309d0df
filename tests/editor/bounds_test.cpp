#include "editor/bounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/valstr.h"
#include "unit/conversions.h"
#include "unit/reply_decode.h"
#include "unit/write_sequence.h"

namespace editor {
namespace {

using std::nullopt;

TEST(CellBounds, VoltColumn) {
  for (auto kind : {TableKind::Sensor, TableKind::Wideband}) {
    EXPECT_EQ(CellBoundedText("5", 0, kind), nullopt);
    EXPECT_EQ(CellBoundedText("0", 0, kind), nullopt);
    EXPECT_EQ(CellBoundedText("2.347", 0, kind), nullopt);
    EXPECT_EQ(CellBoundedText("5.01", 0, kind), "5");
    EXPECT_EQ(CellBoundedText("-0.1", 0, kind), "0");
    EXPECT_EQ(CellBoundedText("12abc", 0, kind), "5");
    EXPECT_EQ(CellBoundedText("", 0, kind), nullopt);
    EXPECT_EQ(CellBoundedText("volts", 0, kind), nullopt);
    // A vanishingly small number is about 0 and stays as typed.
    EXPECT_EQ(CellBoundedText("1e-400", 0, kind), nullopt);
    EXPECT_EQ(CellBoundedText("1e400", 0, kind), "5");
  }
}

TEST(CellBounds, ValueColumnBySortOfTable) {
  EXPECT_EQ(CellBoundedText("3200", 1, TableKind::Sensor), nullopt);
  EXPECT_EQ(CellBoundedText("3200.5", 1, TableKind::Sensor), "3200");
  EXPECT_EQ(CellBoundedText("10000", 1, TableKind::Sensor), "3200");
  EXPECT_EQ(CellBoundedText("-1", 1, TableKind::Sensor), "0");
  EXPECT_EQ(CellBoundedText("25.5", 1, TableKind::Wideband), nullopt);
  EXPECT_EQ(CellBoundedText("25.6", 1, TableKind::Wideband), "25.5");
  EXPECT_EQ(CellBoundedText("30", 1, TableKind::Wideband), "25.5");
  EXPECT_EQ(CellBoundedText("-3", 1, TableKind::Wideband), "0");
  EXPECT_EQ(CellBoundedText("99999", 2, TableKind::Sensor), nullopt);
}

TEST(WarningBounds, RpmMapAndTemperaturesInEachUnit) {
  EXPECT_EQ(BoundedText("16000", kRpmWarningBound), nullopt);
  EXPECT_EQ(BoundedText("16001", kRpmWarningBound), "16000");
  EXPECT_EQ(BoundedText("-5", kRpmWarningBound), "0");
  EXPECT_EQ(BoundedText("", kRpmWarningBound), nullopt);
  EXPECT_EQ(BoundedText("20000", kMapMbarWarningBound), "16000");
  EXPECT_EQ(BoundedText("-14.8", kMapPsiWarningBound), "-14.7");
  EXPECT_EQ(BoundedText("217.4", kMapPsiWarningBound), nullopt);
  EXPECT_EQ(BoundedText("217.5", kMapPsiWarningBound), "217.4");
  EXPECT_EQ(BoundedText("2000", kMapPsiWarningBound), "217.4");
  EXPECT_EQ(BoundedText("250", kTempFahrenheitWarningBound), nullopt);
  EXPECT_EQ(BoundedText("250.5", kTempFahrenheitWarningBound), "250");
  EXPECT_EQ(BoundedText("-1", kTempFahrenheitWarningBound), "0");
  EXPECT_EQ(BoundedText("249.9", kTempFahrenheitWarningBound), nullopt);
  // The texts written back pass their own check, so writing one back settles.
  for (const Bound& b :
       {kRpmWarningBound, kMapMbarWarningBound, kMapPsiWarningBound, kTempFahrenheitWarningBound,
        kTempCelsiusWarningBound, kVoltBound, kSensorValueBound, kAirFuelBound}) {
    EXPECT_EQ(BoundedText(b.upperText, b), nullopt) << b.upperText;
    EXPECT_EQ(BoundedText(b.lowerText, b), nullopt) << b.lowerText;
  }
  // PSI and Celsius reach exactly as far as the write turns into the mbar and
  // Fahrenheit bounds, and no further.
  EXPECT_EQ(Spec::PSITomBar(kMapPsiWarningBound.lower), 0);
  EXPECT_LE(Spec::PSITomBar(kMapPsiWarningBound.upper), 16000);
  EXPECT_GT(Spec::PSITomBar(kMapPsiWarningBound.upper + 0.1), 16000);
  EXPECT_EQ(Spec::CtoF(kTempCelsiusWarningBound.lower, true), 0);
  EXPECT_LT(Spec::CtoF(kTempCelsiusWarningBound.lower - 1, true), 0);
  EXPECT_EQ(Spec::CtoF(kTempCelsiusWarningBound.upper, true), 250);
  EXPECT_GT(Spec::CtoF(kTempCelsiusWarningBound.upper + 1, true), 250);
}

// Read, then Program with nothing edited, for every value each limit's wire
// field can carry. What goes back differs from what the unit held only by the
// rounding of the unit shown:
//  - RPM, mbar and Fahrenheit show the whole number held: exact;
//  - gauge PSI shows a tenth (about 6.9 mbar) and the write truncates to whole
//    mbar: from 4 mbar below to 3 above;
//  - Celsius drops the fraction toward zero and the write rounds up: up to
//    1 F lower at or above freezing, up to 2 F higher below it.
// Every value the editor could have stored in the unit shown also shows
// within its field's bound, so retyping it does not move it. (PSI reaches
// 15994 mbar: 15998 to 16000 show as 217.5, past the last PSI tenth that
// stays within 16000 mbar.)
TEST(WarningRoundTrip, ReadThenProgramGivesBackWhatTheUnitHolds) {
  struct Case {
    int field;       // position in the "a" reply and in WriteLimits: 0 RPM, 1 ECT, 2 MAP, 3 IAT
    bool otherUnit;  // PSI for the pressure, Celsius for the temperatures
    const Bound& bound;
    int editorMax;  // the highest value the editor itself writes, in wire units
    int lowestDrift;
    int highestDrift;
  };
  const Case cases[] = {
      {0, false, kRpmWarningBound, 16000, 0, 0},
      {2, false, kMapMbarWarningBound, 16000, 0, 0},
      {2, true, kMapPsiWarningBound, 15994, -4, 3},
      {1, false, kTempFahrenheitWarningBound, 250, 0, 0},
      {1, true, kTempCelsiusWarningBound, 250, -1, 2},
      {3, false, kTempFahrenheitWarningBound, 250, 0, 0},
      {3, true, kTempCelsiusWarningBound, 250, -1, 2},
  };
  std::string unit::LimitTexts::*shown[] = {&unit::LimitTexts::rpmw, &unit::LimitTexts::ectw,
                                            &unit::LimitTexts::mapw, &unit::LimitTexts::iatw};
  double unit::WindowSettings::*edited[] = {
      &unit::WindowSettings::rpmw, &unit::WindowSettings::ectw, &unit::WindowSettings::mapw,
      &unit::WindowSettings::iatw};
  const int offset[] = {0, 2, 3, 5};  // of each limit in the reply
  for (const Case& c : cases) {
    const bool word = c.field == 0 || c.field == 2;
    const bool psi = c.otherUnit && c.field == 2;
    const bool celsius = c.otherUnit && !psi;
    int lowest = 0, highest = 0;
    for (int held = 0; held <= (word ? 65535 : 255); ++held) {
      std::string payload(6, '\0');
      const std::string bytes =
          word ? std::string{char(held >> 8), char(held & 0xFF)} : std::string(1, char(held));
      payload.replace(offset[c.field], bytes.size(), bytes);
      auto reply = unit::DecodeLimits(payload);
      ASSERT_TRUE(reply);
      const std::string text = unit::ShownLimits(*reply, celsius, psi).*shown[c.field];
      if (held <= c.editorMax) {
        ASSERT_EQ(BoundedText(text, c.bound), nullopt) << c.field << " " << held << " " << text;
      }
      unit::WindowSettings s;
      s.usecelsius = celsius;
      s.mappop = psi ? 1 : 0;
      s.*edited[c.field] = platform::Val(text);
      const std::string sent = unit::WriteLimits(s)[c.field].Final;
      ASSERT_EQ(sent.size(), 5u);
      const auto at = [&](int i) { return static_cast<unsigned char>(sent[i]); };
      const int back = word ? at(3) * 256 + at(4) : at(3);
      lowest = std::min(lowest, back - held);
      highest = std::max(highest, back - held);
    }
    EXPECT_EQ(lowest, c.lowestDrift) << c.field << " " << c.otherUnit;
    EXPECT_EQ(highest, c.highestDrift) << c.field << " " << c.otherUnit;
  }
}

}  // namespace
}  // namespace editor
