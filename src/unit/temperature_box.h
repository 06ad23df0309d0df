#pragma once
// The temperature conversions as the window's handlers call them: Celsius
// exactly while the window's "Use Celsius For Temp" box is checked. Defined
// with the window (lcdprog_conversions.cpp); the pure pair is in conversions.h.
namespace platform {
class CheckBox;
}

namespace Spec {

// The box that the conversions follow; the window names its own when it is built.
void UseCelsiusBox(platform::CheckBox* box);

int FtoC(int f);
int CtoF(int c);

}  // namespace Spec
