#include "platform/apple_double.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/mac_dates.h"

namespace platform {

namespace {

// Metadata entries are read whole; one larger than this is no metadata of
// ours, and is refused rather than loaded.
constexpr std::uint32_t kMaxMetadataEntry = 1u << 20;
// Seconds from 1904-01-01 to 2000-01-01, the epoch of AppleDouble dates.
constexpr std::int64_t kMacEpochTo2000 = 3029529600;

std::uint32_t BE(std::string_view bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

void PutBE(std::string& out, std::uint32_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string Reason(const std::string& what, int err) {
  return what + ": " + std::generic_category().message(err);
}

// The sidecar's own name, for messages.
std::string SidecarName(const ItemAt& sidecar) {
  return std::filesystem::path(sidecar.name).filename().string();
}

// Refuses to write over a "._" item that is not one of our sidecars; errno
// says that something else stands there.
bool Foreign(const ItemAt& item, std::string* error) {
  Fail(error, SidecarName(SidecarAt(item)) + " is not an AppleDouble file");
  errno = EEXIST;
  return false;
}

std::function<void(int, const std::string&)>& SidecarWriteHook() {
  static std::function<void(int, const std::string&)> hook;
  return hook;
}

// Up to `count` bytes at `offset`; fewer where the file ends or fails.
std::string ReadUpTo(int fd, std::uint64_t offset, std::size_t count) {
  std::string out(count, '\0');
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd, out.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return out;
}

// Exactly `count` bytes at `offset`, or false.
bool ReadAt(int fd, std::uint64_t offset, std::size_t count, std::string& out) {
  out = ReadUpTo(fd, offset, count);
  return out.size() == count;
}

bool CopyRange(int from, std::uint64_t offset, std::uint64_t length, int to, int* err) {
  std::string buffer;
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, 65536));
    if (!ReadAt(from, offset, n, buffer)) {
      *err = EIO;  // the source ended before the bytes it was said to hold
      return false;
    }
    if (!WriteAll(to, buffer, err)) return false;
    offset += n;
    length -= n;
  }
  return true;
}

std::string EncodeHeader(const std::vector<std::pair<std::uint32_t, std::string>>& entries,
                         std::uint64_t forkLength) {
  const std::size_t count = entries.size() + (forkLength > 0 ? 1 : 0);
  std::string out;
  PutBE(out, kAppleDoubleMagic, 4);
  PutBE(out, kAppleDoubleVersion2, 4);
  out.append(16, '\0');
  PutBE(out, static_cast<std::uint32_t>(count), 2);
  std::uint64_t offset = kAppleDoubleHeaderSize + count * kAppleDoubleDescriptorSize;
  for (const auto& [id, data] : entries) {
    PutBE(out, id, 4);
    PutBE(out, static_cast<std::uint32_t>(offset), 4);
    PutBE(out, static_cast<std::uint32_t>(data.size()), 4);
    offset += data.size();
  }
  if (forkLength > 0) {  // last, so that it can be any length
    PutBE(out, kAppleDoubleResourceFork, 4);
    PutBE(out, static_cast<std::uint32_t>(offset), 4);
    PutBE(out, static_cast<std::uint32_t>(forkLength), 4);
  }
  for (const auto& entry : entries) out += entry.second;
  return out;
}

// Whether any two entries, or an entry and the header ending at
// `headerEnd`, share bytes. Empty entries share none.
bool Overlapping(std::vector<AppleDoubleEntry> entries, std::uint64_t headerEnd) {
  std::sort(
      entries.begin(), entries.end(),
      [](const AppleDoubleEntry& a, const AppleDoubleEntry& b) { return a.offset < b.offset; });
  std::uint64_t end = headerEnd;
  for (const AppleDoubleEntry& e : entries) {
    if (e.length == 0) continue;
    if (e.offset < end) return true;
    end = std::uint64_t{e.offset} + e.length;
  }
  return false;
}

// Reads the header and the metadata entries of an open sidecar of `size`
// bytes; false (Foreign) when it is no AppleDouble file. Entries that lie
// outside the file or overlap are taken as damage: each is read whole, so
// what reading costs stays within the file's own size, whatever the header
// claims.
bool ReadEntries(SidecarContents& c, std::uint64_t size, std::string* error, bool* foreign) {
  std::string head;
  *foreign = true;
  if (!ReadAt(c.fd, 0, kAppleDoubleHeaderSize, head)) return true;
  const std::size_t headerEnd =
      kAppleDoubleHeaderSize + BE(head, 24, 2) * kAppleDoubleDescriptorSize;
  if (headerEnd > size || !ReadAt(c.fd, 0, headerEnd, head)) return true;
  auto found = ParseAppleDoubleHeader(head, size);
  if (!found || Overlapping(*found, headerEnd)) return true;
  *foreign = false;
  bool haveFork = false;
  for (const AppleDoubleEntry& e : *found) {
    if (e.id == kAppleDoubleResourceFork && !haveFork) {
      haveFork = true;
      c.forkOffset = e.offset;
      c.forkLength = e.length;
      continue;
    }
    if (e.length > kMaxMetadataEntry) return Fail(error, "The Mac metadata file is too large");
    std::string bytes;
    if (!ReadAt(c.fd, e.offset, e.length, bytes))
      return Fail(error, "Cannot read the Mac metadata");
    c.entries.emplace_back(e.id, std::move(bytes));
  }
  return true;
}

}  // namespace

