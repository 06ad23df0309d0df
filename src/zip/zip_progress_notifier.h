#pragma once
// The archive's one channel to its user during long operations: progress of
// an entry, a failed item of a folder walk, and the start of each item. Each
// answer comes back through a flag that the archive sets to False before it
// asks. The calls are made synchronously on the thread that runs the archive
// operation.
#include <cstdint>
#include <string>

#include "platform/folder_item.h"

namespace zip {

class ZipEntry;

class ZipProgressNotifier {
 public:
  virtual ~ZipProgressNotifier() = default;

  // `done` of `total` content bytes of `entry`; True in `abort` stops it.
  virtual void zipProgress(const ZipEntry& entry, std::int32_t total, std::int32_t done,
                           bool& abort) = 0;
  // Adding `file` failed with `code` and `msg` (already the archive's
  // message). False in `abort` skips the item where the operation allows it.
  virtual void ZipFileError(const platform::FolderItem& file, std::int32_t code,
                            const std::string& msg, bool& abort) = 0;
  // The folder walk is about to add `file`; True in `skip` ends the walk.
  virtual void ZipFileStarting(const platform::FolderItem& file, bool& skip) = 0;
};

}  // namespace zip
