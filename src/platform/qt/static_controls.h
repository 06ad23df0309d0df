#pragma once
// Controls that show without raising events: static texts, group boxes,
// progress bars and page panels.
#include <string>
#include <vector>

#include "platform/qt/control.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QStackedWidget;

namespace platform {

class StaticText : public Control {
 public:
  explicit StaticText(std::string name, int index = -1);
  const char* Kind() const override { return "StaticText"; }

  // Carriage returns break lines, as in the unit's and the framework's texts.
  std::string Text() const { return text_; }
  void SetText(const std::string& text);

 private:
  QLabel* label_;
  std::string text_;
};

// A frame with a caption. Controls "in" a group box are placed over it on the
// same page, as in the framework.
class GroupBox : public Control {
 public:
  explicit GroupBox(std::string name, int index = -1);
  const char* Kind() const override { return "GroupBox"; }

  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& caption);

 private:
  QGroupBox* box_;
  std::string caption_;
};

class ProgressBar : public Control {
 public:
  explicit ProgressBar(std::string name, int index = -1);
  const char* Kind() const override { return "ProgressBar"; }

  int Value() const { return value_; }
  void SetValue(int value);
  int Maximum() const;
  void SetMaximum(int maximum);

 private:
  QProgressBar* bar_;
  int value_ = 0;
};

// Panels stacked on one another; Value is the panel shown.
class PagePanel : public Control {
 public:
  PagePanel(std::string name, int panelCount);
  const char* Kind() const override { return "PagePanel"; }

  int PanelCount() const;
  QWidget* Panel(int index) const;
  int Value() const;
  // Shows a panel; an index outside the panels is ignored.
  void SetValue(int index);

 private:
  QStackedWidget* stack_;
};

}  // namespace platform
