#pragma once
// The release the install tests publish, laid out in a staging folder as the
// archive job would unpack it, and what that job would have noted it made.
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/zip_builder.h"
#include "platform/folder_tree.h"
#include "platform/made_items.h"

namespace update_test {

inline void Put(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  fixtures::WriteFile(file, bytes);
}

// A new bundle with its executable and a file in a folder of its own, a file
// in a folder the program's folder holds too, a file that replaces one and
// a folder of its own.
inline void LayNewRelease(const std::filesystem::path& staging) {
  Put(staging / "Vantora II X.app" / "vantora2", "new");
  std::filesystem::permissions(staging / "Vantora II X.app" / "vantora2",
                               std::filesystem::perms(0755));
  Put(staging / "Vantora II X.app" / "lib" / "x", "x");
  Put(staging / "data" / "new.txt", "new data");
  Put(staging / "notes.txt", "new notes");
  Put(staging / "docs" / "a.txt", "a");
}

// Everything `staging` holds now, as a job that made it all would have noted.
inline platform::MadeItems AllMade(const std::filesystem::path& staging) {
  platform::MadeItems made;
  platform::Looked st{};
  int error = 0;
  const platform::OpenFolderRef in =
      platform::OpenFolder::Open(AT_FDCWD, staging.parent_path().c_str(), 0, error);
  if (!in || !platform::LookAt(in->fd(), staging.filename().string(), st)) return made;
  const auto tree = platform::ReadTree(in->fd(), staging.filename(), platform::ItemId::Of(st));
  for (const platform::TreeItem& item : tree.value_or(std::vector<platform::TreeItem>{})) {
    made.Note(item.id);
  }
  return made;
}

}  // namespace update_test
