#pragma once
// The base of the window's controls: a named Qt widget with the framework's
// properties (position, Enabled, Visible) and its Open event. A control owns
// its widget; placing it on a page only reparents the widget.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "platform/qt/event.h"

class QWidget;

namespace platform {

QString ToQ(const std::string& text);
std::string FromQ(const QString& text);
// A caption as Qt is to show it: "&" is a plain character in the framework's
// captions, where Qt would take it for a shortcut mark.
QString CaptionToQ(const std::string& caption);

class Control {
 public:
  // `index` is the control's place in a control array, -1 for a lone control.
  explicit Control(std::string name, int index = -1);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  int Index() const { return index_; }
  // The framework's class name of the control ("PopupMenu", "ListBox", ...).
  virtual const char* Kind() const = 0;

  QWidget* Widget() const { return widget_.data(); }

  // Puts the control on `parent` at the given place (parent coordinates).
  void Place(QWidget* parent, int left, int top, int width, int height);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;

  bool Enabled() const;
  void SetEnabled(bool enabled);
  // The control's own Visible property, true even while its page is hidden.
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  // Cuts the widget's signals from the control's events; the window does this
  // before it is torn down so no event reaches a half-destroyed window.
  void Detach();

  Event<> Open;

 protected:
  // Takes ownership of the widget and gives it the control's name.
  void SetWidget(QWidget* widget);

 private:
  std::string name_;
  int index_;
  QPointer<QWidget> widget_;
  bool visible_ = true;
};

// A control array: N controls sharing one name, each knowing its index.
// Indexing outside 0 to N-1 throws std::out_of_range.
template <class T, int N>
class ControlArray {
 public:
  explicit ControlArray(const std::string& name) {
    for (int i = 0; i < N; ++i) items_[static_cast<std::size_t>(i)] = std::make_unique<T>(name, i);
  }
  T& operator[](int i) { return *items_.at(static_cast<std::size_t>(i)); }
  const T& operator[](int i) const { return *items_.at(static_cast<std::size_t>(i)); }
  static constexpr int Count() { return N; }

 private:
  std::array<std::unique_ptr<T>, static_cast<std::size_t>(N)> items_;
};

}  // namespace platform
