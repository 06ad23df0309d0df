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

int AfrIndexAfterRebuild(int remembered, int newCount) {
  return remembered < newCount ? remembered : 0;
}

}  // namespace editor
