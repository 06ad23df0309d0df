#include "editor/selection.h"

namespace editor {

int SelectPIndex(const Menu& rows, int code, int current) {
  int found = PlaceIndexFor(rows, code);
  return found >= 0 ? found : current;
}

int PlaceIndexFor(const Menu& rows, int code) {
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    if (!rows[i].separator && rows[i].code == code) return i;
  }
  return -1;
}

int ListSelIndex(int index, int count) {
  if (count <= 0 || index < 0) return -1;
  return index < count ? index : 0;
}

PlaceRebuild RebuildPlace(int sys, int place, int storedCode) {
  PlaceRebuild out;
  out.rows = PlaceRows(sys, place);
  int found = PlaceIndexFor(out.rows, storedCode);
  // "None" is row 0 of every place menu.
  out.listIndex = found >= 0 ? found : 0;
  out.code = out.rows[out.listIndex].code;
  return out;
}

std::array<PlaceRebuild, kPlaceCount> RebuildPlaces(int sys,
                                                    const std::array<int, kPlaceCount>& stored) {
  std::array<PlaceRebuild, kPlaceCount> out;
  for (int k = 0; k < kPlaceCount; ++k) out[k] = RebuildPlace(sys, k, stored[k]);
  return out;
}

int AfrIndexAfterRebuild(int remembered, int newCount) {
  return remembered < newCount ? remembered : 0;
}

}  // namespace editor
