// Fuzz entry point: any bytes as an archive file, opened, every field of
// every entry read, and what an open promises checked: no record lost, every
// entry found by its own raw path, every paired companion marked. Then every
// member is extracted into a fresh folder beside one that a link in it leads
// to, with a link to a file out there planted at each member's sidecar name
// before the member is written and again before its sidecar is, and nothing
// may appear or change outside it. Then the same bytes opened writable, one
// member removed, compacted and closed: what was written must open again,
// writable, with the other members, each that could be read before still
// reading as the same bytes, or have been refused with a message. A broken
// promise aborts, so the replay and libFuzzer both report it. Built into the
// corpus replay test, and with clang's libFuzzer when VANTORA_FUZZ is on.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "memory_streams.h"
#include "platform/apple_double.h"
#include "zip/zip_archive.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "zip fuzz check failed: %s\n", what);
  std::abort();
}

std::uint32_t LE(std::string_view bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// The end record that the reader must have taken, and the directory it
// places: the nearest to the end of the file (within the longest comment's
// reach) whose comment reaches that end and whose directory starts with a
// central record, or, empty, ends at the record; with none such, the
// nearest. None where a record leaves a field to zip64 records, whose rules
// the reader's own tests check.
struct Directory {
  std::size_t end, start, stop;
};
std::optional<Directory> TakenDirectory(std::string_view file) {
  const std::string_view signature("PK\x05\x06", 4);
  const std::size_t lowest = file.size() > 22 + 65560 ? file.size() - 22 - 65560 : 0;
  std::optional<Directory> nearest;
  for (std::size_t at = file.rfind(signature, file.size() - 22);
       at != std::string_view::npos && at >= lowest;
       at = at == 0 ? std::string_view::npos : file.rfind(signature, at - 1)) {
    const bool escaped = LE(file, at + 4, 2) == 0xFFFF || LE(file, at + 6, 2) == 0xFFFF ||
                         LE(file, at + 8, 2) == 0xFFFF || LE(file, at + 10, 2) == 0xFFFF ||
                         LE(file, at + 12, 4) == 0xFFFFFFFF || LE(file, at + 16, 4) == 0xFFFFFFFF;
    if (escaped && at >= 20 && file.substr(at - 20, 4) == std::string_view("PK\x06\x07", 4)) {
      return std::nullopt;
    }
    const std::size_t start = LE(file, at + 16, 4), size = LE(file, at + 12, 4);
    if (!nearest) nearest = Directory{at, start, start + size};
    const bool reaches = at + 22 + LE(file, at + 20, 2) == file.size();
    const bool starts = size == 0 ? start == at
                                  : start + 4 <= file.size() &&
                                        file.substr(start, 4) == std::string_view("PK\x01\x02", 4);
    if (reaches && starts) return Directory{at, start, start + size};
  }
  Check(nearest.has_value(), "an archive without an end record opened");
  return nearest;
}

// The central records of an opened archive, counted straight from its bytes,
// one record after another over the directory the reader must have taken.
std::optional<std::size_t> CountRecords(std::string_view file, const zip::ZipArchive& archive) {
  Check(file.size() >= 22, "an archive shorter than an end record opened");
  const auto directory = TakenDirectory(file);
  if (!directory) return std::nullopt;
  const auto [end, start, stop] = *directory;
  Check(static_cast<std::int64_t>(start) == archive.StartOfDirectory(), "directory start");
  Check(stop <= end, "the directory reaches past its end record");
  std::size_t count = 0;
  for (std::size_t at = start; at < stop; ++count) {
    Check(at + 46 <= stop, "a record cut short was read");
    at += 46 + LE(file, at + 28, 2) + LE(file, at + 30, 2) + LE(file, at + 32, 2);
  }
  return count;
}

void CheckPromises(std::string_view file, zip::ZipArchive& archive) {
  const auto& setAside = archive.Data()->setAside;
  const std::int32_t n = archive.EntryCount();
  const std::optional<std::size_t> records = CountRecords(file, archive);
  Check(!records || static_cast<std::size_t>(n) + setAside.size() == *records,
        "entries and set-aside records do not add up to the records read");
  std::size_t paired = 0;
  for (std::int32_t i = 1; i <= n; ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    Check(!e->IsAppleDoubleEntry(), "a companion left among the entries");
    if (const zip::ZipEntryRef& companion = e->AppleDoubleEntry()) {
      ++paired;
      Check(companion->IsAppleDoubleEntry(), "a paired companion is not marked");
      Check(std::find(setAside.begin(), setAside.end(), companion) != setAside.end(),
            "a paired companion is not set aside");
    }
    // A lookup drops one leading "/" and takes an empty path for "/", so such
    // names are not found by their own raw path, by design.
    const platform::Text& raw = e->RawPath();
    if (raw.bytes.empty() || raw.bytes.front() == '/') continue;
    const std::int32_t found = archive.EntryIdxByRawPath(raw.bytes, 1, raw.encoding);
    Check(found >= 1 && found <= i &&
              archive.Entry(found)->z_origEncodedName() == e->z_origEncodedName(),
          "an entry is not found by its own raw path");
  }
  Check(paired == static_cast<std::size_t>(std::count_if(
                      setAside.begin(), setAside.end(),
                      [](const zip::ZipEntryRef& e) { return e->IsAppleDoubleEntry(); })),
        "a companion is marked but paired with no entry");
}

void ReadEveryField(zip::ZipArchive& archive) {
  const std::int32_t n = archive.EntryCount();
  volatile std::int64_t sink = 0;
  for (std::int32_t i = 1; i <= n; ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    sink = sink + e->Size() + e->CompressedSize() + e->CompressionMethod() + e->OSMadeBy() +
           e->ExternalFileAttributes() + e->IsEncrypted() + e->CanExtract() + e->IsTextFile();
    if (auto t = e->Time()) sink = sink + t->TotalSeconds();
    std::vector<std::string> path;
    e->GetPath(path);
    sink = sink + static_cast<std::int64_t>(e->Name().size() + e->RawPath().ToUTF8().size() +
                                            e->Comment().ToUTF8().size() + path.size());
    for (const zip::ZipExtraFieldRef& field : {e->ExtraFieldInCentralDir(), e->ExtraField()}) {
      if (!field) continue;
      std::string type, creator;
      platform::Text name;
      std::int32_t at = 0, mt = 0;
      sink = sink + field->GetTypeCreatorName(type, creator, name) + field->GetUnixTimes(at, mt);
    }
    sink = sink + archive.Data()->isFakeEntry(*e->z_Header(), -1);
    if (e->AppleDoubleEntry()) sink = sink + e->AppleDoubleEntry()->Size();
    sink = sink + archive.EntryIdxByRawPath(e->RawPath().bytes, 1);
  }
  sink = sink + static_cast<std::int64_t>(archive.AllEntriesAsRawPaths().size());
}

std::vector<std::string> Names(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Extracts every member below base/root, where the link "escape" leads to
// base/outside, and checks that base holds nothing new and outside nothing
// changed.
void ExtractEverything(zip::ZipArchive& archive, bool followAliases) {
  namespace fs = std::filesystem;
  // In memory where the system offers it: the metadata store flushes each
  // change to the disk, which would take most of a long run.
  std::error_code shm;
  const fs::path tmp =
      fs::is_directory("/dev/shm", shm) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (tmp / "zip-fuzz-XXXXXX").string();
  Check(mkdtemp(pattern.data()) != nullptr, "no temporary folder");
  const fs::path base = pattern, root = base / "root", outside = base / "outside";
  fs::create_directories(root);
  fs::create_directories(outside);
  std::ofstream(outside / "victim") << "untouched";
  fs::create_directory_symlink(outside, root / "escape");
  const platform::FolderItem rootItem(root);
  const fs::path realRoot = fs::canonical(root);
  // And one put at every sidecar's name just before the sidecar is written.
  const std::string target = outside / "victim";
  platform::SetSidecarWriteHook([target](int folder, const std::string& name) {
    ::symlinkat(target.c_str(), folder, name.c_str());
  });
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    const std::optional<platform::FolderItem> destination =
        e->MakeDestination(rootItem, followAliases);
    // A link to the victim at the name of the member's sidecar, where the
    // member's folder lies inside the root: no step may follow it.
    std::error_code ec;
    const fs::path folder =
        destination ? fs::canonical(destination->Path().parent_path(), ec) : fs::path();
    const std::string name = destination ? destination->Name() : std::string();
    if (!ec && !name.empty() && folder.string().rfind(realRoot.string(), 0) == 0) {
      fs::create_symlink(outside / "victim", folder / ("._" + name), ec);
    }
    e->Extract(destination, true);
  }
  platform::SetSidecarWriteHook(nullptr);
  Check(Names(base) == std::vector<std::string>{"outside", "root"}, "an item outside the root");
  Check(Names(outside) == std::vector<std::string>{"victim"}, "an item where a link led");
  std::ifstream victim(outside / "victim");
  Check(std::string(std::istreambuf_iterator<char>(victim), {}) == "untouched",
        "a file changed where a link led");
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(base, ec);
}

std::vector<std::string> ListedNames(const zip::ZipArchive& archive) {
  std::vector<std::string> names;
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    names.push_back(archive.Entry(i)->z_origEncodedName());
  }
  return names;
}

