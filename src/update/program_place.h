#pragma once
// Where the program lives. An installed copy is a bundle: a folder named
// "Vantora II X.app" holding the executable and all it needs; the program's
// folder is the folder that holds the bundle. Run from anywhere else (a build
// tree) the program has no bundle, and its folder is the executable's own.
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "platform/item_at.h"

namespace update {

inline constexpr char kBundleName[] = "Vantora II X.app";
// The running copy's bundle takes this prefix when a new copy replaces it.
inline constexpr char kOldPrefix[] = "OLD ";
inline constexpr char kOldBundleName[] = "OLD Vantora II X.app";
// The executable inside a bundle.
inline constexpr char kBundleExecutable[] = "vantora2";

struct ProgramPlace {
  std::filesystem::path Folder;
  // The bundle the program runs from; empty when it runs from no bundle.
  std::filesystem::path Bundle;
  // That bundle as it was when the program started: it is known by this
  // from then on, whatever name it bears. No identity (all zero) when the
  // program runs from no bundle; none when the bundle could not be looked
  // at, so that any copy may be the running one.
  std::optional<platform::ItemId> Running = platform::ItemId{};
};

// The place of a program whose executable lies in `executableDir`, with
// the identity of its bundle, looked at now.
ProgramPlace LocateProgram(const std::filesystem::path& executableDir);

// What stands at the "OLD " name in the program's folder.
enum class AtOldName {
  Nothing,    // nothing stands there
  OldBundle,  // the old bundle an update left there, which may go
  Running,    // the copy that is running, or one that may be: it stays
  Other,      // anything that is no real folder (a link, a file): not the
              // program's bundle, and none of the update's to move
  Unknown,    // it could not be looked at (errno's value says why)
};

// What stands at the "OLD " name in `folder`, the program's folder held open,
// looked at in that folder, never through a link; the running copy is the
// one `place` knows.
AtOldName LookAtOldName(int folder, const ProgramPlace& place);

// What became of what stands at the "OLD " name in the program's folder.
enum class OldCopy {
  None,     // nothing stands there
  Trashed,  // the old bundle went to the Trash
  Kept,     // something stays there: the copy that is running, anything
            // that is no real folder (a link, a file: not the program's
            // bundle), or a bundle the Trash could not take
};

// Moves the old bundle that an update left at the "OLD " name in `folder`,
// the program's folder held open (its path in `place`), to `trash`. What
// stands there is looked at in that folder, never through a link, and it
// goes through that folder's descriptor; the copy that is running never goes.
OldCopy TrashOldCopy(int folder, const ProgramPlace& place, const std::filesystem::path& trash);

// What to run to start the copy at `item`: a bundle's executable, or the
// item itself when it is no folder.
std::filesystem::path ExecutableOf(const std::filesystem::path& item);

}  // namespace update
