#include "platform/qt/buttons.h"

#include <QCheckBox>
#include <QPushButton>

namespace platform {

PushButton::PushButton(std::string name, int index)
    : Control(std::move(name), index), button_(new QPushButton) {
  SetWidget(button_);
  button_->setAutoDefault(false);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] { Action(); });
}

std::string PushButton::Caption() const {
  return caption_;
}

void PushButton::SetCaption(const std::string& caption) {
  caption_ = caption;
  button_->setText(CaptionToQ(caption));
}

void PushButton::SetDefault(bool isDefault) {
  button_->setDefault(isDefault);
}

CheckBox::CheckBox(std::string name, int index)
    : Control(std::move(name), index), box_(new QCheckBox) {
  SetWidget(box_);
  // clicked comes only from the user (or a simulated click), never from
  // setChecked.
  QObject::connect(box_, &QCheckBox::clicked, box_, [this](bool) { Action(); });
}

std::string CheckBox::Caption() const {
  return caption_;
}

void CheckBox::SetCaption(const std::string& caption) {
  caption_ = caption;
  box_->setText(CaptionToQ(caption));
}

bool CheckBox::Value() const {
  return box_->isChecked();
}
void CheckBox::SetValue(bool checked) {
  box_->setChecked(checked);
}

}  // namespace platform
