// The whole update road against a local web server (Python's http.server on
// 127.0.0.1): version check, download of a bundle archive of about 30 MB with
// its progress window, extraction by the archive job, and the hand-over
// (captured, not a real quit). Beside it, in the same run, curl fetches the
// same archive and unzip -o -q unpacks it. Prints the best of several runs of
// each, their ratio, and the longest the window's event loop went without a
// turn (the largest gap between ticks of a 5 ms timer) during the road.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fixtures/zip_builder.h"
#include "mainwindow/confirm_win.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "zip/zip_archive.h"

namespace fs = std::filesystem;
using fixtures::Quote;

namespace {

constexpr char kArchivePath[] = "software/Vantora II/Mac OS/Vantora II X 021514.zip";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

std::string Bytes(std::size_t size, unsigned seed, bool text) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245 + 12345;
    out[i] = text ? " etaoinshrdlu\n"[(seed >> 16) % 14] : static_cast<char>(seed >> 23);
  }
  return out;
}

// A bundle of 300 small text files and six large binary ones: about 36 MB
// that packs into about 32.
void MakeBundleArchive(const fs::path& work, const fs::path& archive) {
  const fs::path bundle = work / "Vantora II X.app";
  for (int i = 0; i < 300; ++i) {
    const fs::path folder = bundle / "Resources" / ("r" + std::to_string(i / 30));
    fs::create_directories(folder);
    fixtures::WriteFile(folder / ("text" + std::to_string(i) + ".txt"),
                        Bytes(40000, static_cast<unsigned>(i), true));
  }
  fs::create_directories(bundle / "lib");
  for (int i = 0; i < 6; ++i) {
    fixtures::WriteFile(bundle / "lib" / ("lib" + std::to_string(i) + ".so"),
                        Bytes(4u << 20, 1000u + static_cast<unsigned>(i), false));
  }
  fixtures::WriteFile(bundle / "vantora2", "#!/bin/sh\n");
  fs::create_directories(archive.parent_path());
  zip::ZipArchive zar;
  if (!zar.Open(archive, true)) Fail("open: " + zar.ErrorMessage());
  const std::int32_t top = zar.AddItemToRoot(platform::FolderItem(bundle), 0);
  if (top < 1 ||
      !zar.AddFolderContents(platform::FolderItem(bundle), zar.Entry(top)->RawPath().bytes, 0,
                             false) ||
      !zar.Close()) {
    Fail("packing the bundle: " + zar.ErrorMessage());
  }
}

// Python's server on a port of its own choosing; returns "http://127.0.0.1:N".
std::string StartServer(QProcess& server, const fs::path& root) {
  server.setProgram("python3");
  server.setArguments({"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                       QString::fromStdString(root.string())});
  server.start();
  QByteArray said;
  while (!said.contains("port ") || !said.contains(" (")) {
    if (!server.waitForReadyRead(10000)) Fail("python3 -m http.server did not start");
    said += server.readAllStandardOutput();
  }
  const int from = said.indexOf("port ") + 5;
  const QByteArray port = said.mid(from, said.indexOf(" (", from) - from);
  return "http://127.0.0.1:" + port.toStdString();
}

struct RoadRun {
  double seconds;
  double longestGapMs;
};

RoadRun Road(const std::string& base, const fs::path& program) {
  fs::remove_all(program);
  fs::create_directories(program / "Vantora II X.app");
  fixtures::WriteFile(program / "Vantora II X.app" / "vantora2", "old");
  LCDProg window;
  window.UpdateServer = base;
  window.ProgramFolder = program;
  QEventLoop loop;
  bool handedOver = false;
  window.HandOver = [&](const fs::path&) {
    handedOver = true;
    loop.quit();
  };
  QElapsedTimer clock, tick;
  double longest = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longest = std::max(longest, static_cast<double>(tick.nsecsElapsed()) / 1e6);
    tick.restart();
  });
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  clock.start();
  tick.start();
  ticker.start(5);
  window.CheckVersion(false);
  loop.exec();
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  if (!handedOver) Fail("the update did not hand over");
  if (!fs::exists(program / "OLD Vantora II X.app")) Fail("no old copy kept");
  return {seconds, longest};
}

double CurlAndUnzip(const std::string& base, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string url = base + "/software/Vantora%20II/Mac%20OS/Vantora%20II%20X%20021514.zip";
  QElapsedTimer clock;
  clock.start();
  const std::string line = "curl -s -f -o " + Quote(work / "VAII021514.zip") + " '" + url +
                           "' && unzip -o -q " + Quote(work / "VAII021514.zip") + " -d " +
                           Quote(work);
  if (fixtures::Run(line) != 0) Fail("failed: " + line);
  return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  fixtures::TempDir dir;
  const fs::path www = dir / "www";
  MakeBundleArchive(dir / "maker", www / kArchivePath);
  fixtures::WriteFile(www / "vantora2.ver", "1402151\n");
  QProcess server;
  const std::string base = StartServer(server, www);

  platform::HTTPSocket::SetNetworkCheck([] { return true; });
  SetConfirmSink([](const std::string&, int) { return true; });
  platform::SetMsgBoxSink([](const std::string& text) { Fail("message: " + text); });

  RoadRun best{1e9, 0};
  double reference = 1e9;
  for (int run = 0; run < runs; ++run) {
    const RoadRun road = Road(base, dir / "program");
    best.seconds = std::min(best.seconds, road.seconds);
    best.longestGapMs = std::max(best.longestGapMs, road.longestGapMs);
    reference = std::min(reference, CurlAndUnzip(base, dir / "reference"));
  }
  server.kill();
  server.waitForFinished();
  std::printf("archive %.1f MB, best of %d runs\n",
              static_cast<double>(fs::file_size(www / kArchivePath)) / 1e6, runs);
  std::printf("update road (check, download, extraction, hand-over): %.3f s\n", best.seconds);
  std::printf("curl + unzip -o -q:                                    %.3f s\n", reference);
  std::printf("ratio %.2f (goal 1.5 or less)\n", best.seconds / reference);
  std::printf("longest event-loop gap during the road: %.1f ms (goal 50 or less)\n",
              best.longestGapMs);
  return 0;
}
