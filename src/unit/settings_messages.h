#pragma once
// What the settings exchange tells the user.

namespace unit {

inline constexpr const char* kProgrammedMessage = "Your unit has been programmed completely.";
// A write whose queue was dropped or whose link closed before the unit took
// every request: the unit may hold a mix of old and new settings.
inline constexpr const char* kNotProgrammedMessage =
    "Your unit has NOT been programmed completely. Please check the connection and hit Program "
    "again.";
inline constexpr const char* kOlderFirmwareMessage =
    "This Vantora II is running an older version of firmware. Please hit the Update Firmware "
    "button on the COM page before continuing.";

// Hello replies below this revision come from firmware too old to read or program.
inline constexpr int kFirstCurrentRevision = 19;
// How long the older-firmware message waits after the hello, in ticks.
inline constexpr int kOlderFirmwareDelayTicks = 50;

}  // namespace unit
