#pragma once
// Value limits of the editable settings. A value the user types is kept exactly
// as typed while it is within range; outside it is replaced by the bound's text.
#include <optional>
#include <string>
#include <string_view>

namespace editor {

struct Bound {
  double upper;
  const char* upperText;
};

// Calibration tables: column 0 is the input voltage, column 1 the value.
inline constexpr Bound kVoltBound{5, "5"};
inline constexpr Bound kSensorValueBound{3200, "3200"};
inline constexpr Bound kAirFuelBound{25.5, "25.5"};

// Warning limits; the same numbers hold in either unit the window shows.
inline constexpr Bound kRpmWarningBound{16000, "16000"};
inline constexpr Bound kMapWarningBound{16000, "16000"};
inline constexpr Bound kTempWarningBound{250, "250"};

// The text to write back when `text` reads (as `Val`) above the bound or below
// zero; nothing when it is within range, bounds included. A text that is not a
// number reads as 0 and so stays.
std::optional<std::string> BoundedText(std::string_view text, const Bound& bound);

enum class TableKind { Sensor, Wideband };

// The check of one edited cell of a calibration table; columns other than 0
// and 1 are never changed.
std::optional<std::string> CellBoundedText(std::string_view text, int column, TableKind kind);

}  // namespace editor
