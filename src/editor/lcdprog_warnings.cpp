// The warning limits and the unit switches of the main window. The limits are
// kept in range on every change of their text, by the user or by code, except
// while they show what the unit holds: the unit may hold any value its fields
// carry, and showing it altered would write it back altered.
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

const editor::Bound& TempBound(bool celsius) {
  return celsius ? editor::kTempCelsiusWarningBound : editor::kTempFahrenheitWarningBound;
}

}  // namespace

// Each field is held within the bound of the unit it shows now, the unit that
// the read and the write also follow.
void LCDProg::rpmw_TextChange() {
  if (!showingUnitLimits_) KeepInBounds(rpmw, editor::kRpmWarningBound);
}
void LCDProg::mapw_TextChange() {
  if (showingUnitLimits_) return;
  const bool psi = mappop.ListIndex() != 0;
  KeepInBounds(mapw, psi ? editor::kMapPsiWarningBound : editor::kMapMbarWarningBound);
}
void LCDProg::ectw_TextChange() {
  if (!showingUnitLimits_) KeepInBounds(ectw, TempBound(usecelsius.Value()));
}
void LCDProg::iatw_TextChange() {
  if (!showingUnitLimits_) KeepInBounds(iatw, TempBound(usecelsius.Value()));
}

void LCDProg::ShowLimits(const unit::LimitsReply& limits) {
  const unit::LimitTexts shown =
      unit::ShownLimits(limits, usecelsius.Value(), mappop.ListIndex() != 0);
  showingUnitLimits_ = true;
  rpmw.SetText(shown.rpmw);
  ectw.SetText(shown.ectw);
  mapw.SetText(shown.mapw);
  iatw.SetText(shown.iatw);
  showingUnitLimits_ = false;
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
