#include "editor/bounds.h"

#include <gtest/gtest.h>

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

TEST(WarningBounds, RpmMapAndTemperatures) {
  EXPECT_EQ(BoundedText("16000", kRpmWarningBound), nullopt);
  EXPECT_EQ(BoundedText("16001", kRpmWarningBound), "16000");
  EXPECT_EQ(BoundedText("-5", kRpmWarningBound), "0");
  EXPECT_EQ(BoundedText("", kRpmWarningBound), nullopt);
  EXPECT_EQ(BoundedText("20000", kMapWarningBound), "16000");
  EXPECT_EQ(BoundedText("14.7", kMapWarningBound), nullopt);
  EXPECT_EQ(BoundedText("250", kTempWarningBound), nullopt);
  EXPECT_EQ(BoundedText("250.5", kTempWarningBound), "250");
  EXPECT_EQ(BoundedText("-1", kTempWarningBound), "0");
  EXPECT_EQ(BoundedText("249.9", kTempWarningBound), nullopt);
  // The bound's own text passes its check, so writing it back settles.
  for (const Bound& b : {kRpmWarningBound, kMapWarningBound, kTempWarningBound, kVoltBound,
                         kSensorValueBound, kAirFuelBound}) {
    EXPECT_EQ(BoundedText(b.upperText, b), nullopt);
  }
}

}  // namespace
}  // namespace editor
