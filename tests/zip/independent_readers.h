#pragma once
// What the library writes must be read whole by readers written elsewhere:
// Info-ZIP's unzip, Python's zipfile, libzip's ziptool, 7-Zip and libarchive's
// bsdtar each read every member's data and check its CRC-32, as the library
// does too.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

namespace ziptest {

// Runs a shell command line; its exit status, and what it printed in `out`.
inline int Capture(const std::string& commandLine, std::string& out) {
  out.clear();
  FILE* p = popen((commandLine + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline ::testing::AssertionResult LibraryVerifies(const std::filesystem::path& archive) {
  zip::ZipArchive ours;
  bool whole = ours.Open(archive, false);
  for (int i = 1; whole && i <= ours.EntryCount(); ++i) whole = ours.Entry(i)->Verify();
  if (whole) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the library refused " << archive;
}

inline ::testing::AssertionResult ReadersAccept(const std::filesystem::path& archive) {
  if (::testing::AssertionResult ours = LibraryVerifies(archive); !ours) return ours;
  const std::string a = fixtures::Quote(archive);
  const struct {
    const char* name;
    std::string command;
  } readers[] = {
      {"unzip -t", "unzip -t -q " + a},
      {"zipfile.testzip",
       "python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip())' " + a},
      {"ziptool", "n=$(ziptool -c " + a + " get_num_entries 0 | cut -d' ' -f1) && ziptool -c " + a +
                      " $(seq 0 $((n - 1)) | sed 's/^/cat /') >/dev/null"},
      {"7z t", "7z t " + a},
      {"bsdtar -xO", "bsdtar -xOf " + a + " >/dev/null"},
  };
  for (const auto& reader : readers) {
    std::string out;
    if (Capture(reader.command, out) != 0) {
      return ::testing::AssertionFailure() << reader.name << " refused " << archive << ":\n" << out;
    }
  }
  return ::testing::AssertionSuccess();
}

// Closes the archive, which writes its directory, and has the readers check
// the file.
inline ::testing::AssertionResult ClosedAndAccepted(zip::ZipArchive& archive) {
  const std::filesystem::path path = archive.Data()->theFile;
  if (!archive.Close()) return ::testing::AssertionFailure() << archive.ErrorMessage();
  return ReadersAccept(path);
}

// A member's bytes as Info-ZIP's unzip gives them.
inline std::string Unzipped(const std::filesystem::path& archive, const std::string& name) {
  std::string out;
  Capture("unzip -p " + fixtures::Quote(archive) + " " + fixtures::Quote(name), out);
  return out;
}

// `zipinfo` of the archive, one line per member ("-rw-r--r--  2.0 unx ...").
inline std::string ZipInfo(const std::filesystem::path& archive) {
  std::string out;
  Capture("zipinfo " + fixtures::Quote(archive), out);
  return out;
}

}  // namespace ziptest
