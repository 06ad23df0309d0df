#include "zip/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/apple_double.h"
#include "platform/atomic_file.h"
#include "platform/item_at.h"
#include "platform/made_items.h"

namespace zip {

namespace {

// What stands at `sidecar` in `folder`: nothing, one of our sidecars, a
// folder, something else (no AppleDouble file, or no regular file at all; a
// link is never followed), or what could not be looked at, for the reason
// `unknown` then holds.
enum class Sidecar { None, Ours, Folder, Foreign, Unknown };

Sidecar WhatStandsAt(int folder, const std::string& sidecar, int& unknown) {
  platform::Looked st{};
  if (!platform::LookAt(folder, sidecar.c_str(), st, AT_SYMLINK_NOFOLLOW)) {
    unknown = errno;
    return errno == ENOENT ? Sidecar::None : Sidecar::Unknown;
  }
  if (S_ISDIR(st.st_mode)) return Sidecar::Folder;
  // One that cannot be read is no sidecar of ours: it is neither replaced
  // nor removed.
  return platform::IsAppleDoubleFile(sidecar, folder) ? Sidecar::Ours : Sidecar::Foreign;
}

// Why a resource fork cannot take the place of what stands at its sidecar's
// name: EISDIR for a folder, EEXIST for another item that is no sidecar of
// ours, the reason it could not be told; 0 when nothing blocks it.
int Refusal(Sidecar there, int unknown) {
  if (there == Sidecar::Folder) return EISDIR;
  if (there == Sidecar::Unknown) return unknown;
  return there == Sidecar::Foreign ? EEXIST : 0;
}

// `name` in `folder` is still the item `st` describes.
bool StillAt(int folder, const std::string& name, const platform::Looked& st) {
  platform::Looked there{};
  return platform::LookAt(folder, name.c_str(), there, AT_SYMLINK_NOFOLLOW) &&
         platform::ItemId::Of(there) == platform::ItemId::Of(st);
}

}  // namespace

std::unique_ptr<StagedFile> StagedFile::Create(const platform::FolderItem& destination,
                                               const platform::Looked* old, mode_t mode) {
  const int folder = destination.Folder() ? destination.Folder()->fd() : -1;
  if (folder < 0) {
    errno = EBADF;
    return nullptr;
  }
  std::string staged;
  const int fd = platform::CreateTemporaryFile(folder, ".part", mode, &staged);
  if (fd < 0) return nullptr;
  // The umask may have taken bits the file it replaces had; it gets them
  // back now, before a byte is written, and never more than them.
  if (old && S_ISREG(old->st_mode) && ::fchmod(fd, mode) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlinkat(folder, staged.c_str(), 0);
    errno = saved;
    return nullptr;
  }
  std::filesystem::path path = destination.Path();
  path.replace_filename(staged);
  return std::unique_ptr<StagedFile>(new StagedFile(
      platform::FolderItem(std::move(path), destination.Folder()), fd, destination.Name()));
}

bool StagedFile::MadeInPlace() const {
  return item_.Name() == name_;
}

std::unique_ptr<StagedFile> StagedFile::InPlace(const platform::FolderItem& destination,
                                                mode_t mode) {
  if (!destination.Folder() || destination.Folder()->fd() < 0) {
    errno = EBADF;
    return nullptr;
  }
  const platform::ItemAt at = destination.At();
  // Where the sidecar's name cannot be looked at, its fork could land on
  // what stands there: the file is staged, and that name looked at again.
  platform::Looked st{};
  if (platform::SidecarAt(at).Lstat(st) || errno != ENOENT) {
    errno = EEXIST;
    return nullptr;
  }
  const int fd = ::openat(at.folder, at.name.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  return std::unique_ptr<StagedFile>(new StagedFile(destination, fd, at.name));
}

StagedFile::~StagedFile() {
  const std::string staged = item_.Name(), sidecar = platform::AppleDoubleSidecarName(staged);
  platform::Looked mine{};
  // Made in place, it is removed only while it is still the file made here.
  const bool remove =
      !committed_ &&
      (!MadeInPlace() || (platform::LookThrough(fd_, mine) && StillAt(folder_, staged, mine)));
  ::close(fd_);
  if (remove) ::unlinkat(folder_, staged.c_str(), 0);
  // Its sidecar goes even where another's file has taken its name, which
  // would else show the fork of a member that failed.
  if (!committed_ && sidecar_.st_ino != 0 && StillAt(folder_, sidecar, sidecar_)) {
    ::unlinkat(folder_, sidecar.c_str(), 0);
  }
}

int StagedFile::SidecarBlocked(bool fork) const {
  // In place, a fork has gone straight to the sidecar's name, or failed.
  if (!fork || MadeInPlace()) return 0;
  int unknown = 0;
  const Sidecar there = WhatStandsAt(folder_, platform::AppleDoubleSidecarName(name_), unknown);
  return Refusal(there, unknown);
}

bool StagedFile::Commit(bool fork, bool sidecarExtracted) {
  if (MadeInPlace()) {
    committed_ = true;
    sidecarBeside_ = fork;
    return true;
  }
  const std::string staged = item_.Name();
  const std::string from = platform::AppleDoubleSidecarName(staged),
                    to = platform::AppleDoubleSidecarName(name_);
  int unknown = 0;
  const Sidecar there = WhatStandsAt(folder_, to, unknown);
  if (const int refused = fork ? Refusal(there, unknown) : 0) {
    forkFailed_ = true;
    errno = refused;
    return false;
  }
  // The sidecar goes first, so that a failure leaves nothing half-moved:
  // the old one is kept under a second name until the data is in place.
  std::string kept;
  if (fork) {
    if (there == Sidecar::Ours) {
      kept = staged + ".old";
      if (::linkat(folder_, to.c_str(), folder_, kept.c_str(), 0) != 0) kept.clear();
    }
    if (::renameat(folder_, from.c_str(), folder_, to.c_str()) != 0) {
      const int saved = errno;
      forkFailed_ = true;
      if (!kept.empty()) ::unlinkat(folder_, kept.c_str(), 0);
      errno = saved;
      return false;
    }
  }
  if (::renameat(folder_, staged.c_str(), folder_, name_.c_str()) != 0) {
    const int saved = errno;
    if (fork && !kept.empty()) {
      ::renameat(folder_, kept.c_str(), folder_, to.c_str());
    } else if (fork) {
      ::unlinkat(folder_, to.c_str(), 0);
    }
    errno = saved;
    return false;
  }
  committed_ = true;
  if (!kept.empty()) ::unlinkat(folder_, kept.c_str(), 0);
  sidecarBeside_ = fork || there != Sidecar::None;
  // The new file takes metadata only from its member: not the fork and
  // Finder information of the file it replaced, nor those of a sidecar that
  // stood there with no file beside it. A "._" file that the extraction
  // wrote as a member of its own is the archive's, and stays.
  if (!fork && there == Sidecar::Ours && !sidecarExtracted &&
      ::unlinkat(folder_, to.c_str(), 0) == 0) {
    sidecarBeside_ = false;
  }
  return true;
}

}  // namespace zip
