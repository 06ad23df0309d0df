#include "zip/staged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/apple_double.h"

namespace zip {

namespace fs = std::filesystem;

namespace {

// A "._" file stands at `sidecar` that is no sidecar of ours.
bool ForeignSidecar(const fs::path& sidecar) {
  struct stat st {};
  return ::lstat(sidecar.c_str(), &st) == 0 && !platform::IsAppleDoubleFile(sidecar);
}

}  // namespace

std::unique_ptr<StagedFile> StagedFile::Create(const platform::FolderItem& destination) {
  const fs::path folder = destination.Path().parent_path();
  struct stat old {};
  const bool replacing = ::lstat(destination.Path().c_str(), &old) == 0 && S_ISREG(old.st_mode);
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 16; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".vantora-%016llx.part",
                  static_cast<unsigned long long>(random()));
    const fs::path staged = folder / name;
    const int fd =
        ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (replacing) ::fchmod(fd, old.st_mode & 0777);
    ::close(fd);
    return std::unique_ptr<StagedFile>(
        new StagedFile(platform::FolderItem(staged), destination, replacing));
  }
  return nullptr;
}

StagedFile::~StagedFile() {
  if (!committed_) item_.Delete();
}

bool StagedFile::SidecarBlocked() const {
  return platform::IsAppleDoubleFile(platform::AppleDoubleSidecar(item_.Path())) &&
         ForeignSidecar(platform::AppleDoubleSidecar(destination_.Path()));
}

bool StagedFile::Commit(bool sidecarExtracted) {
  const fs::path from = platform::AppleDoubleSidecar(item_.Path());
  const fs::path to = platform::AppleDoubleSidecar(destination_.Path());
  const bool fork = platform::IsAppleDoubleFile(from);
  if (fork && ForeignSidecar(to)) return false;
  struct stat st {};
  const bool oldSidecar = !ForeignSidecar(to) && ::lstat(to.c_str(), &st) == 0;
  // The sidecar goes first, so that a failure leaves nothing half-moved:
  // the old one is kept under a second name until the data is in place.
  fs::path kept;
  if (fork) {
    if (oldSidecar) {
      kept = item_.Path().string() + ".old";
      if (::link(to.c_str(), kept.c_str()) != 0) kept.clear();
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
      if (!kept.empty()) ::unlink(kept.c_str());
      return false;
    }
  }
  if (::rename(item_.Path().c_str(), destination_.Path().c_str()) != 0) {
    if (fork && !kept.empty()) {
      ::rename(kept.c_str(), to.c_str());
    } else if (fork) {
      ::unlink(to.c_str());
    }
    return false;
  }
  committed_ = true;
  if (!kept.empty()) ::unlink(kept.c_str());
  // The old file's fork and Finder information do not belong to the new one.
  // Without an old file, a "._" file there is no sidecar of its; nor is one
  // that the extraction wrote as a member of its own.
  if (!fork && oldSidecar && replacing_ && !sidecarExtracted) ::unlink(to.c_str());
  return true;
}

}  // namespace zip
