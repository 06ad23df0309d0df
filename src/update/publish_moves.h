#pragma once
// The moves that put what an unpacking made into the program's folder, each
// remembered so that a failure can take them all back. What is moved in
// comes from the staging folder; what must make way for it goes to the kept
// folder, under the same path it had in the program's folder, and stays
// there until the installation has succeeded, or goes back if it fails.
// Every item is found by its identity as well as its name: an item that
// another process has put at a name meanwhile is never moved.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/folder_tree.h"

namespace update {

using Tree = std::vector<platform::TreeItem>;

// What unpacking makes: real folders, and regular files with no other name.
// A link, a FIFO, a device, or a file that is also linked elsewhere was put
// there by someone else.
bool Unpacked(const platform::TreeItem& item);

class PublishMoves {
 public:
  // `made` is what the job made in the staging folder, as read; the three
  // folders are held open by the caller while this object lives.
  // `beforeMove` is asked before each rename, and fails it when false.
  PublishMoves(int program, int staging, int kept, const Tree& made,
               std::function<bool()> beforeMove);

  // Moves the item `name` at the top of the program's folder into the kept
  // folder, with its AppleDouble sidecar when it has one.
  bool SetAside(const std::string& name);
  // Moves the item `index` of the top of the staging folder whole, to a name
  // free in the program's folder.
  bool PlaceWhole(std::size_t index);
  // Moves every item not placed yet: a folder merges with a folder there, a
  // file replaces a file there; neither replaces the other.
  bool PlaceAll();

  // How many moves have been made; Undo can stop there.
  std::size_t Moves() const { return steps_.size(); }
  // Takes back every move made after the first `keep`, the last first: what
  // was moved in goes back to its place in the staging folder, what was set
  // aside back to its place. False when any could not be.
  bool Undo(std::size_t keep = 0);
  // After Undo: an item moved in stays in the program's folder, or one set
  // aside stays in the kept folder.
  bool NewItemsStay() const { return newItemsStay_; }
  bool ItemsKept() const { return itemsKept_; }

 private:
  // A move made: an item of the job's moved in (`in`), or one of the
  // program's folder set aside; `parent` is the index in `made` of the
  // folder that holds it (kTreeTop: the top), `id` what was moved.
  struct Step {
    bool in;
    std::size_t parent;
    std::string name;
    platform::ItemId id;
  };

  std::size_t End(std::size_t index) const;
  bool Reach(platform::FolderWalk& walk, std::size_t folder,
             const std::vector<platform::ItemId>& ids);
  bool ReachKept(std::size_t folder, int& at);
  bool Move(std::size_t index, bool whole, bool& merged);
  bool MoveIn(std::size_t index, int from, int to);
  bool Matches(std::size_t index, const Tree& inside) const;
  bool MoveAside(std::size_t parent, const std::string& name, int from);
  bool MoveBack(const Step& step, platform::FolderWalk& from,
                const std::vector<platform::ItemId>& fromIds, platform::FolderWalk& to,
                const std::vector<platform::ItemId>& toIds);
  bool TakeOut(const Step& step);
  bool PutBack(const Step& step);
  bool Rename(const platform::ItemAt& from, const platform::ItemAt& to);

  const Tree& made_;
  std::vector<platform::ItemId> stagingIds_;
  // The folders of the program's folder that folders of the job merged
  // with, and those made for them in the kept folder, by the index of the
  // job's folder.
  std::vector<platform::ItemId> programIds_;
  std::vector<platform::ItemId> keptIds_;
  std::vector<bool> placed_;
  platform::FolderWalk from_, to_, aside_;
  std::vector<Step> steps_;
  std::function<bool()> beforeMove_;
  bool newItemsStay_ = false;
  bool itemsKept_ = false;
};

// Puts what an earlier installation kept in the folder `kept` of the
// program's folder `program` back where it stood, each item only where
// nothing stands now, and removes the folders below it that it emptied.
// True when the kept folder is empty now; what cannot go back is never
// removed. `beforeMove` is asked before each rename, and fails it when
// false.
bool PutBackKept(int program, const std::string& kept, const std::function<bool()>& beforeMove);

}  // namespace update
