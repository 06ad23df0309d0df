#include "platform/qt/control.h"

#include <QWidget>

namespace platform {

QString ToQ(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQ(const QString& text) {
  return text.toUtf8().toStdString();
}

QString CaptionToQ(const std::string& caption) {
  return ToQ(caption).replace(QChar('&'), QLatin1String("&&"));
}

Control::Control(std::string name, int index) : name_(std::move(name)), index_(index) {}

Control::~Control() {
  if (widget_) {
    Detach();
    delete widget_.data();
  }
}

void Control::SetWidget(QWidget* widget) {
  widget_ = widget;
  QString objectName = ToQ(name_);
  if (index_ >= 0) objectName += QString("(%1)").arg(index_);
  widget->setObjectName(objectName);
}

void Control::Detach() {
  if (widget_) QObject::disconnect(widget_.data(), nullptr, nullptr, nullptr);
}

void Control::Place(QWidget* parent, int left, int top, int width, int height) {
  widget_->setParent(parent);
  widget_->setGeometry(left, top, width, height);
  widget_->setVisible(visible_);
}

int Control::Left() const {
  return widget_->x();
}
int Control::Top() const {
  return widget_->y();
}
int Control::Width() const {
  return widget_->width();
}
int Control::Height() const {
  return widget_->height();
}

bool Control::Enabled() const {
  return widget_->isEnabled();
}
void Control::SetEnabled(bool enabled) {
  widget_->setEnabled(enabled);
}

void Control::SetVisible(bool visible) {
  visible_ = visible;
  // A widget not yet placed would show up as a window of its own.
  if (widget_->parentWidget() != nullptr) widget_->setVisible(visible);
}

}  // namespace platform
