#pragma once
// AppleDouble (version 2) headers: the Mac metadata of an item kept apart
// from its data, in a "._name" file beside it on this system and as "._"
// members in archives made on a Mac. The header is big-endian: magic,
// version, 16 filler bytes, an entry count, then one {id, offset, length}
// descriptor per entry.
//
// As the store of an item's metadata, a sidecar holds its resource fork,
// Finder information (type, creator, flags, script) and creation date. It
// exists only while one of them is not the default, is always replaced in one
// rename, and a "._" file that is not AppleDouble is never written over.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/item_at.h"

namespace platform {

inline constexpr std::uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr std::uint32_t kAppleDoubleVersion2 = 0x00020000;
inline constexpr std::size_t kAppleDoubleHeaderSize = 26;
inline constexpr std::size_t kAppleDoubleDescriptorSize = 12;
inline constexpr std::uint32_t kAppleDoubleResourceFork = 2;
inline constexpr std::uint32_t kAppleDoubleFileDates = 8;
inline constexpr std::uint32_t kAppleDoubleFinderInfo = 9;
inline constexpr std::size_t kFinderInfoSize = 32;
// File dates: creation, modification, backup, access; signed seconds since
// 2000-01-01 00:00 UTC, 0x80000000 for a date not known.
inline constexpr std::size_t kFileDatesSize = 16;
inline constexpr std::uint32_t kUnknownAppleDoubleDate = 0x80000000u;

// Finder information: where the parts this program uses lie in its 32 bytes.
namespace finder_info {
inline constexpr std::size_t kType = 0;
inline constexpr std::size_t kCreator = 4;
inline constexpr std::size_t kFlags = 8;  // 16 bits, big-endian
inline constexpr std::size_t kScript = 24;
inline constexpr std::size_t kExtendedFlags = 25;
inline constexpr std::uint16_t kIsInvisible = 0x4000;
}  // namespace finder_info

struct AppleDoubleEntry {
  std::uint32_t id = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

// The entry descriptors of an AppleDouble header; none when the bytes are
// not one, when a descriptor lies outside them, or when an entry lies outside
// the whole file (`totalSize`; the bytes given, when that is 0).
std::optional<std::vector<AppleDoubleEntry>> ParseAppleDoubleHeader(std::string_view bytes,
                                                                    std::uint64_t totalSize = 0);

// The name of the sidecar that holds an item's Mac metadata, as a path
// beside the item and as a name in the item's folder.
std::filesystem::path AppleDoubleSidecar(const std::filesystem::path& item);
std::string AppleDoubleSidecarName(std::string_view itemName);
// The sidecar of an item named for the *at calls, in the same folder.
ItemAt SidecarAt(const ItemAt& item);

// True when `path` is a regular file (not a link) that begins as AppleDouble.
// A relative path is taken in `folder`, an open folder's descriptor, or in
// the working folder (AT_FDCWD). Nothing that is no regular file is opened.
bool IsAppleDoubleFile(const std::filesystem::path& path, int folder = AT_FDCWD);
// The same, telling a file that could not be looked at or read from one
// that is none: false, with errno's value in `unreadable` for the first, 0
// where nothing stands or what stands there is no AppleDouble file.
bool IsAppleDoubleFile(const std::filesystem::path& path, int folder, int& unreadable);

// An item's sidecar as read: every entry but the resource fork with its
// bytes, and where the fork's bytes lie in the sidecar, which stays open for
// reading them while this object lives.
class SidecarContents {
 public:
  enum class Kind { None, AppleDouble, Foreign };
  SidecarContents() = default;
  ~SidecarContents();
  SidecarContents(const SidecarContents&) = delete;
  SidecarContents& operator=(const SidecarContents&) = delete;

  Kind kind = Kind::None;
  std::vector<std::pair<std::uint32_t, std::string>> entries;
  std::uint64_t forkOffset = 0;
  std::uint64_t forkLength = 0;
  int fd = -1;

