#pragma once
// The framework's pop-up menu on a QComboBox. Unlike a bare combo box it starts
// and stays without a selection (ListIndex -1) until someone selects a row, and
// a row selected by code raises Change just as the user's choice does. Each row
// carries a tag (RowTag) beside its text; separator rows carry none and can't be
// chosen by the user.
#include <string>

#include "platform/qt/control.h"

class QComboBox;

namespace platform {

class PopupMenu : public Control {
 public:
  explicit PopupMenu(std::string name, int index = -1);
  const char* Kind() const override { return "PopupMenu"; }

  void AddRow(const std::string& text);
  void AddSeparator();
  // Removes every row; the selection becomes -1 without a Change event.
  void DeleteAllRows();

  int ListCount() const;
  // The text of a row; empty for a separator or a row that doesn't exist.
  std::string List(int row) const;
  bool IsSeparator(int row) const;

  int ListIndex() const;
  // Selects a row, or none with -1, and raises Change when the selection moves.
  // An index below -1 or at or past the row count is refused: nothing changes.
  void SetListIndex(int index);
  // The selected row's text, empty without a selection.
  std::string Text() const;

  // The row's tag; 0 for a row without one or a row that doesn't exist.
  int RowTag(int row) const;
  bool HasRowTag(int row) const;
  void SetRowTag(int row, int tag);

  void Refresh();

  Event<> Change;

 private:
  QComboBox* combo_;
};

}  // namespace platform
