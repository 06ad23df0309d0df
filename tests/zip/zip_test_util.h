#pragma once
// Shared bits of the zip tests: archives written to a temporary folder and
// opened, a full disk, extraction, and the reader's messages spelled once.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_progress_notifier.h"

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
inline constexpr char kUnsureEnd[] =
    "Central Directory end record does not fit the file; the archive can only be opened "
    "read-only";

// Messages of decoding and extraction.
inline constexpr char kNoDestination[] = "No destination given";
inline constexpr char kDataCorrupted[] = "Data appears to be corrupted";
inline constexpr char kBadLocalHeader[] =
    "Invalid Local File Header signature (archive appears to be severely corrupted)";
inline constexpr char kEncrypted[] = "Unsupported format (encrypted)";
inline constexpr char kCreateFailed[] = "Creating destination file failed";
inline constexpr char kFolderCreation[] = "Folder creation failed";
inline constexpr char kFileOverFolder[] =
    "Archive entry is a file but a folder exists at the destination already. Won't replace that.";
inline constexpr char kFolderOverFile[] =
    "Archive entry is a folder but a file exists at the destination already. Won't replace that.";
inline constexpr char kBadAppleDouble[] = "Invalid or unsupported AppleDouble header";
inline constexpr char kFileOnPath[] =
    "A folder on the entry's path is a file at the destination already. Won't replace that.";
inline constexpr char kAliasOnPath[] =
    "A folder on the entry's path is an alias file at the destination. Won't follow that.";
inline constexpr char kOpenRsrc[] = "Opening destination rsrc fork failed";
inline constexpr char kWriteProtected[] = "Destination file is write protected";
inline constexpr char kAliasStays[] = "Destination exists as an alias file that can't be deleted";
inline constexpr char kRootReplaced[] =
    "The destination folder was replaced by another item as it was created. Won't use that.";

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
// from MakeDestination with aliases not followed (unless asked), then
// Extract. `placed`, when given, runs between the two with the member's index.
inline std::vector<Extracted> ExtractAll(
    zip::ZipArchive& archive, const std::filesystem::path& root, bool decodeMacBinary = true,
    bool followAliases = false, const std::function<void(std::int32_t)>& placed = nullptr) {
  std::vector<Extracted> out;
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    const auto destination = e->MakeDestination(platform::FolderItem(root), followAliases);
    if (placed) placed(i);
    const bool ok = e->Extract(destination, decodeMacBinary);
    out.push_back({e->RawPath().bytes, ok ? "" : e->ErrorMessage()});
  }
  return out;
}

// How many descriptors the process has open.
inline std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// How far `work`, run in a child process, raised its peak resident memory,
// in MiB; 255 for that much or more, or when it could not be measured.
inline int PeakRiseMiBInChild(const std::function<void()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    work();
    ::getrusage(RUSAGE_SELF, &after);
    ::_exit(static_cast<int>(std::min<long>((after.ru_maxrss - before.ru_maxrss) / 1024, 255)));
  }
  int status = 0;
  const bool ended = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status);
  return ended ? WEXITSTATUS(status) : 255;
}

// Every item below `dir` (links not followed) with what it is: a file's
// bytes, a link's target, or "/" for a folder; with `metadata`, each with
// its mode and modification time too. Two equal snapshots mean nothing was
// created, changed or removed there.
inline std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir,
                                                   bool metadata = false) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = e.path().lexically_relative(dir).string();
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    const std::string meta = !metadata ? ""
                                       : " (mode " + std::to_string(st.st_mode) + ", modified " +
                                             std::to_string(st.st_mtim.tv_sec) + "." +
                                             std::to_string(st.st_mtim.tv_nsec) + ")";
    if (e.is_symlink()) {
      items[rel] = "-> " + fs::read_symlink(e.path()).string() + meta;
    } else if (e.is_directory()) {
      items[rel] = "/" + meta;
    } else if (e.is_regular_file()) {
      items[rel] = fixtures::ReadFile(e.path()) + meta;
    } else {
      items[rel] = "special" + meta;
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

// Makes writes that would take the process's files past `bytes` fail, as a
// full disk does, for as long as it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

// Leaves the process exactly `more` descriptors to open for as long as it
// lives: the limit is lowered to just above the highest one open, and the
// free numbers below that are taken.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int more) {
    int highest = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      highest = std::max(highest, std::stoi(e.path().filename().string()));
    }
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(highest + 1 + more);
    setrlimit(RLIMIT_NOFILE, &limit);
    for (int fd = ::dup(2); fd >= 0; fd = ::dup(2)) {
      if (fd > highest) {
        ::close(fd);
        break;
      }
      taken_.push_back(fd);
    }
  }
  ~DescriptorLimit() {
    for (const int fd : taken_) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

// A MacBinary III stream of a file with both forks, typed TEXT/ttxt and
// dated, as a Mac archiver stores one.
inline std::string MacBinaryFile(const std::string& data, const std::string& rsrc) {
  const auto padded = [](const std::string& fork) {
    return fork + std::string((128 - fork.size() % 128) % 128, '\0');
  };
  const platform::Date date = platform::Date::FromFields(2020, 2, 29, 10, 20, 30);
  const auto header = zip::ZipArchive().MakeMacBinaryHeader(static_cast<std::int32_t>(data.size()),
                                                            static_cast<std::int32_t>(rsrc.size()),
                                                            "File", "TEXT", "ttxt", date, date);
  return header->Bytes() + padded(data) + padded(rsrc);
}

// The raw paths of a list of entries, from index `from` on.
inline std::vector<std::string> Names(const std::vector<zip::ZipEntryRef>& entries,
                                      std::size_t from) {
  std::vector<std::string> out;
  for (std::size_t i = from; i < entries.size(); ++i) out.push_back(entries[i]->RawPath().bytes);
  return out;
}

// Text that deflates well: numbers on lines.
inline std::string LinesOfText(std::size_t size) {
  std::string out;
  for (std::size_t i = 0; out.size() < size; ++i) out += std::to_string(i * 7919 % 1000) + "\n";
  out.resize(size);
  return out;
}

// A monitor that records what it is told. It stops the entry named
// `abortEntry` at its first report, skips the walk at the file named
// `skipAt`, and answers a failed file with `stopOnError`.
class RecordingMonitor : public zip::ZipProgressNotifier {
 public:
  void zipProgress(const zip::ZipEntry& entry, std::int32_t total, std::int32_t done,
                   bool& abort) override {
    progress.emplace_back(total, done);
    if (done == 0 && entry.Name() == abortEntry) abort = true;
  }
  void ZipFileError(const platform::FolderItem& file, std::int32_t code, const std::string& msg,
                    bool& abort) override {
    errors.push_back(file.Name() + " " + std::to_string(code) + " " + msg);
    abort = stopOnError;
  }
  void ZipFileStarting(const platform::FolderItem& file, bool& skip) override {
    skip = file.Name() == skipAt;
  }
  std::string abortEntry, skipAt;
  bool stopOnError = false;
  std::vector<std::pair<std::int32_t, std::int32_t>> progress;
  std::vector<std::string> errors;
};

// Adds an entry of `length` bytes from `data`, an empty one without it.
inline std::int32_t AddData(zip::ZipArchive& archive, const std::string& name,
                            zip::SeqDataInputStream* data = nullptr, std::int64_t length = 0) {
  return archive.AddItemByStreams(data, length, nullptr, 0, nullptr, name, nullptr, std::nullopt);
}

inline std::string RawPathOf(const zip::ZipArchive& archive, int index) {
  return archive.Entry(index)->RawPath().bytes;
}

}  // namespace ziptest
