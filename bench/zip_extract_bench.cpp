// Extraction through the archive job, beside Info-ZIP's unzip and Python's
// zipfile, on archives made with zip -r:
// - mixed: about 200 MB, thousands of small files in few folders and a few
//   large ones, stored and deflated;
// - bundle, docs: two trees shaped like a program bundle, some 5,500 small
//   files in some 1,200 folders nested up to 6 deep, beside a few dozen
//   shared libraries;
// - flat: 65,000 files of a few bytes in one folder;
// - tree: 20,000 files of about 150 bytes, deflated, in 1,000 folders two
//   deep;
// - deep: 300 folders, each in the one before, with one small file each,
//   deeper than the folders the extraction holds open.
// Each tool runs as a whole process of its own (this program runs itself
// with --job for ours), into a new empty folder on disk and on /dev/shm,
// the tools taking turns. Prints the median and the best of the runs with
// user and system time, peak memory and the ratios.
//
//   zip_extract_bench [runs] [shape ...]   (all shapes when none is named)
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/zip_builder.h"
#include "platform/qt/msgbox.h"
#include "update/zip_thread.h"
#include "zip/zip_archive.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
  double seconds = 1e9, user = 0, system = 0;
  long peakKiB = 0;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs `argv` as a process of its own: its time, CPU times and peak size.
Figures Measure(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return {seconds, Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss};
}

// A small xorshift generator: the same trees on every run.
struct Random {
  std::uint32_t x;
  std::uint32_t operator()() {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    return x;
  }
};

