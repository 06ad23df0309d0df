#pragma once
// Listing and removing what a folder held open contains, through
// descriptors alone: a link met on the way is removed or named, never
// followed, whatever another process does to the paths around it.
#include <string>
#include <vector>

namespace platform {

// The names in the folder of descriptor `folder` (a path descriptor will
// do), sorted, without "." and "..". Empty when it cannot be read.
std::vector<std::string> FolderNames(int folder);

// Removes `name` in `folder` and, for a folder, all it holds, never through
// a link. False when anything of it stays.
bool RemoveTree(int folder, const std::string& name);

}  // namespace platform
