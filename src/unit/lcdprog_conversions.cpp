// The temperature conversions as the rest of the program calls them: they
// follow the window's "Use Celsius For Temp" box at each call.
#include <QCheckBox>
#include <QPointer>

#include "mainwindow/lcdprog.h"
#include "unit/conversions.h"
#include "unit/temperature_box.h"

namespace Spec {

namespace {

// The box of the window that is up; gone with its window, then Fahrenheit.
QPointer<QCheckBox>& CelsiusBox() {
  static QPointer<QCheckBox> box;
  return box;
}

bool Celsius() {
  return CelsiusBox() && CelsiusBox()->isChecked();
}

}  // namespace

void UseCelsiusBox(platform::CheckBox* box) {
  CelsiusBox() = box ? qobject_cast<QCheckBox*>(box->Widget()) : nullptr;
}

int FtoC(int f) {
  return FtoC(f, Celsius());
}
int CtoF(int c) {
  return CtoF(c, Celsius());
}

}  // namespace Spec
