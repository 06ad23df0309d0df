#pragma once
// The firmware update through the unit's AVR109 bootloader, as a list of
// requests: the way into the bootloader, the chip erase, then for every
// 256-byte block of the image its word address and the block itself.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "unit/queued_request.h"

namespace unit {

inline constexpr std::size_t FirmwareBlockBytes = 256;
// The bootloader takes 16-bit word addresses: 65536 words of two bytes.
inline constexpr std::size_t FirmwareMaxBytes = 131072;

inline constexpr const char* FirmwareEmptyMessage =
    "The firmware image is empty. Your Vantora II has not been changed.";
inline constexpr const char* FirmwareTooLargeMessage =
    "The firmware image is larger than 128 KB and cannot be sent. Your Vantora II has not been "
    "changed.";
inline constexpr const char* FirmwareInterruptedMessage =
    "The firmware update did not finish. Please hit the Update Firmware button on the COM page to "
    "try again.";
// Found in its bootloader after an update of this run broke off: its "E" could
// start half an image.
inline constexpr const char* FirmwareRepeatMessage =
    "This Vantora II is waiting in its bootloader because the firmware update did not finish. "
    "Please hit the Update Firmware button on the COM page to repeat the update.";

// Empty when the image can be sent as it is, else the message for the user.
// Checked before anything is queued: an empty image would only erase the
// unit, a larger one would wrap the word address onto the start of flash.
std::string FirmwareImageProblem(std::string_view image);

// Blocks of the image: its length in bytes / 256, rounded up.
int FirmwareBlockCount(std::size_t imageBytes);

// ESC ESC (acknowledged "O"), then the hello "V" that the bootloader answers "22".
std::vector<QueuedRequest> BootloaderEntryRequests();

// "E": leave the bootloader, acknowledged by a carriage return.
QueuedRequest BootloaderExitRequest();

// "e", then "A" + word address and "B" + size + "F" + bytes for every block.
// The caller checks FirmwareImageProblem first.
std::vector<QueuedRequest> FirmwareBlockRequests(std::string_view image);

// The whole update as queued by one press of Update Firmware: the entry into
// the bootloader unless the unit is already there, then FirmwareBlockRequests.
std::vector<QueuedRequest> FirmwareUpdateRequests(std::string_view image, bool inBootloader);

}  // namespace unit
