// The calibration tables of the main window: every cell the user may edit,
// and the range check of each edit. The program's own writes into the cells
// (replies, layout files) raise no CellAction and are never checked here.
#include "editor/bounds.h"
#include "mainwindow/lcdprog.h"

namespace {

// Cell type 3 of the framework: editable in place.
void MakeRowsEditable(platform::ListBox& list) {
  for (int row = 0; row < list.ListCount(); ++row) {
    list.SetCellEditable(row, 0, true);
    list.SetCellEditable(row, 1, true);
  }
}

void CheckCell(platform::ListBox& list, int row, int column, editor::TableKind kind) {
  if (auto bound = editor::CellBoundedText(list.Cell(row, column), column, kind)) {
    list.SetCell(row, column, *bound);
  }
}

}  // namespace

void LCDProg::WList_Open() {
  // Exactly the two points of the wideband line.
  WList.SetCellEditable(0, 0, true);
  WList.SetCellEditable(0, 1, true);
  WList.SetCellEditable(1, 0, true);
  WList.SetCellEditable(1, 1, true);
}

void LCDProg::O2List_Open() {
  MakeRowsEditable(O2List);
}
void LCDProg::ELDList_Open() {
  MakeRowsEditable(ELDList);
}
void LCDProg::EGRList_Open() {
  MakeRowsEditable(EGRList);
}
void LCDProg::B6List_Open() {
  MakeRowsEditable(B6List);
}
void LCDProg::an1list_Open() {
  MakeRowsEditable(an1list);
}
void LCDProg::an2list_Open() {
  MakeRowsEditable(an2list);
}
void LCDProg::an3list_Open() {
  MakeRowsEditable(an3list);
}
void LCDProg::an4list_Open() {
  MakeRowsEditable(an4list);
}
void LCDProg::an5list_Open() {
  MakeRowsEditable(an5list);
}

void LCDProg::WList_CellAction(int row, int column) {
  CheckCell(WList, row, column, editor::TableKind::Wideband);
}
void LCDProg::O2List_CellAction(int row, int column) {
  CheckCell(O2List, row, column, editor::TableKind::Sensor);
}
void LCDProg::ELDList_CellAction(int row, int column) {
  CheckCell(ELDList, row, column, editor::TableKind::Sensor);
}
void LCDProg::EGRList_CellAction(int row, int column) {
  CheckCell(EGRList, row, column, editor::TableKind::Sensor);
}
void LCDProg::B6List_CellAction(int row, int column) {
  CheckCell(B6List, row, column, editor::TableKind::Sensor);
}
void LCDProg::an1list_CellAction(int row, int column) {
  CheckCell(an1list, row, column, editor::TableKind::Sensor);
}
void LCDProg::an2list_CellAction(int row, int column) {
  CheckCell(an2list, row, column, editor::TableKind::Sensor);
}
void LCDProg::an3list_CellAction(int row, int column) {
  CheckCell(an3list, row, column, editor::TableKind::Sensor);
}
void LCDProg::an4list_CellAction(int row, int column) {
  CheckCell(an4list, row, column, editor::TableKind::Sensor);
}
void LCDProg::an5list_CellAction(int row, int column) {
  CheckCell(an5list, row, column, editor::TableKind::Sensor);
}

void LCDProg::afrlist_Open() {
  afrlist.SetListIndex(0);
}