  // The bytes of the entry with that id; nullptr when there is none.
  const std::string* Entry(std::uint32_t id) const;
  // Sets (or, with no bytes, removes) one entry; true when that changed it.
  bool SetEntry(std::uint32_t id, std::optional<std::string> bytes);
  // Up to `count` bytes of the resource fork from `at`, never beyond the
  // fork; fewer when the sidecar could not give them.
  std::string ReadFork(std::uint64_t at, std::size_t count) const;
};

// Reads the sidecar of `item`. A missing sidecar reads as Kind::None, a "._"
// file that is no AppleDouble file (or is not a regular file, or whose
// entries lie outside it or overlap) as Kind::Foreign. False, with the
// reason in *error (may be null), when it cannot be read.
bool ReadSidecar(const ItemAt& item, SidecarContents& out, std::string* error);

// Replaces the sidecar of `item` with `entries` and a resource fork copied
// from bytes [forkOffset, forkOffset + forkLength) of `forkFd`, or removes it
// when there is nothing to keep. The caller has read the sidecar there and
// found it AppleDouble or missing. Whatever stands at the sidecar's name by
// now is replaced, never followed. False with the reason when it was not
// written; the old sidecar then stands as it was. `written` (may be null)
// then describes the sidecar put in place, so that a caller can tell it
// from one put there since; it is left as it is when none was.
bool WriteSidecar(const ItemAt& item,
                  const std::vector<std::pair<std::uint32_t, std::string>>& entries, int forkFd,
                  std::uint64_t forkOffset, std::uint64_t forkLength, std::string* error,
                  Looked* written = nullptr);

// Sets (or, with no bytes, removes) one entry of an item's sidecar and keeps
// the rest, the resource fork included. A foreign "._" file is refused.
bool UpdateSidecarEntry(const ItemAt& item, std::uint32_t id, std::optional<std::string> bytes,
                        std::string* error);

// Gives an item the resource fork held in bytes [0, length) of `forkFd`
// (none when length is 0), keeping its other metadata. A foreign "._" file
// is refused. `written` as for WriteSidecar.
bool WriteResourceFork(const ItemAt& item, int forkFd, std::uint64_t length, std::string* error,
                       Looked* written = nullptr);

// For tests: runs just before a sidecar is replaced or removed, with its
// folder and name, so that a test can change what stands there at that
// point, as another process might. None by default.
void SetSidecarWriteHook(std::function<void(int folder, const std::string& name)> hook);

// An item's 32 bytes of Finder information; all zero when it has none.
std::string ReadFinderInfo(const ItemAt& item);
// Stores the first 32 bytes of an item's Finder information, keeping any
// bytes the entry holds beyond them; all zero removes a 32-byte entry.
bool WriteFinderInfo(const ItemAt& item, std::string_view info, std::string* error);

// An item's creation date of its own, in seconds on the Mac scale (since
// 1904-01-01 local time); none when its sidecar holds none.
std::optional<std::int64_t> ReadCreationDate(const ItemAt& item);
// Stores a creation date, or with none removes it.
bool WriteCreationDate(const ItemAt& item, std::optional<std::int64_t> macSeconds,
                       std::string* error);

// A file's Mac type and creator (4 bytes each, as stored) from its sidecar.
// Empty strings when the item has no sidecar, the sidecar is no AppleDouble
// file, carries no Finder information, or the item is a folder (whose
// Finder information holds no type or creator).
void ReadMacTypeCreator(const ItemAt& item, std::string& type, std::string& creator);

// Gives a file its Mac type and creator (4 bytes each) in its sidecar,
// creating the sidecar or keeping every other entry of the one there (the
// rest of the Finder information, a resource fork). A "._" file that is not
// AppleDouble is never overwritten. The sidecar is written atomically.
// False with the reason in *error (may be null) when it was not written.
bool WriteMacTypeCreator(const ItemAt& item, std::string_view type, std::string_view creator,
                         std::string* error);

}  // namespace platform
