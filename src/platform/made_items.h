#pragma once
// What a job makes, noted as it makes it: each item's identity and type,
// looked at through the descriptor it was made with, so that what the job
// made can later be told from what another process put beside it, whatever
// names either bears by then. The layer below a job notes every file and
// folder it creates while the job's thread is recording.
#include <sys/stat.h>
#include <sys/types.h>

#include <set>

#include "platform/item_at.h"

namespace platform {

class MadeItems {
 public:
  void Note(const ItemId& id);
  bool Has(const ItemId& id) const;

 private:
  std::set<ItemId> items_;
};

// While it lives, what the calling thread makes goes into `made`.
class RecordingMade {
 public:
  explicit RecordingMade(MadeItems& made);
  ~RecordingMade();
  RecordingMade(const RecordingMade&) = delete;
  RecordingMade& operator=(const RecordingMade&) = delete;

 private:
  MadeItems* previous_;
};

// Notes the item `st` describes, or that of descriptor `fd`, as made by the
// calling thread, when it is recording.
void NoteMade(const struct stat& st);
void NoteMade(int fd);

}  // namespace platform
