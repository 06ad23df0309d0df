// Extracting a mixed archive of about 200 MB (thousands of small files and a
// few large ones, stored and deflated) with the library's loop, beside
// Info-ZIP's unzip and Python's zipfile on the same archive. Each runs in a
// child process of its own, so its time and peak memory are its own. Prints
// the best of several runs, the ratios and the peak RSS.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
  double seconds = 1e9;
  long peakKiB = 0;
};

// Runs `work` in a child process: its time and peak resident size.
Figures Measure(const std::function<int()>& work) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a run failed\n");
    std::exit(1);
  }
  return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss};
}

// Text-like bytes that deflate well, or noise that does not.
void WriteData(const fs::path& path, std::size_t size, bool noise, std::uint32_t seed) {
  static const char* const words[] = {"engine ", "boost ",  "lambda ", "throttle ",
                                      "rpm ",    "sensor ", "table\n", "warning "};
  std::string chunk;
  std::ofstream out(path, std::ios::binary);
  std::uint32_t x = seed | 1;
  while (size > 0) {
    chunk.clear();
    while (chunk.size() < std::min<std::size_t>(size, 1 << 16)) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      if (noise) {
        chunk.append(reinterpret_cast<const char*>(&x), 4);
      } else {
        chunk += words[x % 8];
      }
    }
    chunk.resize(std::min(chunk.size(), size));
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    size -= chunk.size();
  }
}

// 4,000 small text files in 40 folders, two large noise files (stored) and
// one large text file (deflated).
void MakeSource(const fs::path& src) {
  for (int i = 0; i < 4000; ++i) {
    const fs::path dir = src / ("folder" + std::to_string(i % 40));
    fs::create_directories(dir);
    WriteData(dir / ("file" + std::to_string(i) + ".txt"), 1000 + (i * 7919) % 12000, false,
              static_cast<std::uint32_t>(i));
  }
  WriteData(src / "large1.bin", 60u << 20, true, 1);
  WriteData(src / "large2.bin", 50u << 20, true, 2);
  WriteData(src / "large.txt", 70u << 20, false, 3);
}

int ExtractWithLibrary(const fs::path& archivePath, const fs::path& out) {
  zip::ZipArchive archive;
  if (!archive.Open(archivePath, false)) return 1;
  const platform::FolderItem root(out);
  for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    if (!e->Extract(e->MakeDestination(root, false), true)) {
      std::fprintf(stderr, "%s: %s\n", e->RawPath().bytes.c_str(), e->ErrorMessage().c_str());
      return 1;
    }
  }
  return archive.Close() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  fixtures::TempDir dir;
  const fs::path src = dir / "src", archivePath = dir / "mixed.zip", out = dir / "out";
  MakeSource(src);
  // Noise files are stored (-n .bin), the rest deflated.
  if (fixtures::Run("cd " + fixtures::Quote(src) + " && zip -q -r -n .bin " +
                    fixtures::Quote(archivePath) + " .") != 0) {
    std::fprintf(stderr, "could not make the archive (zip missing?)\n");
    return 1;
  }
  zip::ZipArchive probe;
  probe.Open(archivePath, false);
  const std::int32_t members = probe.EntryCount();
  probe.Close();

  // Each run starts on an empty folder with earlier writes already on disk,
  // and the tools take turns, so none inherits another's write-back.
  const auto fresh = [&] {
    fs::remove_all(out);
    fs::create_directories(out);
    sync();
  };
  const auto shell = [](const std::string& line) {
    return [line] {
      execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      return 127;
    };
  };
  const std::string q = fixtures::Quote(archivePath), o = fixtures::Quote(out);
  const std::function<int()> tools[3] = {
      [&] { return ExtractWithLibrary(archivePath, out); }, shell("unzip -o -q " + q + " -d " + o),
      shell("python3 -c 'import sys, zipfile; "
            "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' " +
            q + " " + o)};
  Figures best[3];
  for (int round = 0; round < runs; ++round) {
    for (int t = 0; t < 3; ++t) {
      fresh();
      const Figures f = Measure(tools[t]);
      best[t].seconds = std::min(best[t].seconds, f.seconds);
      best[t].peakKiB = std::max(best[t].peakKiB, f.peakKiB);
    }
  }
  const Figures &ours = best[0], &unzip = best[1], &python = best[2];

  std::printf("archive: %d members, %.1f MB (largest member 70 MB), best of %d runs\n", members,
              static_cast<double>(fs::file_size(archivePath)) / 1e6, runs);
  std::printf("  MakeDestination + Extract   %7.2f s   peak RSS %6ld KiB\n", ours.seconds,
              ours.peakKiB);
  std::printf("  unzip -o -q                 %7.2f s   peak RSS %6ld KiB   ratio %.2f\n",
              unzip.seconds, unzip.peakKiB, unzip.seconds / ours.seconds);
  std::printf("  Python zipfile.extractall   %7.2f s   peak RSS %6ld KiB   ratio %.2f\n",
              python.seconds, python.peakKiB, python.seconds / ours.seconds);
  std::printf("ratios are the other tool's time over ours (above 1: ours is faster)\n");
  fresh();
  const bool same = ExtractWithLibrary(archivePath, out) == 0 &&
                    fixtures::Run("diff -r -q " + fixtures::Quote(src) + " " + o) == 0;
  std::printf("our extraction matches the source tree: %s\n", same ? "yes" : "NO");
  return same ? 0 : 1;
}
