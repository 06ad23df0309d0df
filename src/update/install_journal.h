#pragma once
// The record an install keeps of every rename it makes, in a file of the
// kept folder, so that whatever stops it (a failed call, a kill, a crash)
// what it moved can be taken back from the file alone: by the install
// itself when a step fails, or by the next try before anything else.
//
// Each step is written and flushed to the disk before its rename is made,
// with the identity of the item it moves: a step whose item stands where
// the step put it was made; one whose item still stands where it was never
// was. Once everything is in place the install writes that it is done, and
// from then on nothing is taken back.
//
// The file is text, a record a line: the fields are separated by blanks,
// names are written with every byte that is no printable ASCII letter (and
// the blank and '%') as %XX, and each line ends with the CRC-32 of what
// precedes it. A line cut short by a kill, or one that does not match its
// CRC, ends what is read: its step was never made.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/item_at.h"

namespace update {

// The folders a step's item stands below.
enum class Root : char {
  Program = 'P',  // the program's folder
  Staging = 'S',  // the staging folder the new version was unpacked into
  Kept = 'K',     // the kept folder, where what makes way is set aside
  Trash = 'T',    // the Trash's folder of files (the item's name there unknown)
};

// Where an item stands: its path below a root, the names joined by '/'.
struct Spot {
  Root root = Root::Program;
  std::string path;
  friend bool operator==(const Spot&, const Spot&) = default;
};

// What a step moves, for telling the user where things are.
enum class Role : char {
  Running = 'R',  // the running copy (or its sidecar), to and from its "OLD " name
  Aside = 'A',    // an item of the program's folder, set aside in the kept folder
  In = 'N',       // an item of the new version, moved in from the staging folder
  Trashed = 'T',  // an item set aside, moved to the Trash once all is in place
};

struct Step {
  Role role = Role::Aside;
  Spot from, to;
  platform::ItemId id;
};
// A step written again with the same two spots tells what the rename moved
// after all, where another item than the one seen took its place in time:
// the later one holds.

// What a journal holds.
struct JournalContents {
  // The Trash that what was set aside goes to.
  std::string trash;
  // The steps, in the order they were written.
  std::vector<Step> steps;
  // Everything was in place: nothing is to be taken back.
  bool done = false;
};

class Journal {
 public:
  // Makes the journal `name` in the kept folder `kept` (held open), for this
  // user alone, naming the Trash `trash`; null with errno's value when it
  // cannot be made and flushed.
  static std::unique_ptr<Journal> Create(int kept, const std::string& name,
                                         const std::string& trash);
  // What the journal `name` in `kept` holds; none with errno's value when it
  // cannot be read (ENOENT: there is none). A journal that does not begin
  // as one of ours gives EBADMSG.
  static std::optional<JournalContents> Read(int kept, const std::string& name);

  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Writes `step` and flushes it to the disk; false with errno's value.
  bool Record(const Step& step);
  // Writes that everything is in place, flushed.
  bool Done();
  // What has been written: as Read would give it.
  const JournalContents& Written() const { return written_; }

 private:
  explicit Journal(int fd) : fd_(fd) {}
  bool Append(const std::string& line);

  int fd_;
  JournalContents written_;
};

}  // namespace update
