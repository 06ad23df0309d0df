// Opening an archive of 50,000 members and listing their raw paths, beside
// Python's zipfile and Info-ZIP's unzip -l on the same archive. Prints the
// best of several runs of each and the ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"

namespace {

using Clock = std::chrono::steady_clock;

double BestOf(int runs, const std::function<void()>& work) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// Runs a command and returns the first number it prints (0 when none).
double NumberFrom(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return 0;
  double value = 0;
  if (std::fscanf(p, "%lf", &value) != 1) value = 0;
  pclose(p);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  const int members = argc > 1 ? std::atoi(argv[1]) : 50000;
  const int runs = 5;
  fixtures::TempDir dir;
  const auto archivePath = dir / "many.zip";
  if (fixtures::Run("python3 " + fixtures::Quote(fixtures::PythonArchiveScript()) + " many " +
                    fixtures::Quote(archivePath) + " " + std::to_string(members)) != 0) {
    std::fprintf(stderr, "could not make the archive (python3 missing?)\n");
    return 1;
  }

  std::size_t listed = 0;
  const double ours = BestOf(runs, [&] {
    zip::ZipArchive archive;
    if (!archive.Open(archivePath, false)) {
      std::fprintf(stderr, "open failed: %s\n", archive.ErrorMessage().c_str());
      std::exit(1);
    }
    listed = archive.AllEntriesAsRawPaths().size();
    archive.Close();
  });

  const std::string q = fixtures::Quote(archivePath);
  const double pythonWhole = BestOf(runs, [&] {
    fixtures::Run("python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).namelist()' " + q);
  });
  double pythonInner = 1e9;
  for (int i = 0; i < runs; ++i) {
    pythonInner = std::min(
        pythonInner,
        NumberFrom("python3 -c 'import sys, time, zipfile; t = time.perf_counter(); "
                   "zipfile.ZipFile(sys.argv[1]).namelist(); print(time.perf_counter() - t)' " +
                   q));
  }
  const double unzip = BestOf(runs, [&] { fixtures::Run("unzip -l " + q + " >/dev/null"); });

  std::printf("archive: %d members (%zu listed), best of %d runs\n", members, listed, runs);
  std::printf("  ZipArchive Open + AllEntriesAsRawPaths   %8.1f ms\n", ours * 1e3);
  std::printf("  Python zipfile namelist (in-process)     %8.1f ms   ratio %.2f\n",
              pythonInner * 1e3, pythonInner / ours);
  std::printf("  Python zipfile namelist (whole process)  %8.1f ms   ratio %.2f\n",
              pythonWhole * 1e3, pythonWhole / ours);
  std::printf("  unzip -l (whole process)                 %8.1f ms   ratio %.2f\n", unzip * 1e3,
              unzip / ours);
  std::printf("ratios are the other tool's time over ours (above 1: ours is faster)\n");
  return listed == static_cast<std::size_t>(members) ? 0 : 1;
}
