#pragma once
// What a job makes, noted as it makes it: each item's identity and type,
// looked at through the descriptor it was made with (or right after it was
// made, for a folder), so that what the job
// made can later be told from what another process put beside it, whatever
// names either bears by then. The layer below a job notes every file and
// folder it creates while the job's thread is recording.
#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

#include "platform/item_at.h"

namespace platform {

class MadeItems {
 public:
  void Note(const ItemId& id);
  // Asked once the job has ended, from one thread at a time.
  bool Has(const ItemId& id) const;

 private:
  // In the order noted, and sorted at the first question: a job notes tens
  // of thousands, and a list takes a third of the memory a tree of them does.
  mutable std::vector<ItemId> items_;
  mutable bool sorted_ = true;
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

// Notes the item `st` describes as made by the calling thread, when it is
// recording. The look is one the maker takes anyway, through the item's own
// descriptor once it is complete, so that noting costs no call of its own.
void NoteMade(const Looked& st);
// The same with a look of its own through `fd`, taken only while recording:
// for what a job makes seldom (a sidecar), where it takes no look anyway.
void NoteMade(int fd);

}  // namespace platform
