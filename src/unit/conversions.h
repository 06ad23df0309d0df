#pragma once
// Conversions between the units the window shows and the units the unit
// stores, and the small byte helpers that build two-byte fields. All pure: the
// temperature pair takes the state of the "Use Celsius" box as an argument.
#include <cstdint>
#include <string>
#include <string_view>

namespace Spec {

// Gauge PSI to absolute mbar: 0 PSI is one atmosphere, 1013 mbar. Saturates to
// the Int32 range, so a wild text never overflows.
int PSITomBar(double psi);

// Absolute mbar to gauge PSI rounded to a tenth; negative below one atmosphere
// (1012 mbar is -0.0, 0 mbar is -14.7), so a vacuum limit never reads back as
// thousands of PSI.
double mBarToPSI(int mbar);

// Wire temperature (whole degrees F) to the window's unit, and back. Without
// Celsius both return their argument.
int FtoC(int f, bool celsius);
int CtoF(int c, bool celsius);

// Two raw bytes, high first (no hexadecimal text despite the name). Values
// outside 0..65535 are held at the nearest end.
std::string Dec2Hex(int n);

// Value of two or four hexadecimal digits (either case); any other length is 0.
double Hex2Dec(std::string_view s);

// Hexadecimal text to raw bytes, two digits a byte; an odd last digit is dropped.
std::string HexDataToString(std::string_view s);

// Preference hook run at quit; nothing persists between runs.
bool SavePrefs();

}  // namespace Spec
