#pragma once
// Moving an item to the desktop's Trash, the freedesktop.org way: the item
// goes into <trash>/files and a <name>.trashinfo beside it in <trash>/info
// records where it came from and when, so the desktop can put it back.
#include <filesystem>
#include <string>

#include "platform/item_at.h"

namespace platform {

// The user's home Trash: $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
std::filesystem::path HomeTrash();

// The user's Trash on the volume whose top folder is `top`, made when
// missing: $top/.Trash/$uid when the administrator has made $top/.Trash (a
// real folder with the sticky bit), else $top/.Trash-$uid. Each is a folder
// of this user's that only this user may enter; empty when none can be had.
std::filesystem::path VolumeTrash(const std::filesystem::path& top);

// The Trash that `item` goes to: `homeTrash` when it is on the item's device,
// else the Trash of the item's own volume, since a move is a rename and
// cannot cross from one device to another. Empty when there is none.
std::filesystem::path TrashFor(const std::filesystem::path& item,
                               const std::filesystem::path& homeTrash);

// Moves `item` (file or folder) into the Trash that TrashFor gives, creating
// its folders as needed, with its AppleDouble sidecar when it has one (a
// `._` file beside it that is not AppleDouble is not its sidecar, and stays).
// A name already in the Trash gets a number appended; nothing there is
// replaced. The Trash folder is used only when it is a folder of this
// user's, and neither it nor its own folders are entered through a link.
// Returns false, with the reason in `error`, when the item could not be
// moved; it is then where it was, with its sidecar, and nothing is left
// behind in the Trash. Should the sidecar fail to follow and the item then
// fail to come back, the reason says so: the item is then in the Trash with
// its record, and its sidecar where it was. Where it is the Trash itself
// that cannot be used, the reason names the Trash folder, and so does
// `unusableTrash`; it is left as it is where only this item could not be
// moved.
bool MoveToTrash(const std::filesystem::path& item, const std::filesystem::path& homeTrash,
                 std::string* error = nullptr, std::filesystem::path* unusableTrash = nullptr);
// The same for the item `item` names for the *at calls (in a folder held
// open: never through a link at its name), whose path is `source`.
bool MoveToTrash(const ItemAt& item, const std::filesystem::path& source,
                 const std::filesystem::path& homeTrash, std::string* error = nullptr,
                 std::filesystem::path* unusableTrash = nullptr);

}  // namespace platform