std::optional<std::vector<AppleDoubleEntry>> ParseAppleDoubleHeader(std::string_view bytes,
                                                                    std::uint64_t totalSize) {
  if (totalSize == 0) totalSize = bytes.size();
  if (bytes.size() < kAppleDoubleHeaderSize || BE(bytes, 0, 4) != kAppleDoubleMagic ||
      BE(bytes, 4, 4) != kAppleDoubleVersion2) {
    return std::nullopt;
  }
  const std::size_t count = BE(bytes, 24, 2);
  if (count > (bytes.size() - kAppleDoubleHeaderSize) / kAppleDoubleDescriptorSize) {
    return std::nullopt;
  }
  std::vector<AppleDoubleEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kAppleDoubleHeaderSize + i * kAppleDoubleDescriptorSize;
    AppleDoubleEntry e{BE(bytes, at, 4), BE(bytes, at + 4, 4), BE(bytes, at + 8, 4)};
    if (e.offset > totalSize || e.length > totalSize - e.offset) return std::nullopt;
    entries.push_back(e);
  }
  return entries;
}

std::filesystem::path AppleDoubleSidecar(const std::filesystem::path& item) {
  std::filesystem::path p = item;
  if (!p.has_filename()) p = p.parent_path();
  return p.parent_path() / AppleDoubleSidecarName(p.filename().string());
}

std::string AppleDoubleSidecarName(std::string_view itemName) {
  return "._" + std::string(itemName);
}

ItemAt SidecarAt(const ItemAt& item) {
  if (!item.Anchored()) return ItemAt(AppleDoubleSidecar(std::filesystem::path(item.name)));
  return {item.folder, AppleDoubleSidecarName(item.name)};
}

namespace {

// The regular file of descriptor `fd` begins as AppleDouble.
bool BeginsAsAppleDouble(int fd) {
  std::string head;
  const bool yes = ReadAt(fd, 0, 8, head) && BE(head, 0, 4) == kAppleDoubleMagic &&
                   BE(head, 4, 4) == kAppleDoubleVersion2;
  ::close(fd);
  return yes;
}

}  // namespace

bool IsAppleDoubleFile(const std::filesystem::path& path, int folder) {
  Looked st{};
  const int fd = OpenRegularFile(folder, path.c_str(), st);
  return fd >= 0 && BeginsAsAppleDouble(fd);
}

bool IsAppleDoubleFile(const std::filesystem::path& path, int folder, int& unreadable) {
  unreadable = 0;
  Looked st{};
  // Looked at first: a name that cannot be looked at may well hold one.
  if (!LookAt(folder, path.c_str(), st, AT_SYMLINK_NOFOLLOW)) {
    if (errno != ENOENT) unreadable = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) return false;
  const int fd = OpenRegularFile(folder, path.c_str(), st);
  if (fd < 0) unreadable = errno;
  return fd >= 0 && BeginsAsAppleDouble(fd);
}

SidecarContents::~SidecarContents() {
  if (fd >= 0) ::close(fd);
}

