#pragma once
// A member's file is decoded into a staged file beside its destination and
// takes the destination's name only once it is complete, so a failed
// extraction leaves the file that was there as it was.
#include <optional>

#include "platform/folder_item.h"

namespace zip {

// A new empty file in the destination's folder, under a hidden name of its
// own. It has the permissions of the regular file it will replace, or those
// of a new file. None when it cannot be made.
std::optional<platform::FolderItem> CreateStagedFile(const platform::FolderItem& destination);

// Renames the staged file over the destination (a link there is replaced,
// never followed), with its sidecar. A sidecar the old file had goes with
// it; a "._" file beside it that is not AppleDouble is left alone.
bool CommitStagedFile(const platform::FolderItem& staged, const platform::FolderItem& destination);

}  // namespace zip
