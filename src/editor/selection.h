#pragma once
// How the pop-ups of the page editor choose a row, as plain functions over a
// row list, so the window's handlers and their tests share one rule.
#include "editor/catalogue.h"

namespace editor {

// The first selectable row whose code is `code`; `current` when there is none
// (the pop-up then keeps its selection and raises no change).
int SelectPIndex(const Menu& rows, int code, int current);

// The row a place shows for the code stored for it: the matching row, or no
// selection (-1) when the system doesn't offer that code. A place must never
// go on showing some other page's item in its stead.
int PlaceIndexFor(const Menu& rows, int code);

// The row a reply's list index selects: the index when it lies below the row
// count, row 0 when it doesn't. Negative indexes clear the selection, and a
// pop-up without rows stays without a selection.
int ListSelIndex(int index, int count);

// The `Opt` element (1 to 56) of a place on a page.
constexpr int OptIndex(int page, int place) {
  return page * kPlaceCount + place + 1;
}

// The wideband input selected after a rebuild: the former one where the new
// system still offers it (no selection stays none), the first otherwise.
int AfrIndexAfterRebuild(int remembered, int newCount);

}  // namespace editor
