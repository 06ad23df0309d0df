#pragma once
// Moving an item to the desktop's Trash, the freedesktop.org way: the item
// goes into <trash>/files and a <name>.trashinfo beside it in <trash>/info
// records where it came from and when, so the desktop can put it back.
#include <filesystem>
#include <string>

namespace platform {

// The user's home Trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
std::filesystem::path HomeTrash();

// Moves `item` (file or folder) into `trash`, creating its folders as needed.
// A name already in the Trash gets a number appended. Returns false, with the
// reason in `error`, when the item could not be moved; nothing is left behind
// in the Trash then.
bool MoveToTrash(const std::filesystem::path& item, const std::filesystem::path& trash,
                 std::string* error = nullptr);

}  // namespace platform
