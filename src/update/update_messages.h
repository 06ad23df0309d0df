#pragma once
// What the software update tells the user.
namespace update {

inline constexpr char kNewVersionQuestion[] =
    "A new version of the Vantora II software has become available, would you like to download "
    "and install now?";
inline constexpr char kUpToDateMessage[] = "Your version is up to date.";
inline constexpr char kExtractingText[] = "Extracting Zip Archive";
inline constexpr char kDownloadFailedMessage[] =
    "The download of the new version of the Vantora II software failed. Please try again later.";
inline constexpr char kNotInstalledMessage[] =
    "The new version of the Vantora II software could not be installed. Your current copy has "
    "been kept.";

}  // namespace update
