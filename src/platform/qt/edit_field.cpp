#include "platform/qt/edit_field.h"

#include <QLineEdit>

namespace platform {

namespace {
// Qt's mask language escapes its own meta characters; only "#" (a required
// digit) carries meaning in the framework's masks that the window uses.
QString QtMask(const std::string& mask) {
  static const QString kQtMeta = QStringLiteral("AaNnXx90Dd#HhBb><!\\[]{};");
  QString out;
  for (QChar c : ToQ(mask)) {
    if (c == QChar('#')) {
      out += QChar('9');
    } else {
      if (kQtMeta.contains(c)) out += QChar('\\');
      out += c;
    }
  }
  return out;
}
}  // namespace

EditField::EditField(std::string name, int index)
    : Control(std::move(name), index), edit_(new QLineEdit) {
  SetWidget(edit_);
  // textChanged covers both the user's typing and setText.
  QObject::connect(edit_, &QLineEdit::textChanged, edit_, [this](const QString&) { TextChange(); });
}

std::string EditField::Text() const {
  if (mask_.empty()) return FromQ(edit_->text());
  // A masked field that holds nothing reads as empty, not as its bare literals.
  QString text = edit_->text();
  QString literals = ToQ(mask_);
  literals.remove(QChar('#'));
  return text == literals ? std::string() : FromQ(text);
}

void EditField::SetText(const std::string& text) {
  edit_->setText(ToQ(text));
}

void EditField::SetMask(const std::string& mask) {
  mask_ = mask;
  edit_->setInputMask(mask.empty() ? QString() : QtMask(mask));
}

void EditField::SetLimitText(int limit) {
  limit_ = limit < 0 ? 0 : limit;
  edit_->setMaxLength(limit_ == 0 ? 32767 : limit_);
}

bool EditField::ReadOnly() const {
  return edit_->isReadOnly();
}
void EditField::SetReadOnly(bool readOnly) {
  edit_->setReadOnly(readOnly);
}

}  // namespace platform
