#pragma once
// Taking back what an install's journal says it moved: the one way back,
// for the install whose step failed and for the next try alike.
#include <functional>
#include <string>
#include <vector>

#include "update/install_journal.h"

namespace update {

// The folders a journal's spots are found in: the program's folder held
// open, the names of the staging and kept folders in it, and the Trash.
struct JournalFolders {
  int program = -1;
  std::string staging;
  std::string kept;
};

// Where a step's item stands once the take-back is over.
enum class Stands {
  Back,     // where it was before the step
  Moved,    // still where the step put it: it could not go back
  Unknown,  // at neither place: moved by someone else since
};

struct StepLeft {
  Step step;
  Stands where;
};

struct TakenBack {
  // The steps whose items are not back, the last step first.
  std::vector<StepLeft> left;
  // The reason the first take-back that failed gave (errno's value), 0 for
  // none.
  int error = 0;
  bool Complete() const { return left.empty(); }
};

// The folder that holds `spot`'s item, reached never through a link; with
// `make`, the folders missing on its way are made (the staging folder for
// this user alone). Null with errno's value when it cannot be reached.
platform::OpenFolderRef HolderOf(const JournalFolders& folders, const JournalContents& journal,
                                 const Spot& spot, bool make);
// The item at `spot` is the item `id`: true; another or none: false with
// errno 0 or ENOENT; it could not be looked at: false with errno's value.
bool Holds(const JournalFolders& folders, const JournalContents& journal, const Spot& spot,
           const platform::ItemId& id);

// Takes back every step of `journal` whose item stands where the step put
// it, the last step first: what came in goes back to the staging folder
// (made again where it is gone), what was set aside or renamed back to its
// place, what went to the Trash back to the kept folder. A step's item is
// only moved while it is the one the step moved, and never onto anything.
// `beforeMove` is asked before each rename, and fails it when false.
TakenBack TakeBack(const JournalFolders& folders, const JournalContents& journal,
                   const std::function<bool()>& beforeMove);

}  // namespace update
