#pragma once
// Push buttons and check boxes. A push button's Action is its click. A check
// box's Action is raised only by the user's click; setting Value in code
// changes the box silently.
#include <string>

#include "platform/qt/control.h"

class QCheckBox;
class QPushButton;

namespace platform {

class PushButton : public Control {
 public:
  explicit PushButton(std::string name, int index = -1);
  const char* Kind() const override { return "PushButton"; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // Pressing Return in the window presses the default button.
  void SetDefault(bool isDefault);

  Event<> Action;

 private:
  QPushButton* button_;
  std::string caption_;
};

class CheckBox : public Control {
 public:
  explicit CheckBox(std::string name, int index = -1);
  const char* Kind() const override { return "CheckBox"; }

  std::string Caption() const;
  void SetCaption(const std::string& caption);

  bool Value() const;
  void SetValue(bool checked);

  Event<> Action;

 private:
  QCheckBox* box_;
  std::string caption_;
};

}  // namespace platform
