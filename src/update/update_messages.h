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
// What a failed installation could not take back. The first stands first;
// each of the others is added where it holds, with the path of the folder it
// names, quoted.
inline constexpr char kNotAllPutBackMessage[] =
    "The new version of the Vantora II software could not be installed, and not everything it "
    "changed could be put back.";
inline constexpr char kCopyInPlaceText[] = " Your current copy is still in place.";
inline constexpr char kCopyRenamedText[] =
    " Your current copy is now named \"OLD Vantora II X.app\".";
inline constexpr char kKeptInText[] =
    " What could not be put back is kept, in its folders as it stood, in ";
inline constexpr char kNewFilesStayText[] =
    " Files of the new version that could not be taken out again are still in ";
// What an earlier installation could not put back is never removed: the
// user is told where it is, the path quoted after this.
inline constexpr char kKeptStaysMessage[] =
    "The new version of the Vantora II software could not be installed. What an earlier update "
    "could not put back is still kept, in its folders as it stood, in a folder of its own; please "
    "move it back into place and try again: ";
// The path of the item in the way follows, quoted.
inline constexpr char kOldNameTakenMessage[] =
    "The new version of the Vantora II software could not be installed. Your current copy has "
    "been kept, but the item that stands at its \"OLD \" name could not be moved out of the way; "
    "please remove it and try again: ";
// The path of the Trash folder follows, quoted.
inline constexpr char kTrashUnusableMessage[] =
    "The new version of the Vantora II software could not be installed. Your current copy has "
    "been kept, but the item that stands at its \"OLD \" name could not be moved out of the "
    "way, as the Trash folder cannot be used; please check the Trash folder and try again: ";

}  // namespace update
