// Unix modes of extracted items, and the 16-bit halves of a member's
// external attributes that carry them. Modes are read and set with lstat and
// chmod; the results use Mac OS result codes, as the archive's callers expect.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "zip/zip_archive_data.h"

namespace zip {

namespace {

constexpr std::int32_t kIOError = -36;
constexpr std::int32_t kFileNotFound = -43;
constexpr std::int32_t kParamError = -50;
constexpr std::int32_t kPermissionError = -54;

std::int32_t ResultOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kPermissionError;
    default:
      return kIOError;
  }
}

}  // namespace

platform::ItemAt FSRef::At() const {
  return platform::FolderItem(path, folder).At();
}

std::optional<FSRef> ZipArchiveData::makeFSRef(const platform::FolderItem& f) const {
  platform::Looked st{};
  if (f.Path().empty() || !f.At().Lstat(st)) return std::nullopt;
  return FSRef{f.Path(), f.Folder()};
}

std::int32_t ZipArchiveData::getUnixPermissionsFromFile(const FSRef& ref,
                                                        std::int32_t& mode) const {
  platform::Looked st{};
  if (!ref.At().Lstat(st)) return ResultOf(errno);
  mode = static_cast<std::int32_t>(st.st_mode & 0xFFFF);
  return 0;
}

std::int32_t ZipArchiveData::updateUnixPermissions(const FSRef& ref, std::int32_t keep,
                                                   std::int32_t add) const {
  std::int32_t old = 0;
  if (std::int32_t result = getUnixPermissionsFromFile(ref, old); result != 0) return result;
  // chmod would act on what a link points at, which may lie anywhere.
  if (S_ISLNK(static_cast<mode_t>(old))) return kParamError;
  const std::uint32_t mode = (static_cast<std::uint32_t>(keep) & static_cast<std::uint32_t>(old)) |
                             static_cast<std::uint32_t>(add);
  // The file-type bits are the file system's; only the low twelve are
  // settable. In an anchored item's folder a link put there since is
  // refused, not followed.
  if (!ref.At().ChangeMode(static_cast<mode_t>(mode & 07777))) return ResultOf(errno);
  return 0;
}

std::int32_t ZipArchiveData::shiftRight16(std::int32_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) >> 16);
}

std::int32_t ZipArchiveData::shiftLeft16(std::int32_t v) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(v) & 0xFFFFu) << 16);
}

}  // namespace zip
