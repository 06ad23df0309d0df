#pragma once
// What the settings exchange tells the user.

namespace unit {

inline constexpr const char* kProgrammedMessage = "Your unit has been programmed completely.";
// A write whose queue was dropped or whose link closed before the unit took
// every request: the unit may hold a mix of old and new settings.
inline constexpr const char* kNotProgrammedMessage =
    "Your unit has NOT been programmed completely. Please check the connection and hit Program "
    "again.";
// A read that broke off leaves the controls holding a mix of the unit's
// values and whatever they held before.
inline constexpr const char* kNotReadMessage =
    "The settings of your Vantora II could NOT be read completely. Please check the connection "
    "and hit Read again.";
// Program refused: what the controls hold did not come from the unit.
inline constexpr const char* kProgramUnreadMessage =
    "Your unit has NOT been programmed, because its settings have not been read completely. "
    "Please hit Read, then Program again.";
// Program refused: the write would be built before the read had filled the controls.
inline constexpr const char* kProgramWhileReadingMessage =
    "Your unit has NOT been programmed, because its settings are still being read. Please wait "
    "until the read has finished and hit Program again.";
inline constexpr const char* kOlderFirmwareMessage =
    "This Vantora II is running an older version of firmware. Please hit the Update Firmware "
    "button on the COM page before continuing.";

// Hello replies below this revision come from firmware too old to read or program.
inline constexpr int kFirstCurrentRevision = 19;
// How long the older-firmware message waits after the hello, in ticks.
inline constexpr int kOlderFirmwareDelayTicks = 50;

}  // namespace unit
