#pragma once
// The framework's horizontal slider. ValueChanged is raised whenever Value
// moves, by the user or by code; with LiveScroll on it follows the drag.
#include <string>

#include "platform/qt/control.h"

class QSlider;

namespace platform {

class Slider : public Control {
 public:
  explicit Slider(std::string name, int index = -1);
  const char* Kind() const override { return "Slider"; }

  int Minimum() const;
  int Maximum() const;
  void SetRange(int minimum, int maximum);
  int Value() const;
  void SetValue(int value);
  int LineStep() const;
  void SetLineStep(int step);
  int PageStep() const;
  void SetPageStep(int step);
  bool LiveScroll() const;
  void SetLiveScroll(bool live);

  Event<> ValueChanged;

 private:
  QSlider* slider_;
};

}  // namespace platform
