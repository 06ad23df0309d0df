#include "editor/bounds.h"

#include "platform/valstr.h"

namespace editor {

std::optional<std::string> BoundedText(std::string_view text, const Bound& bound) {
  double v = platform::Val(text);
  if (v > bound.upper) return std::string(bound.upperText);
  if (v < bound.lower) return std::string(bound.lowerText);
  return std::nullopt;
}

std::optional<std::string> CellBoundedText(std::string_view text, int column, TableKind kind) {
  if (column == 0) return BoundedText(text, kVoltBound);
  if (column == 1) {
    return BoundedText(text, kind == TableKind::Wideband ? kAirFuelBound : kSensorValueBound);
  }
  return std::nullopt;
}

}  // namespace editor
