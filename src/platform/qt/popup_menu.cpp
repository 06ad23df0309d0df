#include "platform/qt/popup_menu.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace platform {

namespace {
constexpr int kTagRole = Qt::UserRole + 1;
}

PopupMenu::PopupMenu(std::string name, int index)
    : Control(std::move(name), index), combo_(new QComboBox) {
  SetWidget(combo_);
  combo_->setFocusPolicy(Qt::StrongFocus);
  // One path for the user's choice and for code: the combo box reports every
  // move of its current row here, and changes we make silently are blocked.
  QObject::connect(combo_, &QComboBox::currentIndexChanged, combo_, [this](int) { Change(); });
}

void PopupMenu::AddRow(const std::string& text) {
  const int before = combo_->currentIndex();
  QSignalBlocker block(combo_);
  combo_->addItem(ToQ(text));
  // A combo box selects its first row by itself; the framework's pop-up doesn't.
  if (before == -1) combo_->setCurrentIndex(-1);
}

void PopupMenu::AddSeparator() {
  const int before = combo_->currentIndex();
  QSignalBlocker block(combo_);
  combo_->insertSeparator(combo_->count());
  if (before == -1) combo_->setCurrentIndex(-1);
}

void PopupMenu::DeleteAllRows() {
  QSignalBlocker block(combo_);
  combo_->clear();
}

int PopupMenu::ListCount() const {
  return combo_->count();
}

std::string PopupMenu::List(int row) const {
  if (row < 0 || row >= combo_->count()) return {};
  return FromQ(combo_->itemText(row));
}

bool PopupMenu::IsSeparator(int row) const {
  if (row < 0 || row >= combo_->count()) return false;
  return combo_->itemData(row, Qt::AccessibleDescriptionRole).toString() ==
         QLatin1String("separator");
}

int PopupMenu::ListIndex() const {
  return combo_->currentIndex();
}

void PopupMenu::SetListIndex(int index) {
  if (index < -1 || index >= combo_->count()) return;
  combo_->setCurrentIndex(index);
}

std::string PopupMenu::Text() const {
  return List(combo_->currentIndex());
}

int PopupMenu::RowTag(int row) const {
  if (row < 0 || row >= combo_->count()) return 0;
  return combo_->itemData(row, kTagRole).toInt();
}

bool PopupMenu::HasRowTag(int row) const {
  if (row < 0 || row >= combo_->count()) return false;
  return combo_->itemData(row, kTagRole).isValid();
}

void PopupMenu::SetRowTag(int row, int tag) {
  if (row < 0 || row >= combo_->count()) return;
  combo_->setItemData(row, tag, kTagRole);
}

void PopupMenu::Refresh() {
  combo_->update();
}

}  // namespace platform
