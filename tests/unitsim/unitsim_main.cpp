// The simulated unit as a program: serves a pty until interrupted, and
// publishes it where the tool's port list looks, so the tool can be tried
// without hardware.
//
//   unitsim [--revision N] [--name ttyVantoraSim] [--bootloader]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "unitsim/unit_sim.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) {
  stopRequested = 1;
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
    } else if (arg == "--name" && i + 1 < argc) {
      name = argv[++i];
    } else if (arg == "--bootloader") {
      bootloader = true;
    } else {
      std::fprintf(stderr, "usage: %s [--revision N] [--name PORTNAME] [--bootloader]\n", argv[0]);
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

  namespace fs = std::filesystem;
  const fs::path dir = "/tmp/vantora-ports";
  const fs::path link = dir / name;
  std::error_code ec;
  fs::create_directories(dir, ec);
  fs::remove(link, ec);
  fs::create_symlink(unit.PortPath(), link, ec);
  if (ec) {
    std::fprintf(stderr, "unitsim: cannot publish %s: %s\n", link.c_str(), ec.message().c_str());
  }
  std::printf("%s\n", unit.PortPath().c_str());
  if (!ec) std::printf("published as port %s (%s)\n", name.c_str(), link.c_str());
  std::fflush(stdout);

  while (!stopRequested) sigsuspend(&waitMask);
  fs::remove(link, ec);
  return 0;
}