// What each listed member decodes to as it is stored; none for one that
// does not decode, or that says it is larger than a fuzz input can make.
std::vector<std::optional<std::string>> Decoded(zip::ZipArchive& archive) {
  std::vector<std::optional<std::string>> out;
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    ziptest::Collected data;
    platform::MemoryBlockRef header;
    const bool small = e->Size() >= 0 && e->Size() <= (1 << 24);
    out.push_back(small && e->Extract(false, &data, nullptr, header)
                      ? std::optional<std::string>(data.bytes)
                      : std::nullopt);
  }
  return out;
}

std::string FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Removes the member that the input's size picks, compacts and closes. An
// open that is refused leaves the file as it was.
void RemoveCompactAndClose(const std::string& path, std::string_view bytes) {
  std::vector<std::string> expected;
  std::vector<std::optional<std::string>> decoded;
  {
    zip::ZipArchive archive;
    if (!archive.Open(path, true)) {
      Check(FileBytes(path) == bytes, "a refused writable open changed the file");
      return;
    }
    if (!archive.IsWritable()) return;
    expected = ListedNames(archive);
    decoded = Decoded(archive);
    if (!expected.empty()) {
      const std::size_t victim = bytes.size() % expected.size();
      Check(archive.RemoveEntry(static_cast<std::int32_t>(victim) + 1), "removal refused");
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(victim));
      decoded.erase(decoded.begin() + static_cast<std::ptrdiff_t>(victim));
    }
    if (!archive.Compact()) Check(!archive.ErrorMessage().empty(), "compaction failed silently");
    if (!archive.Close()) {
      Check(!archive.ErrorMessage().empty(), "close failed silently");
      return;
    }
  }
  if (expected.empty()) expected.push_back("/");
  zip::ZipArchive reopened;
  Check(reopened.Open(path, true), "a closed archive does not open again");
  Check(reopened.IsWritable(), "what was written opens read-only");
  Check(ListedNames(reopened) == expected, "the members kept are not the ones listed");
  const std::vector<std::optional<std::string>> after = Decoded(reopened);
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    Check(!decoded[i] || after[i] == decoded[i], "a member reads otherwise than it did");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes live in an anonymous memory file, reached through its /proc path.
  int fd = memfd_create("fuzz.zip", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  for (const platform::TextEncoding* encoding :
       {zip::ZipArchive::EncodedAsUnicode(), zip::ZipArchive::EncodedAsDOSLatinUS()}) {
    zip::ZipArchive archive;
    if (archive.Open(path, false, encoding)) {
      CheckPromises(std::string_view(reinterpret_cast<const char*>(data), size), archive);
      ReadEveryField(archive);
      ExtractEverything(archive, encoding != zip::ZipArchive::EncodedAsUnicode());
      archive.Close();
    }
  }
  RemoveCompactAndClose(path, std::string_view(reinterpret_cast<const char*>(data), size));
  close(fd);
  return 0;
}
