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
// The path of the folder concerned follows each of these, quoted.
inline constexpr char kLeftoverStaysMessage[] =
    "The new version of the Vantora II software could not be installed. A folder left by an "
    "earlier update could not be removed; please remove it and try again: ";
inline constexpr char kNotAllPutBackMessage[] =
    "The new version of the Vantora II software could not be installed, and not everything it "
    "changed could be put back. Your current copy is still in place; what could not be put back "
    "is kept in ";
inline constexpr char kOldCopyRenamedMessage[] =
    "The new version of the Vantora II software could not be installed, and not everything it "
    "changed could be put back. Your current copy is now named \"OLD Vantora II X.app\"; what "
    "could not be put back is kept in ";

}  // namespace update
