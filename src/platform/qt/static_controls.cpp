#include "platform/qt/static_controls.h"

#include <algorithm>

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QStackedWidget>

namespace platform {

StaticText::StaticText(std::string name, int index)
    : Control(std::move(name), index), label_(new QLabel) {
  SetWidget(label_);
  label_->setTextFormat(Qt::PlainText);
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void StaticText::SetText(const std::string& text) {
  text_ = text;
  QString shown = ToQ(text);
  shown.replace(QChar('\r'), QChar('\n'));
  label_->setText(shown);
}

GroupBox::GroupBox(std::string name, int index)
    : Control(std::move(name), index), box_(new QGroupBox) {
  SetWidget(box_);
}

void GroupBox::SetCaption(const std::string& caption) {
  caption_ = caption;
  box_->setTitle(CaptionToQ(caption));
}

ProgressBar::ProgressBar(std::string name, int index)
    : Control(std::move(name), index), bar_(new QProgressBar) {
  SetWidget(bar_);
  bar_->setTextVisible(false);
  bar_->setRange(0, 100);
  bar_->setValue(0);
}

// The bar keeps the value it was given; what it draws is held within range.
void ProgressBar::SetValue(int value) {
  value_ = value;
  bar_->setValue(std::clamp(value_, 0, bar_->maximum()));
}

int ProgressBar::Maximum() const {
  return bar_->maximum();
}

void ProgressBar::SetMaximum(int maximum) {
  bar_->setMaximum(std::max(0, maximum));
  bar_->setValue(std::clamp(value_, 0, bar_->maximum()));
}

PagePanel::PagePanel(std::string name, int panelCount)
    : Control(std::move(name)), stack_(new QStackedWidget) {
  SetWidget(stack_);
  for (int i = 0; i < panelCount; ++i) {
    auto* panel = new QWidget;
    panel->setObjectName(QString("%1.panel%2").arg(ToQ(Name())).arg(i));
    stack_->addWidget(panel);
  }
}

int PagePanel::PanelCount() const {
  return stack_->count();
}
QWidget* PagePanel::Panel(int index) const {
  return stack_->widget(index);
}
int PagePanel::Value() const {
  return stack_->currentIndex();
}

void PagePanel::SetValue(int index) {
  if (index < 0 || index >= stack_->count()) return;
  stack_->setCurrentIndex(index);
}

}  // namespace platform
