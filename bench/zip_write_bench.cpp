// Writing archives: a tree of about 200 MB (thousands of small files and a
// few large ones) added with AddFolderContents, then half of its members
// removed and the archive compacted. Beside them, on the same data in the
// same run, Info-ZIP's zip -r -q (default level) and zip -d of the same
// members. Prints the best of several runs of each and the ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

namespace {

using Clock = std::chrono::steady_clock;
using fixtures::Quote;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Text that deflates about as well as source code does, and bytes that do
// not deflate at all.
std::string Text(std::size_t size, unsigned seed) {
  static const char* words[] = {"archive ", "entry ",   "offset ", "length ", "directory ",
                                "record ",  "deflate ", "= ",      "0x1F;\n", "return "};
  std::string out;
  out.reserve(size + 16);
  for (unsigned x = seed; out.size() < size;)
    out += words[((x = x * 1103515245 + 12345) >> 16) % 10];
  out.resize(size);
  return out;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 23);
  return out;
}

// 4000 small files in 40 folders (about 40 MB) and four large ones (160 MB).
std::size_t MakeTree(const std::filesystem::path& root) {
  std::size_t bytes = 0;
  for (int f = 0; f < 40; ++f) {
    const auto folder = root / ("folder" + std::to_string(f));
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 100; ++i) {
      const unsigned seed = static_cast<unsigned>(f * 100 + i);
      const std::size_t size = 1000 + seed * 7919 % 19000;
      fixtures::WriteFile(folder / ("file" + std::to_string(i) + ".txt"),
                          i % 10 == 0 ? Noise(size, seed) : Text(size, seed));
      bytes += size;
    }
  }
  std::filesystem::create_directories(root / "large");
  for (int i = 0; i < 4; ++i) {
    const std::size_t size = 40u << 20;
    fixtures::WriteFile(root / "large" / ("large" + std::to_string(i) + ".bin"),
                        i % 2 ? Noise(size, 99u + i) : Text(size, 99u + i));
    bytes += size;
  }
  return bytes;
}

void Fail(const char* what, const zip::ZipArchive& archive) {
  std::fprintf(stderr, "%s failed: %s\n", what, archive.ErrorMessage().c_str());
  std::exit(1);
}

void Shell(const std::string& commandLine) {
  if (fixtures::Run(commandLine) != 0) {
    std::fprintf(stderr, "failed: %s\n", commandLine.c_str());
    std::exit(1);
  }
}

std::int32_t Members(const std::filesystem::path& archivePath) {
  zip::ZipArchive archive;
  if (!archive.Open(archivePath, false)) Fail("open", archive);
  return archive.EntryCount();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  fixtures::TempDir dir;
  const auto tree = dir / "tree";
  const std::size_t bytes = MakeTree(tree);
  const auto ours = dir / "ours.zip", theirs = dir / "theirs.zip", work = dir / "work.zip";

  double add = 1e9, zipAdd = 1e9, compact = 1e9, zipDelete = 1e9;
  std::vector<std::string> removed;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::remove(ours);
    add = std::min(add, Seconds([&] {
                     zip::ZipArchive archive;
                     if (!archive.Open(ours, true)) Fail("open", archive);
                     if (!archive.AddFolderContents(platform::FolderItem(tree), "", 0, false))
                       Fail("add", archive);
                     if (!archive.Close()) Fail("close", archive);
                   }));
    std::filesystem::remove(theirs);
    zipAdd = std::min(zipAdd, Seconds([&] {
                        Shell("cd " + Quote(tree) + " && zip -r -q " + Quote(theirs) + " .");
                      }));

    // Every other member goes, from a fresh copy of our archive each time.
    std::filesystem::copy_file(ours, work, std::filesystem::copy_options::overwrite_existing);
    compact = std::min(compact, Seconds([&] {
                         zip::ZipArchive archive;
                         if (!archive.Open(work, true)) Fail("open", archive);
                         removed.clear();
                         for (std::int32_t i = archive.EntryCount(); i >= 1; --i) {
                           if (i % 2) continue;
                           removed.push_back(archive.Entry(i)->RawPath().bytes);
                           archive.RemoveEntry(i);
                         }
                         if (!archive.Compact()) Fail("compact", archive);
                         if (!archive.Close()) Fail("close", archive);
                       }));
    const auto list = dir / "removed.txt";
    std::string names;
    for (const std::string& n : removed) names += n + "\n";
    fixtures::WriteFile(list, names);
    std::filesystem::copy_file(ours, work, std::filesystem::copy_options::overwrite_existing);
    zipDelete = std::min(
        zipDelete, Seconds([&] { Shell("zip -d -q " + Quote(work) + " -@ < " + Quote(list)); }));
    if (Members(work) != Members(ours) - static_cast<std::int32_t>(removed.size())) {
      std::fprintf(stderr, "zip -d did not remove the members\n");
      return 1;
    }
  }

  std::printf("tree: %zu bytes in 4004 files; best of %d runs\n", bytes, runs);
  std::printf("  AddFolderContents + Close   %8.0f ms   archive %ju bytes\n", add * 1e3,
              static_cast<std::uintmax_t>(std::filesystem::file_size(ours)));
  std::printf("  zip -r -q                   %8.0f ms   archive %ju bytes   ratio ours/zip %.2f\n",
              zipAdd * 1e3, static_cast<std::uintmax_t>(std::filesystem::file_size(theirs)),
              add / zipAdd);
  std::printf("  remove %zu + Compact + Close %6.0f ms\n", removed.size(), compact * 1e3);
  std::printf("  zip -d of the same members  %8.0f ms   ratio ours/zip %.2f\n", zipDelete * 1e3,
              compact / zipDelete);
  std::printf("ratios are our time over Info-ZIP's (at or below 1: ours is as fast or faster)\n");
  return 0;
}