const std::string* SidecarContents::Entry(std::uint32_t id) const {
  for (const auto& [entryId, bytes] : entries) {
    if (entryId == id) return &bytes;
  }
  return nullptr;
}

bool SidecarContents::SetEntry(std::uint32_t id, std::optional<std::string> bytes) {
  auto at =
      std::find_if(entries.begin(), entries.end(), [id](const auto& e) { return e.first == id; });
  if (!bytes) {
    if (at == entries.end()) return false;
    entries.erase(at);
    return true;
  }
  if (at == entries.end()) {
    entries.emplace_back(id, std::move(*bytes));
    return true;
  }
  if (at->second == *bytes) return false;
  at->second = std::move(*bytes);
  return true;
}

std::string SidecarContents::ReadFork(std::uint64_t at, std::size_t count) const {
  if (fd < 0 || at >= forkLength) return {};
  return ReadUpTo(fd, forkOffset + at,
                  static_cast<std::size_t>(std::min<std::uint64_t>(count, forkLength - at)));
}

bool ReadSidecar(const ItemAt& item, SidecarContents& out, std::string* error) {
  const ItemAt sidecar = SidecarAt(item);
  Looked st{};
  out.fd = OpenRegularFile(sidecar.folder, sidecar.name.c_str(), st);
  if (out.fd < 0) {
    if (st.st_mode != 0 && !S_ISREG(st.st_mode)) {
      // A link, a folder, a FIFO or a device: not ours to read or replace.
      out.kind = SidecarContents::Kind::Foreign;
      return true;
    }
    // A name too long for a sidecar to stand beside it has none.
    if (st.st_mode == 0 && (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG)) {
      return true;
    }
    return Fail(error, Reason("Cannot read " + SidecarName(sidecar), errno));
  }
  out.kind = SidecarContents::Kind::Foreign;
  bool foreign = true;
  if (!ReadEntries(out, static_cast<std::uint64_t>(st.st_size), error, &foreign)) return false;
  if (!foreign) out.kind = SidecarContents::Kind::AppleDouble;
  return true;
}

bool WriteSidecar(const ItemAt& item,
                  const std::vector<std::pair<std::uint32_t, std::string>>& entries, int forkFd,
                  std::uint64_t forkOffset, std::uint64_t forkLength, std::string* error,
                  Looked* written) {
  const ItemAt sidecar = SidecarAt(item);
  if (SidecarWriteHook()) SidecarWriteHook()(sidecar.folder, sidecar.name);
  if (entries.empty() && forkLength == 0) {
    if (::unlinkat(sidecar.folder, sidecar.name.c_str(), 0) != 0 && errno != ENOENT) {
      return Fail(error, Reason("Cannot remove " + SidecarName(sidecar), errno));
    }
    return true;
  }
  std::uint64_t total = kAppleDoubleHeaderSize + (entries.size() + 1) * kAppleDoubleDescriptorSize;
  for (const auto& entry : entries) total += entry.second.size();
  if (total + forkLength > 0xFFFFFFFFu) return Fail(error, "The resource fork is too large");
  const std::string head = EncodeHeader(entries, forkLength);
  Looked made{};
  const bool placed = WriteFileAtomicAt(
      sidecar.folder, sidecar.name,
      [&](int fd, int* err) {
        if (!WriteAll(fd, head, err) || !CopyRange(forkFd, forkOffset, forkLength, fd, err)) {
          return false;
        }
        // Unknown, it is taken for none: no caller then removes it as its own.
        if (written && !LookThrough(fd, made)) made = {};
        return true;
      },
      error);
  if (placed && written) *written = made;
  return placed;
}

bool UpdateSidecarEntry(const ItemAt& item, std::uint32_t id, std::optional<std::string> bytes,
                        std::string* error) {
  SidecarContents c;
  if (!ReadSidecar(item, c, error)) return false;
  if (c.kind == SidecarContents::Kind::Foreign) {
    return Foreign(item, error);
  }
  if (!c.SetEntry(id, std::move(bytes))) return true;
  return WriteSidecar(item, c.entries, c.fd, c.forkOffset, c.forkLength, error);
}

