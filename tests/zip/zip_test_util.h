#pragma once
// Shared bits of the zip tests: archives written to a temporary folder and
// opened, a full disk, and the reader's messages spelled once.
#include <signal.h>
#include <sys/resource.h>

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

// Writes `bytes` as a file in `dir` and opens it.
inline bool OpenBytes(zip::ZipArchive& archive, const fixtures::TempDir& dir,
                      const std::string& bytes, bool writable = false,
                      const std::string& name = "test.zip") {
  fixtures::WriteFile(dir / name, bytes);
  return archive.Open(dir / name, writable);
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
