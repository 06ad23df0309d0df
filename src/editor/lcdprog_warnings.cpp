// The warning limits and the unit switches of the main window. The limits are
// kept in range on every change of their text, by the user or by code.
#include "editor/bounds.h"
#include "mainwindow/lcdprog.h"
#include "platform/valstr.h"
#include "unit/conversions.h"
#include "unit/wire_fields.h"

namespace {

void KeepInBounds(platform::EditField& field, const editor::Bound& bound) {
  // Writing the bound back changes the text again; that pass finds it in range.
  if (auto text = editor::BoundedText(field.Text(), bound)) field.SetText(*text);
}

}  // namespace

void LCDProg::rpmw_TextChange() {
  KeepInBounds(rpmw, editor::kRpmWarningBound);
}
void LCDProg::mapw_TextChange() {
  KeepInBounds(mapw, editor::kMapWarningBound);
}
void LCDProg::ectw_TextChange() {
  KeepInBounds(ectw, editor::kTempWarningBound);
}
void LCDProg::iatw_TextChange() {
  KeepInBounds(iatw, editor::kTempWarningBound);
}

void LCDProg::mappop_Change() {
  // Every change converts once: the text is taken in the unit just left.
  if (mappop.ListIndex() == 0) {
    const double psi = platform::Val(mapw.Text());
    mapw.SetText(platform::Str(Spec::PSITomBar(psi)));
  } else {
    const int mbar = unit::TruncToInt(platform::Val(mapw.Text()));
    mapw.SetText(platform::Str(Spec::mBarToPSI(mbar)));
  }
}

void LCDProg::usecelsius_Action() {
  // The window converts nothing itself: the unit's reply brings the limits
  // back through the conversion that now sees the new unit. Not while the
  // firmware is being replaced: the full read after it shows them again.
  if (FirmwareOwnsLinkNow()) return;
  ReadLimits();
}

void LCDProg::StPage_Open() {
  StPage.SetListIndex(0);
}
