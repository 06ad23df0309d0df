#pragma once
// Shared bits of the zip tests: archives written to a temporary folder and
// opened, and the reader's messages spelled once.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

namespace ziptest {

inline constexpr char kNotAZip[] = "File does not appear to by a Zip file ('PK' header missing)";
inline constexpr char kNoDirectory[] = "Central Directory not found; probably a damaged Zip file";
inline constexpr char kMultiSegment[] =
    "This is part of a multi-segment archive, which is not supported by the ZipArchive class";
inline constexpr char kTooSmall[] = "Central Directory is corrupted.";
inline constexpr char kCorrupted[] = "Central Directory is corrupted";
inline constexpr char kNewerFormat[] =
    "Archive was written in a newer format than what this software supports (it supports up to "
    "v2.0 archives)";

// Messages of decoding and extraction.
inline constexpr char kNoDestination[] = "No destination given";
inline constexpr char kDataCorrupted[] = "Data appears to be corrupted";
inline constexpr char kBadLocalHeader[] =
    "Invalid Local File Header signature (archive appears to be severely corrupted)";
inline constexpr char kEncrypted[] = "Unsupported format (encrypted)";
inline constexpr char kCreateFailed[] = "Creating destination file failed";
inline constexpr char kBadAppleDouble[] = "Invalid or unsupported AppleDouble header";

// Writes `bytes` as a file in `dir` and opens it.
inline bool OpenBytes(zip::ZipArchive& archive, const fixtures::TempDir& dir,
                      const std::string& bytes, bool writable = false,
                      const std::string& name = "test.zip") {
  fixtures::WriteFile(dir / name, bytes);
  return archive.Open(dir / name, writable);
}

// What extracting one member gave: "" when it was written, else its message.
struct Extracted {
  std::string rawPath;
  std::string message;
};

// Every member extracted below `root` the way the update does it: its place
// from MakeDestination with aliases not followed, then Extract.
inline std::vector<Extracted> ExtractAll(zip::ZipArchive& archive,
                                         const std::filesystem::path& root,
                                         bool decodeMacBinary = true) {
  std::vector<Extracted> out;
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    const bool ok =
        e->Extract(e->MakeDestination(platform::FolderItem(root), false), decodeMacBinary);
    out.push_back({e->RawPath().bytes, ok ? "" : e->ErrorMessage()});
  }
  return out;
}

// Every item below `dir` (links not followed) with what it is: a file's
// bytes, a link's target, or "/" for a folder. Two equal snapshots mean
// nothing was created, changed or removed there.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = e.path().lexically_relative(dir).string();
    if (e.is_symlink()) {
      items[rel] = "-> " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      items[rel] = "/";
    } else {
      items[rel] = fixtures::ReadFile(e.path());
    }
  }
  return items;
}

inline unsigned ModeOf(const std::filesystem::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Runs a shell line in `dir`, with hfsutils' state kept there; its status.
inline int ShellIn(const std::filesystem::path& dir, const std::string& line) {
  return fixtures::Run("cd " + fixtures::Quote(dir) + " && HOME=" + fixtures::Quote(dir) +
                       " sh -c " + fixtures::Quote(line) + " >/dev/null 2>&1");
}

// Writes Report.data ("hello data fork") into `dir` and, from it, typed
// TEXT/ttxt: mb1.bin in MacBinary I (macutils) and mb2.bin in MacBinary II
// (hfsutils, named "Report").
inline bool MakeMacBinaryFiles(const std::filesystem::path& dir) {
  fixtures::WriteFile(dir / "Report.data", "hello data fork");
  return ShellIn(dir, "macstream -d -t TEXT -c ttxt Report.data > mb1.bin") == 0 &&
         ShellIn(dir,
                 "dd if=/dev/zero of=img bs=1k count=800 && hformat -l Test img && "
                 "hcopy -r Report.data :Report && hattrib -t TEXT -c ttxt :Report && "
                 "hcopy -m :Report mb2.bin; humount") == 0;
}

inline std::string RawPathOf(const zip::ZipArchive& archive, int index) {
  return archive.Entry(index)->RawPath().bytes;
}

}  // namespace ziptest
