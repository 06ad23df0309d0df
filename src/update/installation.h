#pragma once
// Installing a new copy: the archive is unpacked into a staging folder beside
// the program, and only an archive unpacked whole is moved into the program's
// folder. A new bundle then takes the place of the one there, which is kept
// under its "OLD " name, provided the archive held one and its executable can
// be started; a failure anywhere leaves the program's folder as it was, item
// for item, the old bundle in place under its own name.
//
// What must make way for the new copy (a file it replaces, an old copy left
// at the "OLD " name) is set aside in a kept folder beside the staging
// folder, under the path it had in the program's folder, until the install
// has succeeded; should a failed install not be able to put it all back, it
// stays there, the user is told where, and the next try puts it back before
// anything else, never removing it.
//
// The program's folder and the staging folder are opened once, when the
// installation is prepared, and every later step goes through them, never
// following a link: what another process puts at their paths, or at a name
// inside them, is never walked through.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/folder_item.h"
#include "platform/folder_tree.h"
#include "platform/item_at.h"
#include "platform/made_items.h"
#include "update/program_place.h"

namespace update {

class PublishMoves;

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
  // this user alone. What an earlier try kept is put back first, and a
  // leftover staging folder of an interrupted update goes; when either
  // cannot, Prepare fails and FailureMessage says why.
  bool Prepare();

  enum class Outcome {
    NewBundle,  // a new bundle stands in the old one's place
    Placed,     // what was unpacked is in the folder; no bundle was replaced
    Failed,     // the program's folder is as it was, unless FailureMessage says
                // what could not be put back
  };
  // Moves what the unpacking made into the program's folder: folders merge
  // with those there, files replace files, and neither replaces the other;
  // a new bundle is always moved whole. The staging folder is read once,
  // first; only real folders and files of one link are moved, and each only
  // while it is still the item read. A link or anything else in the staging
  // folder, a folder that cannot be read, an item the job did not make, one
  // added, removed or swapped since, or anything that cannot be looked at
  // fails the whole
  // installation, and every move made is then taken back: what was moved in
  // goes back into the staging folder, what it replaced to its place, the
  // old bundle to its name, an earlier "OLD " copy to that name. The staging
  // folder is gone afterwards.
  // `made` is what the job made in the staging folder: anything else found
  // there was not, and fails the installation.
  Outcome Publish(const platform::MadeItems& made);
  // Removes the staging folder and what it holds; false when anything of it
  // stays.
  bool Discard();

  // What to tell the user after Prepare or Publish failed.
  std::string FailureMessage() const;

  std::filesystem::path Bundle() const;

  // For tests: asked just before each rename that publishing, its undo or
  // putting back what was kept makes, with the number of renames before it
  // since Prepare or Publish began; false fails that rename as a failing file
  // system would.
  std::function<bool(int)> BeforeEachMove;

 private:
  bool RecoverEarlierTry();
  bool Place(const std::vector<platform::TreeItem>& made, bool replacing, std::size_t bundle);
  bool SetOldCopyAside(PublishMoves& moves, bool& aside);
  bool SwapBundle();
  bool UnswapBundle();
  bool TrashOldCopySetAside();
  bool BeforeMove();
  // The staging folder held is still the one at its name.
  bool StagingInPlace() const;
  platform::FolderItem InProgramFolder(const char* name) const;

  std::filesystem::path folder_;
  std::filesystem::path running_;
  std::filesystem::path trash_;
  std::filesystem::path staging_;
  std::string stagingName_;
  std::filesystem::path kept_;
  std::string keptName_;
  platform::OpenFolderRef programFolder_;
  platform::OpenFolderRef stagingFolder_;
  platform::OpenFolderRef keptFolder_;
  // Why the last step failed, where the general message does not say it.
  enum class Trouble { None, LeftoverStays, KeptStays, OldNameTaken, TrashUnusable, NotAllPutBack };
  Trouble trouble_ = Trouble::None;
  // The Trash folder that could not be used, for TrashUnusable.
  std::filesystem::path unusableTrash_;
  // What a failed install could not take back.
  bool renamedBack_ = true;
  bool itemsKept_ = false;
  bool newItemsStay_ = false;
  int moves_ = 0;
};

}  // namespace update
