// The simulated unit as a program: serves a pty until interrupted, and
// publishes it where the tool's port list looks (the user's own folder,
// $XDG_RUNTIME_DIR/vantora-ports or /tmp/vantora-ports-<uid>), so the tool
// can be tried without hardware. Each key press it receives is printed.
//
//   unitsim [--revision N] [--name ttyVantoraSim] [--bootloader] [--help]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/published_ports.h"
#include "unitsim/unit_sim.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
  stopRequested = 1;
}

// A plain file name: the link must land in the folder, not beside it.
bool IsPortName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Links the pty as `name` in the user's own folder, which only this user can
// change; a folder someone else made in its place is not used. The link's
// path, or nothing (and the reason on stderr) when it could not be made.
std::optional<std::filesystem::path> Publish(const std::string& pty, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path dir = platform::DefaultPublishedPortDir();
  const fs::path link = dir / name;
  std::string problem;
  if (platform::MakePublishedPortDir(dir, &problem)) {
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_symlink(pty, link, ec);
    if (!ec) return link;
    problem = ec.message();
  }
  std::fprintf(stderr, "unitsim: cannot publish %s: %s\n", link.c_str(), problem.c_str());
  return std::nullopt;
}

// Asked for, the options go to stdout; after a wrong one, to stderr.
void PrintUsage(std::FILE* out, const char* program) {
  std::fprintf(out,
               "usage: %s [--revision N] [--name PORTNAME] [--bootloader]\n"
               "Runs a simulated unit on a pseudo terminal, prints its path and publishes it\n"
               "as a serial port in %s until stopped.\n"
               "  --revision N     firmware revision the unit reports (default 40)\n"
               "  --name PORTNAME  port name to publish it as (default ttyVantoraSim)\n"
               "  --bootloader     start the unit in its bootloader\n"
               "  --help           print this and exit\n",
               program, platform::DefaultPublishedPortDir().c_str());
}
}  // namespace

int main(int argc, char** argv) {
  int revision = 40;
  std::string name = "ttyVantoraSim";
  bool bootloader = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--revision" && i + 1 < argc) {
      revision = std::atoi(argv[++i]);
    } else if (arg == "--name" && i + 1 < argc && IsPortName(argv[i + 1])) {
      name = argv[++i];
    } else if (arg == "--bootloader") {
      bootloader = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout, argv[0]);
      return 0;
    } else {
      PrintUsage(stderr, argv[0]);
      return 2;
    }
  }
  // The stop signals stay blocked everywhere but in sigsuspend below: the
  // unit's thread inherits the mask, so a signal can neither land on that
  // thread nor arrive between the check of the flag and the wait.
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  unitsim::UnitSim unit;
  if (!unit.Ok()) {
    std::fprintf(stderr, "unitsim: %s\n", unit.Error().c_str());
    return 1;
  }
  unit.SetRevision(revision);
  if (bootloader) unit.EnterBootloader();
  unit.OnKey([](const std::string& key) {
    std::printf("key pressed: %s\n", key.c_str());
    std::fflush(stdout);
  });

  std::printf("%s\n", unit.PortPath().c_str());
  const std::optional<std::filesystem::path> link = Publish(unit.PortPath(), name);
  if (link) std::printf("published as port %s (%s)\n", name.c_str(), link->c_str());
  std::fflush(stdout);

  while (!stopRequested) sigsuspend(&waitMask);
  std::error_code ec;
  if (link) std::filesystem::remove(*link, ec);
  return 0;
}
