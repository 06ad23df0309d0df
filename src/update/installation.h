#pragma once
// Installing a new copy: the archive is unpacked into a staging folder beside
// the program, and only an archive unpacked whole is moved into the program's
// folder. A new bundle then takes the place of the one there, which is kept
// under its "OLD " name, provided the archive held one and its executable can
// be started; a failure anywhere leaves the old bundle in place under its own
// name and no part of the new one where the program looks.
//
// The program's folder and the staging folder are opened once, when the
// installation is prepared, and every later step goes through them, never
// following a link: what another process puts at their paths, or at a name
// inside them, is never walked through.
#include <filesystem>
#include <string>

#include "platform/folder_item.h"
#include "platform/item_at.h"
#include "update/program_place.h"

namespace update {

class Installation {
 public:
  // `archive` is the downloaded archive, which names the staging folder. An
  // old copy that an earlier update left under the "OLD " name goes to
  // `trash` to make way, unless it is the copy that is running.
  Installation(ProgramPlace program, std::filesystem::path trash,
               const std::filesystem::path& archive);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // The folder to unpack into: hidden, in the program's folder, so the moves
  // that follow are renames on one file system.
  const std::filesystem::path& Staging() const { return staging_; }
  // The same as the archive job takes it: anchored in the program's folder
  // held open, so that it is opened there, never through a link.
  platform::FolderItem StagingItem() const;
  // Opens the program's folder and creates the staging folder empty, for
  // this user alone (a leftover of an earlier run goes).
  bool Prepare();

  enum class Outcome {
    NewBundle,  // a new bundle stands in the old one's place
    Placed,     // what was unpacked is in the folder; no bundle was replaced
    Failed,     // nothing of the bundle changed, nothing unpacked was kept
  };
  // Moves everything unpacked into the program's folder: folders merge with
  // those there, files replace files. Only real folders and files of one
  // link, as the unpacking makes them, are moved: a link or anything else
  // found in the staging folder fails the whole installation. The staging
  // folder is gone afterwards.
  Outcome Publish();
  // Removes the staging folder and what it holds.
  void Discard();

  std::filesystem::path Bundle() const;

 private:
  bool SwapBundle();
  bool ClearOldName();
  void UnswapBundle();
  // The staging folder held is still the one at its name.
  bool StagingInPlace() const;
  platform::FolderItem InProgramFolder(const char* name) const;

  std::filesystem::path folder_;
  std::filesystem::path running_;
  std::filesystem::path trash_;
  std::filesystem::path staging_;
  std::string stagingName_;
  platform::OpenFolderRef programFolder_;
  platform::OpenFolderRef stagingFolder_;
};

}  // namespace update
