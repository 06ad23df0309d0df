#pragma once
// Value limits of the editable settings. A value the user types is kept exactly
// as typed while it is within range; outside it is replaced by the bound's text.
#include <optional>
#include <string>
#include <string_view>

namespace editor {

struct Bound {
  double lower;
  const char* lowerText;
  double upper;
  const char* upperText;
};

// Calibration tables: column 0 is the input voltage, column 1 the value.
inline constexpr Bound kVoltBound{0, "0", 5, "5"};
inline constexpr Bound kSensorValueBound{0, "0", 3200, "3200"};
inline constexpr Bound kAirFuelBound{0, "0", 25.5, "25.5"};

// Warning limits. The unit holds the pressure as absolute mbar and the
// temperatures as whole degrees F, so the PSI and Celsius bounds are the mbar
// and Fahrenheit ones converted: in gauge PSI 0 mbar is -14.7, and 217.4 is
// the last tenth written as no more than 16000 mbar; -18 C is the Celsius
// value written as 0 F, and 121 C the one written as 250 F.
inline constexpr Bound kRpmWarningBound{0, "0", 16000, "16000"};
inline constexpr Bound kMapMbarWarningBound{0, "0", 16000, "16000"};
inline constexpr Bound kMapPsiWarningBound{-14.7, "-14.7", 217.4, "217.4"};
inline constexpr Bound kTempFahrenheitWarningBound{0, "0", 250, "250"};
inline constexpr Bound kTempCelsiusWarningBound{-18, "-18", 121, "121"};

// The text to write back when `text` reads (as `Val`) outside the bound;
// nothing when it is within range, bounds included. A text that is not a
// number reads as 0, which every bound holds, and so stays.
std::optional<std::string> BoundedText(std::string_view text, const Bound& bound);

enum class TableKind { Sensor, Wideband };

// The check of one edited cell of a calibration table; columns other than 0
// and 1 are never changed.
std::optional<std::string> CellBoundedText(std::string_view text, int column, TableKind kind);

}  // namespace editor
