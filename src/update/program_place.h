#pragma once
// Where the program lives. An installed copy is a bundle: a folder named
// "Vantora II X.app" holding the executable and all it needs; the program's
// folder is the folder that holds the bundle. Run from anywhere else (a build
// tree) the program has no bundle, and its folder is the executable's own.
#include <filesystem>

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
};

// The place of a program whose executable lies in `executableDir`.
ProgramPlace LocateProgram(const std::filesystem::path& executableDir);

// Whether `item` is the bundle the program runs from (the same folder on
// disk, whatever the path says).
bool IsRunningBundle(const std::filesystem::path& item, const ProgramPlace& place);

// What to run to start the copy at `item`: a bundle's executable, or the
// item itself when it is no folder.
std::filesystem::path ExecutableOf(const std::filesystem::path& item);

}  // namespace update