// Text-like bytes that deflate well, or noise that does not.
void WriteData(const fs::path& path, std::size_t size, bool noise, std::uint32_t seed) {
  static const char* const words[] = {"engine ", "boost ",  "lambda ", "throttle ",
                                      "rpm ",    "sensor ", "table\n", "warning "};
  std::string chunk;
  std::ofstream out(path, std::ios::binary);
  Random random{seed | 1};
  while (size > 0) {
    chunk.clear();
    while (chunk.size() < std::min<std::size_t>(size, 1 << 16)) {
      const std::uint32_t x = random();
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
void MakeMixed(const fs::path& src) {
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

// Many files of a few bytes, all in one folder.
void MakeFlat(const fs::path& src) {
  fs::create_directories(src);
  Random random{5};
  for (int i = 0; i < 65000; ++i) {
    std::ofstream(src / ("f" + std::to_string(i) + ".txt"), std::ios::binary)
        << std::string(1 + random() % 20, static_cast<char>('a' + i % 26));
  }
}

// Small text files of about 150 bytes, which deflate, spread over 1,000
// folders below 50 at the top.
void MakeTwoDeep(const fs::path& src) {
  for (int i = 0; i < 20000; ++i) {
    const fs::path dir =
        src / ("a" + std::to_string(i % 1000 % 50)) / ("b" + std::to_string(i % 1000));
    fs::create_directories(dir);
    WriteData(dir / ("f" + std::to_string(i) + ".txt"), 120 + (i * 7919) % 60, false,
              static_cast<std::uint32_t>(i));
  }
}

// One folder in the next, 300 deep, with a small text file in each.
void MakeDeep(const fs::path& src) {
  fs::path dir = src;
  for (int i = 1; i <= 300; ++i) {
    dir /= "d";
    fs::create_directories(dir);
    WriteData(dir / "f.txt", 100 + i, false, static_cast<std::uint32_t>(i));
  }
}

struct TreeShape {
  int folders, files, maxDepth, libraries;
  std::size_t smallSpread, librarySize;
};

// A bundle: folders hung below random earlier ones (never deeper than
// maxDepth), small files of up to smallSpread bytes spread over them, a
// third of them binary, and shared libraries half text, half noise.
void MakeBundle(const fs::path& src, const TreeShape& shape, std::uint32_t seed) {
  Random random{seed};
  std::vector<std::pair<fs::path, int>> folders{{src / "Vantora II.app", 1}};
  fs::create_directories(folders[0].first);
  while (static_cast<int>(folders.size()) < shape.folders) {
    const auto& [parent, depth] = folders[random() % folders.size()];
    if (depth >= shape.maxDepth) continue;
    const fs::path dir = parent / ("dir" + std::to_string(folders.size()));
    fs::create_directory(dir);
    folders.emplace_back(dir, depth + 1);
  }
  for (int i = 0; i < shape.files; ++i) {
    const fs::path& dir = folders[random() % folders.size()].first;
    const bool binary = i % 3 == 0;
    WriteData(dir / ("file" + std::to_string(i) + (binary ? ".png" : ".html")),
              200 + random() % shape.smallSpread, binary, random());
  }
  for (int i = 0; i < shape.libraries; ++i) {
    const fs::path lib = folders[random() % folders.size()].first / ("lib" + std::to_string(i));
    WriteData(lib.string() + ".a", shape.librarySize / 2, false, random());
    WriteData(lib.string() + ".so", shape.librarySize / 2, true, random());
  }
}

// One extraction as the software update runs it: the archive job into
// `out`, with MacBinary decoding on.
int ExtractWithJob(const fs::path& archivePath, const fs::path& out) {
  int argc = 1;
  char name[] = "zip_extract_bench";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  platform::SetMsgBoxSink(
      [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
  auto zar = std::make_shared<zip::ZipArchive>();
  if (!zar->Open(archivePath, false)) return 1;
  ZipThread job;
  job.Ended.Bind([&] { app.quit(); });
  job.Decompress(zar, platform::FolderItem(out), true);
  app.exec();
  return job.Succeeded() ? 0 : 1;
}

// Where the output folders go: the disk of the temporary folder, and
// memory when /dev/shm is there.
std::vector<std::pair<std::string, fs::path>> Places(const fs::path& disk) {
  std::vector<std::pair<std::string, fs::path>> places{{"disk", disk}};
  std::string shm = "/dev/shm/vantora-bench-XXXXXX";
  if (fs::is_directory("/dev/shm") && mkdtemp(shm.data())) places.emplace_back("/dev/shm", shm);
  return places;
}

// The run of median time, and the best time of all.
struct Summary {
  Figures median;
  double best = 0;
  long peakKiB = 0;
};

Summary Summarize(std::vector<Figures> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Figures& a, const Figures& b) { return a.seconds < b.seconds; });
  Summary s{runs[runs.size() / 2], runs.front().seconds, 0};
  for (const Figures& f : runs) s.peakKiB = std::max(s.peakKiB, f.peakKiB);
  return s;
}

void Report(const char* tool, const Summary& s, const Summary* ours) {
  const Figures& f = s.median;
  std::printf("  %-27s %6.2f s (best %6.2f)  user %5.2f, system %5.2f  peak RSS %7ld KiB", tool,
              f.seconds, s.best, f.user, f.system, s.peakKiB);
  if (ours) std::printf("  ratio %.2f", f.seconds / ours->median.seconds);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--job") return ExtractWithJob(argv[2], argv[3]);
  const int runs = std::max(argc > 1 ? std::atoi(argv[1]) : 5, 1);
  fixtures::TempDir dir;
  struct Archive {
    const char* shape;
    const char* title;
    std::function<void(const fs::path&)> make;
    fs::path src{}, zip{};
  };
  std::vector<Archive> archives = {
      {"mixed", "mixed: 4,000 small files in 40 folders and 3 large ones", MakeMixed},
      {"bundle", "bundle: small files in 1,200 folders up to 6 deep, 40 libraries",
       [](const fs::path& src) {
         MakeBundle(src, {1200, 5500, 6, 40, 12000, 1500000}, 7);
       }},
      {"docs", "bundle: documentation and 60 libraries in 1,218 folders",
       [](const fs::path& src) {
         MakeBundle(src, {1218, 5540, 6, 60, 16000, 2000000}, 11);
       }},
      {"flat", "flat: 65,000 files of a few bytes in one folder", MakeFlat},
      {"tree", "tree: 20,000 files of about 150 bytes in 1,000 folders two deep", MakeTwoDeep},
      {"deep", "deep: 300 folders one in the next, one small file in each", MakeDeep}};
  if (argc > 2) {
    const std::vector<std::string> asked(argv + 2, argv + argc);
    std::erase_if(archives, [&](const Archive& a) {
      return std::find(asked.begin(), asked.end(), a.shape) == asked.end();
    });
  }
  for (Archive& a : archives) {
    a.src = dir / a.shape;
    a.zip = dir / (std::string(a.shape) + ".zip");
    a.make(a.src);
  }
  for (const Archive& a : archives) {
    // Noise files are stored (-n .bin), the rest deflated.
    if (fixtures::Run("cd " + fixtures::Quote(a.src) + " && zip -q -r -n .bin " +
                      fixtures::Quote(a.zip) + " .") != 0) {
      std::fprintf(stderr, "could not make the archive (zip missing?)\n");
      return 1;
    }
  }
  const std::string self = fs::read_symlink("/proc/self/exe");
  const auto places = Places(dir.path());
  std::string load;
  std::getline(std::ifstream("/proc/loadavg"), load);
  std::printf("%d runs of each tool; load average at the start: %s\n", runs, load.c_str());

  bool same = true;
  int serial = 0;
  for (const Archive& a : archives) {
    zip::ZipArchive probe;
    probe.Open(a.zip, false);
    const std::int32_t members = probe.EntryCount();
    probe.Close();
    // Each tool starts as a fork of this process, and a child's peak size
    // counts what it had before it became the tool: what the probe took is
    // handed back first.
    malloc_trim(0);
    for (const auto& [place, base] : places) {
      // Each run writes into a new empty folder, with earlier writes already
      // on disk, and the tools take turns, so none inherits another's
      // write-back. On disk the folders stay until the end: inodes freed a
      // moment ago are slow to hand out again, which would time the
      // deletion of the run before.
      const bool keep = place == "disk";
      const auto tool = [&](int t, const fs::path& out) -> std::vector<std::string> {
        const std::string z = a.zip.string(), o = out.string();
        if (t == 0) return {self, "--job", z, o};
        if (t == 1) return {"unzip", "-o", "-q", z, "-d", o};
        return {"python3", "-c",
                "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])", z, o};
      };
      std::vector<Figures> times[3];
      fs::path ours;
      for (int round = 0; round < runs; ++round) {
        // Each round another tool goes first, so none always meets the file
        // system as the one before left it.
        for (int turn = 0; turn < 3; ++turn) {
          const int t = (turn + round) % 3;
          const fs::path out = base / ("out" + std::to_string(++serial));
          fs::create_directories(out);
          sync();
          times[t].push_back(Measure(tool(t, out)));
          if (t == 0 && ours.empty()) {
            ours = out;
          } else if (!keep) {
            fs::remove_all(out);
          }
        }
      }
      std::printf("%s\n  %d members, %.1f MB, onto %s\n", a.title, members,
                  static_cast<double>(fs::file_size(a.zip)) / 1e6, place.c_str());
      const Summary job = Summarize(times[0]);
      Report("archive job (ZipThread)", job, nullptr);
      Report("unzip -o -q", Summarize(times[1]), &job);
      Report("Python zipfile.extractall", Summarize(times[2]), &job);
      if (fixtures::Run("diff -r -q " + fixtures::Quote(a.src) + " " + fixtures::Quote(ours)) !=
          0) {
        std::printf("  our extraction differs from the source tree\n");
        same = false;
      }
      if (!keep) fs::remove_all(ours);
    }
  }
  std::printf("ratios are the other tool's median time over ours (above 1: ours is faster)\n");
  std::printf("our extractions match their source trees: %s\n", same ? "yes" : "NO");
  for (std::size_t i = 1; i < places.size(); ++i) fs::remove_all(places[i].second);
  return same ? 0 : 1;
}
