// File > Save and File > Load: the window's side of the layout file. The
// bytes are editor/layout_file's business; here the fields are collected from
// the controls and applied back through them, so every handler a user's edit
// would run runs for a load too.
#include <QFileDialog>

#include "mainwindow/files.h"
#include "mainwindow/lcdprog.h"
#include "platform/apple_double.h"
#include "platform/qt/msgbox.h"
#include "platform/valstr.h"

namespace {

constexpr const char* kDefaultName = "Vantora Layout.lcd";
constexpr const char* kOpenTitle = "Select an LCD layout to open";

std::string RunDialog(QWidget* parent, QFileDialog::AcceptMode mode, const std::string& title,
                      const std::string& defaultName) {
  const platform::FileType& type = Files::Calibration();
  QFileDialog dialog(parent, QString::fromStdString(title));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(mode);
  dialog.setNameFilter(type.DialogFilter());
  if (mode == QFileDialog::AcceptSave) {
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(type.Extension).remove(0, 1));
    dialog.selectFile(QString::fromStdString(defaultName));
  } else {
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first().toStdString();
}

// Selects a row a file names; a row the pop-up doesn't have is left alone.
bool SelectRow(platform::PopupMenu& popup, int index) {
  if (index < -1 || index >= popup.ListCount()) return false;
  popup.SetListIndex(index);
  return true;
}

void ReadTable(const platform::ListBox& list, editor::LayoutTable& table) {
  for (int row = 0; row < editor::kTableRows; ++row) {
    table[row][0] = list.Cell(row, 0);
    table[row][1] = list.Cell(row, 1);
  }
}

void WriteTable(platform::ListBox& list, const editor::LayoutTable& table) {
  for (int row = 0; row < editor::kTableRows; ++row) {
    list.SetCell(row, 0, table[row][0]);
    list.SetCell(row, 1, table[row][1]);
  }
}

}  // namespace

void LCDProg::BindLayoutFile() {
  ChooseLayoutToSave = [this](const std::string& defaultName) {
    return RunDialog(this, QFileDialog::AcceptSave, {}, defaultName);
  };
  ChooseLayoutToOpen = [this](const std::string& title) {
    return RunDialog(this, QFileDialog::AcceptOpen, title, {});
  };
}

editor::Layout LCDProg::CollectLayout() const {
  editor::Layout l;
  l.sys = Sys.ListIndex();
  l.maps = maps.ListIndex();
  l.prest = prest.ListIndex();
  l.vact = vact.ListIndex();
  l.afr = afrlist.ListIndex();
  for (int row = 0; row < 2; ++row) {
    l.wideband[row][0] = WList.Cell(row, 0);
    l.wideband[row][1] = WList.Cell(row, 1);
  }
  l.lowTps = ltps.Text();
  l.highTps = utps.Text();
  for (int i = 1; i <= editor::kItemCodesNew; ++i) l.opt[i] = Opt[i] & 0xFF;
  l.rpmw = editor::WarningValue(rpmw.Text());
  l.mapw = editor::WarningValue(mapw.Text());
  l.iatw = editor::WarningValue(iatw.Text());
  l.ectw = editor::WarningValue(ectw.Text());
  const platform::ListBox* tables[] = {&O2List, &ELDList, &EGRList, &B6List};
  for (int t = 0; t < editor::kSensorTables; ++t) ReadTable(*tables[t], l.tables[t]);
  return l;
}

bool LCDProg::ApplyLayout(const editor::LayoutRead& read) {
  using namespace editor;
  const Layout& l = read.layout;
  const auto whole = [&](int field) { return read.fieldsRead >= field; };
  bool inRange = true;
  // The system first: its rebuild gives afrlist and the places the rows of
  // the loaded system before any index or code is applied to them.
  if (whole(kFieldSys)) inRange &= SelectRow(Sys, l.sys);
  if (whole(kFieldMaps)) inRange &= SelectRow(maps, l.maps);
  if (whole(kFieldPrest)) inRange &= SelectRow(prest, l.prest);
  if (whole(kFieldVact)) inRange &= SelectRow(vact, l.vact);
  if (whole(kFieldAfr)) inRange &= SelectRow(afrlist, l.afr);
  const int widebandFields[2][2] = {{kFieldWideband1Volts, kFieldWideband1Afr},
                                    {kFieldWideband2Volts, kFieldWideband2Afr}};
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 2; ++column)
      if (whole(widebandFields[row][column])) WList.SetCell(row, column, l.wideband[row][column]);
  if (whole(kFieldLowTps)) ltps.SetText(l.lowTps);
  if (whole(kFieldHighTps)) utps.SetText(l.highTps);
  // Straight into Opt: the places show them when the page is redrawn. An old
  // file's 40 codes leave pages "6" and "7" as they were.
  if (whole(kFieldItemCodes)) {
    for (int i = 1; i <= ItemCodeCount(l.version); ++i) Opt[i] = l.opt[i];
  }
  // Setting the texts runs their bounds checks.
  if (whole(kFieldRpmWarning)) rpmw.SetText(platform::Str(l.rpmw));
  if (whole(kFieldMapWarning)) mapw.SetText(platform::Str(l.mapw));
  if (whole(kFieldIatWarning)) iatw.SetText(platform::Str(l.iatw));
  if (whole(kFieldEctWarning)) ectw.SetText(platform::Str(l.ectw));
  platform::ListBox* tables[] = {&O2List, &ELDList, &EGRList, &B6List};
  for (int t = 0; t < kSensorTables; ++t)
    if (whole(kFieldO2Table + t)) WriteTable(*tables[t], l.tables[t]);
  return inRange;
}

void LCDProg::SaveFile() {
  const std::string path = ChooseLayoutToSave ? ChooseLayoutToSave(kDefaultName) : std::string();
  if (path.empty()) return;
  std::string error;
  if (!editor::SaveLayoutFile(path, CollectLayout(), &error)) {
    platform::MsgBox("Your layout could not be saved (" + error +
                     "). Any file of that name has been left as it was.");
    return;
  }
  // The file's type marks it as a layout for a Mac that opens it; the layout
  // itself is saved whole either way, so a type that can't be set is no
  // reason to trouble the user.
  const platform::FileType& type = Files::Calibration();
  platform::WriteMacTypeCreator(platform::ItemAt(path), type.MacType, type.MacCreator, nullptr);
}

void LCDProg::LoadFile() {
  const std::string path = ChooseLayoutToOpen ? ChooseLayoutToOpen(kOpenTitle) : std::string();
  if (path.empty()) return;
  const editor::LayoutRead read = editor::LoadLayoutFile(path);
  const bool inRange = ApplyLayout(read);
  // The places show the loaded codes only once a page is chosen; selecting
  // "3" first makes sure choosing "1" is a change.
  Page.SetListIndex(2);
  Page.SetListIndex(0);

  if (read.unreadable) {
    platform::MsgBox("This layout could not be opened (" + read.error + ").");
  } else if (read.damaged || !inRange) {
    std::string text = "This layout file is damaged.";
    if (read.damaged)
      text += " " + read.error + " Only the settings before that point were loaded.";
    if (!inRange) text += " Some of its settings are out of range and were left as they were.";
    platform::MsgBox(text);
  }
}