bool WriteResourceFork(const ItemAt& item, int forkFd, std::uint64_t length, std::string* error,
                       Looked* written) {
  SidecarContents c;
  if (!ReadSidecar(item, c, error)) return false;
  if (c.kind == SidecarContents::Kind::Foreign) {
    return Foreign(item, error);
  }
  if (length == 0 && c.forkLength == 0) return true;
  return WriteSidecar(item, c.entries, forkFd, 0, length, error, written);
}

void SetSidecarWriteHook(std::function<void(int folder, const std::string& name)> hook) {
  SidecarWriteHook() = std::move(hook);
}

std::string ReadFinderInfo(const ItemAt& item) {
  SidecarContents c;
  std::string info(kFinderInfoSize, '\0');
  if (!ReadSidecar(item, c, nullptr)) return info;
  if (const std::string* entry = c.Entry(kAppleDoubleFinderInfo)) {
    info.replace(0, std::min(entry->size(), kFinderInfoSize), *entry, 0, kFinderInfoSize);
  }
  return info;
}

bool WriteFinderInfo(const ItemAt& item, std::string_view info, std::string* error) {
  if (info.size() < kFinderInfoSize) return Fail(error, "Finder information takes 32 bytes");
  SidecarContents c;
  if (!ReadSidecar(item, c, error)) return false;
  if (c.kind == SidecarContents::Kind::Foreign) {
    return Foreign(item, error);
  }
  std::string entry(info.substr(0, kFinderInfoSize));
  if (const std::string* old = c.Entry(kAppleDoubleFinderInfo);
      old && old->size() > kFinderInfoSize) {
    entry += old->substr(kFinderInfoSize);
  }
  const bool empty = entry == std::string(kFinderInfoSize, '\0');
  if (!c.SetEntry(kAppleDoubleFinderInfo, empty ? std::nullopt : std::optional(entry))) return true;
  return WriteSidecar(item, c.entries, c.fd, c.forkOffset, c.forkLength, error);
}

std::optional<std::int64_t> ReadCreationDate(const ItemAt& item) {
  SidecarContents c;
  if (!ReadSidecar(item, c, nullptr)) return std::nullopt;
  const std::string* dates = c.Entry(kAppleDoubleFileDates);
  if (!dates || dates->size() < 4 || BE(*dates, 0, 4) == kUnknownAppleDoubleDate) {
    return std::nullopt;
  }
  const auto since2000 = static_cast<std::int32_t>(BE(*dates, 0, 4));
  return since2000 + kMacEpochTo2000 + 60 * static_cast<std::int64_t>(UTCOffsetInMinutes());
}

bool WriteCreationDate(const ItemAt& item, std::optional<std::int64_t> macSeconds,
                       std::string* error) {
  if (!macSeconds) return UpdateSidecarEntry(item, kAppleDoubleFileDates, std::nullopt, error);
  const std::int64_t since2000 =
      *macSeconds - kMacEpochTo2000 - 60 * static_cast<std::int64_t>(UTCOffsetInMinutes());
  if (since2000 <= INT32_MIN || since2000 > INT32_MAX)
    return Fail(error, "The date is out of range");
  std::string dates;
  PutBE(dates, static_cast<std::uint32_t>(since2000), 4);
  for (int i = 0; i < 3; ++i) PutBE(dates, kUnknownAppleDoubleDate, 4);
  return UpdateSidecarEntry(item, kAppleDoubleFileDates, dates, error);
}

void ReadMacTypeCreator(const ItemAt& item, std::string& type, std::string& creator) {
  type.clear();
  creator.clear();
  Looked st{};
  if (item.Stat(st) && S_ISDIR(st.st_mode)) return;
  const std::string info = ReadFinderInfo(item);
  if (info.compare(0, 8, std::string(8, '\0')) == 0) return;
  type = info.substr(finder_info::kType, 4);
  creator = info.substr(finder_info::kCreator, 4);
}

bool WriteMacTypeCreator(const ItemAt& item, std::string_view type, std::string_view creator,
                         std::string* error) {
  if (type.size() != 4 || creator.size() != 4)
    return Fail(error, "Type and creator take 4 bytes each");
  std::string info = ReadFinderInfo(item);
  info.replace(finder_info::kType, 4, type);
  info.replace(finder_info::kCreator, 4, creator);
  return WriteFinderInfo(item, info, error);
}

}  // namespace platform
