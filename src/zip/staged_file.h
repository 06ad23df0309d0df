#pragma once
// A member's file is decoded into a staged file beside its destination and
// takes the destination's name only once it is complete, so a failed
// extraction leaves what stood at the destination (a file, or a link) as it
// was. Where nothing stands at the destination or at its sidecar's name,
// there is nothing to keep: the file is then made under its own name at
// once, and removed again when the extraction fails.
//
// A file is made with no more permission than it ends up with, so that no
// one can open it while it is written whom its final mode keeps out.
#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/folder_item.h"

namespace zip {

class StagedFile {
 public:
  // A new empty file in the destination's folder, under a hidden name of its
  // own, made with `mode` (less the umask, for a new file; exactly, for one
  // that replaces a regular file). The destination is anchored in that
  // folder, and every name is taken in it, so a link put in place of a
  // folder on the destination's path is never followed. `old` is what stands
  // at the destination, as the caller found it (null for nothing). None,
  // with errno's value saying why, when the file cannot be made.
  static std::unique_ptr<StagedFile> Create(const platform::FolderItem& destination,
                                            const platform::Looked* old, mode_t mode);
  // The file made under the destination's own name with `mode` (less the
  // umask), where nothing stands there or at its sidecar's name; none
  // otherwise, with errno's value saying why (EEXIST: something stands at
  // one of them, or the sidecar's name could not be looked at).
  static std::unique_ptr<StagedFile> InPlace(const platform::FolderItem& destination, mode_t mode);
  // Removes the staged file and its sidecar unless it was committed: the
  // file while it is the one made, the sidecar while it is the one written
  // for it, so that what another process put at either name stays.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  const platform::FolderItem& Item() const { return item_; }
  // The staged file, open for reading and writing while this object lives,
  // before and after the commit.
  int Descriptor() const { return fd_; }
  // Where the writer of the staged file's resource fork notes the sidecar it
  // writes (see RsrcForkWriter).
  platform::Looked* SidecarWritten() { return &sidecar_; }
  // Why the staged file's sidecar (`fork`: a resource fork was written for
  // it) cannot go with it: EISDIR for a folder at the destination's sidecar
  // name, EEXIST for another item there that is no AppleDouble file; 0 when
  // nothing blocks it.
  int SidecarBlocked(bool fork) const;
  // Renames the staged file over the destination (a link there is replaced,
  // never followed), with its sidecar when it has one (`fork`). An
  // AppleDouble file at the sidecar's name goes (the replaced item's, or one
  // that stood there alone), unless `sidecarExtracted` says that it is one
  // the extraction wrote itself; a "._" item there that is not an
  // AppleDouble file is left alone. False, with errno's value, when either
  // cannot be put in place; the old file then keeps its data and, where the
  // file system can keep a second name for it, its sidecar.
  bool Commit(bool fork, bool sidecarExtracted = false);
  // The commit failed on the sidecar, not on the file.
  bool ForkFailed() const { return forkFailed_; }
  // After the commit: something stands at the destination's sidecar name.
  bool SidecarBeside() const { return sidecarBeside_; }

 private:
  StagedFile(platform::FolderItem item, int fd, std::string name)
      : item_(std::move(item)), folder_(item_.Folder()->fd()), fd_(fd), name_(std::move(name)) {}
  // Made under the destination's own name.
  bool MadeInPlace() const;

  // The staged file, anchored in the destination's folder, which it holds
  // open.
  platform::FolderItem item_;
  int folder_;
  int fd_;
  // The destination's name in that folder.
  std::string name_;
  // The sidecar written for the staged file; st_ino 0 while none was.
  platform::Looked sidecar_{};
  bool committed_ = false;
  bool forkFailed_ = false;
  bool sidecarBeside_ = true;
};

}  // namespace zip
