#pragma once
// The moves that put what an unpacking made into the program's folder. What
// is moved in comes from the staging folder; what must make way for it goes
// to the kept folder, under the same path it had in the program's folder.
// Every move is written to the install's journal before it is made, so that
// it can be taken back from there (see take_back.h). Every item is found by
// its identity as well as its name: an item that another process has put at
// a name meanwhile is never moved.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/folder_tree.h"
#include "update/install_journal.h"

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
  PublishMoves(int program, int staging, int kept, const Tree& made, Journal& journal,
               std::function<bool()> beforeMove);

  // Moves the item `name` at the top of the program's folder into the kept
  // folder; nothing there, nothing to do.
  bool SetAside(const std::string& name);
  // Renames the item `from` at the top of the program's folder to `to`, the
  // running copy's move to or from its "OLD " name.
  bool RenameRunning(const std::string& from, const std::string& to);
  // Moves the item `index` of the top of the staging folder whole, to a name
  // free in the program's folder.
  bool PlaceWhole(std::size_t index);
  // Moves every item not placed yet: a folder merges with a folder there, a
  // file replaces a file there; neither replaces the other.
  bool PlaceAll();

  // Why the last move that failed did (errno's value).
  int Error() const { return error_; }

 private:
  std::size_t End(std::size_t index) const;
  bool Reach(platform::FolderWalk& walk, std::size_t folder,
             const std::vector<platform::ItemId>& ids);
  bool ReachKept(std::size_t folder, int& at);
  bool Move(std::size_t index, bool whole, bool& merged);
  bool MoveIn(std::size_t index, int from, int to);
  bool Matches(std::size_t index, const Tree& inside) const;
  bool MoveAside(std::size_t parent, const std::string& name, int from);
  // The path of `name` in the job's folder `parent` (kTreeTop: the top).
  std::string PathOf(std::size_t parent, const std::string& name) const;
  // Every move goes this way: written to the journal, then made, never
  // onto anything that stands at `to`.
  bool Journaled(const Step& step, const platform::ItemAt& from, const platform::ItemAt& to,
                 platform::Looked& arrived);
  bool Failed();

  const Tree& made_;
  std::vector<platform::ItemId> stagingIds_;
  // The folders of the program's folder that folders of the job merged
  // with, and those made for them in the kept folder, by the index of the
  // job's folder.
  std::vector<platform::ItemId> programIds_;
  std::vector<platform::ItemId> keptIds_;
  std::vector<bool> placed_;
  platform::FolderWalk from_, to_, aside_;
  Journal& journal_;
  std::function<bool()> beforeMove_;
  int error_ = 0;
};

}  // namespace update
