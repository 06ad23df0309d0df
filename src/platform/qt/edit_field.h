#pragma once
// The framework's single-line edit field on a QLineEdit. Setting Text in code
// raises TextChange exactly as typing does. A mask uses the framework's
// characters ("#" a digit, anything else itself), and LimitText caps the length
// (0 = no limit).
#include <string>

#include "platform/qt/control.h"

class QLineEdit;

namespace platform {

class EditField : public Control {
 public:
  explicit EditField(std::string name, int index = -1);
  const char* Kind() const override { return "EditField"; }

  std::string Text() const;
  void SetText(const std::string& text);

  std::string Mask() const { return mask_; }
  void SetMask(const std::string& mask);

  int LimitText() const { return limit_; }
  void SetLimitText(int limit);

  bool ReadOnly() const;
  void SetReadOnly(bool readOnly);

  Event<> TextChange;

 private:
  QLineEdit* edit_;
  std::string mask_;
  int limit_ = 0;
};

}  // namespace platform
