#include "platform/qt/slider.h"

#include <QSlider>

namespace platform {

Slider::Slider(std::string name, int index)
    : Control(std::move(name), index), slider_(new QSlider(Qt::Horizontal)) {
  SetWidget(slider_);
  QObject::connect(slider_, &QSlider::valueChanged, slider_, [this](int) { ValueChanged(); });
}

int Slider::Minimum() const {
  return slider_->minimum();
}
int Slider::Maximum() const {
  return slider_->maximum();
}
void Slider::SetRange(int minimum, int maximum) {
  slider_->setRange(minimum, maximum);
}
int Slider::Value() const {
  return slider_->value();
}
void Slider::SetValue(int value) {
  slider_->setValue(value);
}
int Slider::LineStep() const {
  return slider_->singleStep();
}
void Slider::SetLineStep(int step) {
  slider_->setSingleStep(step);
}
int Slider::PageStep() const {
  return slider_->pageStep();
}
void Slider::SetPageStep(int step) {
  slider_->setPageStep(step);
}
bool Slider::LiveScroll() const {
  return slider_->hasTracking();
}
void Slider::SetLiveScroll(bool live) {
  slider_->setTracking(live);
}

}  // namespace platform
