// The page and item editor of the main window: the engine control system, the
// page shown and the eight place pop-ups, kept in step with `Opt`.
#include "editor/catalogue.h"
#include "editor/selection.h"
#include "mainwindow/lcdprog.h"

namespace {

// The rows of a pop-up as the catalogue's rules see them.
editor::Menu MenuOf(const platform::PopupMenu& popup) {
  editor::Menu menu;
  for (int i = 0; i < popup.ListCount(); ++i) {
    const bool separator = popup.IsSeparator(i) || !popup.HasRowTag(i);
    menu.push_back(editor::MenuRow{popup.List(i), popup.RowTag(i), separator});
  }
  return menu;
}

}  // namespace

void LCDProg::BindEditor() {
  Page.Open.Bind(this, &LCDProg::Page_Open);
  Page.Change.Bind(this, &LCDProg::Page_Change);
  Sys.Open.Bind(this, &LCDProg::Sys_Open);
  Sys.Change.Bind(this, &LCDProg::Sys_Change);
  for (int k = 0; k < Item.Count(); ++k) Item[k].Change.Bind([this, k] { Item_Change(k); });
  maps.Open.Bind(this, &LCDProg::maps_Open);
  vact.Open.Bind(this, &LCDProg::vact_Open);
  prest.Open.Bind(this, &LCDProg::prest_Open);

  WList.Open.Bind(this, &LCDProg::WList_Open);
  O2List.Open.Bind(this, &LCDProg::O2List_Open);
  ELDList.Open.Bind(this, &LCDProg::ELDList_Open);
  EGRList.Open.Bind(this, &LCDProg::EGRList_Open);
  B6List.Open.Bind(this, &LCDProg::B6List_Open);
  an1list.Open.Bind(this, &LCDProg::an1list_Open);
  an2list.Open.Bind(this, &LCDProg::an2list_Open);
  an3list.Open.Bind(this, &LCDProg::an3list_Open);
  an4list.Open.Bind(this, &LCDProg::an4list_Open);
  an5list.Open.Bind(this, &LCDProg::an5list_Open);
  WList.CellAction.Bind(this, &LCDProg::WList_CellAction);
  O2List.CellAction.Bind(this, &LCDProg::O2List_CellAction);
  ELDList.CellAction.Bind(this, &LCDProg::ELDList_CellAction);
  EGRList.CellAction.Bind(this, &LCDProg::EGRList_CellAction);
  B6List.CellAction.Bind(this, &LCDProg::B6List_CellAction);
  an1list.CellAction.Bind(this, &LCDProg::an1list_CellAction);
  an2list.CellAction.Bind(this, &LCDProg::an2list_CellAction);
  an3list.CellAction.Bind(this, &LCDProg::an3list_CellAction);
  an4list.CellAction.Bind(this, &LCDProg::an4list_CellAction);
  an5list.CellAction.Bind(this, &LCDProg::an5list_CellAction);
  afrlist.Open.Bind(this, &LCDProg::afrlist_Open);

  rpmw.TextChange.Bind(this, &LCDProg::rpmw_TextChange);
  mapw.TextChange.Bind(this, &LCDProg::mapw_TextChange);
  ectw.TextChange.Bind(this, &LCDProg::ectw_TextChange);
  iatw.TextChange.Bind(this, &LCDProg::iatw_TextChange);
  mappop.Change.Bind(this, &LCDProg::mappop_Change);
  usecelsius.Action.Bind(this, &LCDProg::usecelsius_Action);
  StPage.Open.Bind(this, &LCDProg::StPage_Open);
}

void LCDProg::Options(int sys) {
  // Wideband inputs: keep the chosen one where the new system still has it.
  const int rememberedInput = afrlist.ListIndex();
  afrlist.DeleteAllRows();
  for (const std::string& input : editor::AfrInputs(sys)) afrlist.AddRow(input);
  afrlist.SetListIndex(editor::AfrIndexAfterRebuild(rememberedInput, afrlist.ListCount()));

  // Places: each keeps the code stored for it on the page shown where the new
  // system offers that code. Working from Opt, not from what a place happens
  // to show, means a place showing nothing can't hand over a stray item.
  const int page = Page.ListIndex();
  for (int k = 0; k < Item.Count(); ++k) {
    platform::PopupMenu& place = Item[k];
    int remembered = -1;
    bool hasRemembered = false;
    if (page >= 0) {
      remembered = Opt[editor::OptIndex(page, k)];
      hasRemembered = true;
    } else if (place.ListIndex() >= 0) {
      remembered = place.RowTag(place.ListIndex());
      hasRemembered = true;
    }

    const editor::Menu rows = editor::PlaceRows(sys, k);
    place.DeleteAllRows();
    AddItem(place, rows[0].text, rows[0].code);  // "None"
    if (place.ListIndex() == -1) place.SetListIndex(0);
    for (std::size_t i = 1; i < rows.size(); ++i) {
      if (rows[i].separator) {
        place.AddSeparator();
      } else {
        AddItem(place, rows[i].text, rows[i].code);
      }
    }
    place.Refresh();
    if (hasRemembered) SelectP(place, remembered);
  }

  const auto captions = editor::SensorCaptions(sys);
  platform::GroupBox* boxes[] = {&gbox1, &gbox2, &gbox3, &gbox4};
  for (int i = 0; i < 4; ++i) boxes[i]->SetCaption(captions[static_cast<std::size_t>(i)]);
}

void LCDProg::AddItem(platform::PopupMenu& popup, const std::string& text, int code) {
  popup.AddRow(text);
  popup.SetRowTag(popup.ListCount() - 1, code);
}

void LCDProg::SelectP(platform::PopupMenu& popup, int code) {
  const int current = popup.ListIndex();
  const int index = editor::SelectPIndex(MenuOf(popup), code, current);
  if (index != current) popup.SetListIndex(index);
}

void LCDProg::ListSel(platform::PopupMenu& popup, int index) {
  popup.SetListIndex(editor::ListSelIndex(index, popup.ListCount()));
}

void LCDProg::ShowPlace(int k, int code) {
  platform::PopupMenu& place = Item[k];
  place.SetListIndex(editor::PlaceIndexFor(MenuOf(place), code));
}

void LCDProg::Page_Open() {
  Page.SetListIndex(0);
}

void LCDProg::Page_Change() {
  const int page = Page.ListIndex();
  if (page < 0) return;
  // The selections made here only show what is stored; they must not be
  // written back.
  Ignore = true;
  for (int k = 0; k < Item.Count(); ++k) ShowPlace(k, Opt[editor::OptIndex(page, k)]);
  Ignore = false;
}

void LCDProg::Item_Change(int index) {
  if (Ignore) return;
  const int page = Page.ListIndex();
  const int row = Item[index].ListIndex();
  // A place without a selection stands for a code this system doesn't offer;
  // that code stays stored.
  if (page < 0 || row < 0) return;
  Opt[editor::OptIndex(page, index)] = Item[index].RowTag(row);
}

void LCDProg::Sys_Open() {
  Sys.SetListIndex(0);
}

void LCDProg::Sys_Change() {
  Options(Sys.ListIndex());
}

void LCDProg::maps_Open() {
  maps.SetListIndex(0);
}

void LCDProg::vact_Open() {
  vact.SetListIndex(0);
}

void LCDProg::prest_Open() {
  prest.SetListIndex(0);
}
