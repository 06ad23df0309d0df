#pragma once
// The framework's list box on a QTableWidget: rows of cells in one or more
// columns, an optional heading, column widths given as in the framework
// ("50%", "80", "*"), single-row selection and editable cells.
//
// Event rules the window relies on:
// - Change is raised whenever the selected row (ListIndex) moves, by the user
//   or by code;
// - CellAction(row, column) is raised when the user has edited a cell, never
//   when code writes a cell.
#include <string>
#include <vector>

#include "platform/qt/control.h"

class QTableWidget;

namespace platform {

class ListBox : public Control {
 public:
  explicit ListBox(std::string name, int index = -1);
  const char* Kind() const override { return "ListBox"; }

  int ColumnCount() const;
  void SetColumnCount(int count);
  // Comma-separated widths: "50%" a share of the list's width, a number in
  // pixels, "*" a share of what remains. Missing entries share what remains.
  void SetColumnWidths(const std::string& widths);
  std::string ColumnWidths() const { return widths_; }
  // Pixels a column gets at the list's present width.
  int ColumnWidth(int column) const;

  // An empty list hides the heading.
  void SetHeading(const std::vector<std::string>& heading);
  bool HasHeading() const;
  std::string Heading(int column) const;

  // Appends a row; a tab in the text moves on to the next cell.
  void AddRow(const std::string& text);
  void RemoveRow(int row);
  void DeleteAllRows();
  int ListCount() const;
  // The row's first cell.
  std::string List(int row) const;

  std::string Cell(int row, int column) const;
  // Writes a cell without raising CellAction. Out-of-range cells are ignored.
  void SetCell(int row, int column, const std::string& text);

  // Whether the user may edit a cell (off by default). A column's setting also
  // covers rows added later.
  void SetColumnEditable(int column, bool editable);
  void SetCellEditable(int row, int column, bool editable);
  bool CellEditable(int row, int column) const;
  // Opens the cell's editor, as the user's click on an editable cell does.
  void EditCell(int row, int column);

  int ListIndex() const;
  // Selects a row, or none with -1; raises Change when the selection moves.
  void SetListIndex(int index);

  Event<> Change;
  Event<int, int> CellAction;

 private:
  class Filter;
  void ApplyWidths();
  void NoteSelection();

  QTableWidget* table_;
  std::string widths_;
  std::vector<bool> editableColumns_;
  int selected_ = -1;
  int codeWrites_ = 0;  // >0 while code writes cells
};

}  // namespace platform
