// A full settings read and a full settings write against the simulated unit
// over a pty, through the real window and its 30 ms pump. The pump sends one
// request a turn, so no exchange can beat requests x 30 ms; the figures say
// how close to that floor the window gets.
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/serial_ports.h"
#include "unitsim/await.h"
#include "unitsim/unit_sim.h"

namespace {

constexpr int kPumpMs = 30;
constexpr int kRuns = 5;

struct Figure {
  double ms = 0;
  int requests = 0;
  double Ratio() const { return ms / (requests * kPumpMs); }
};

bool Idle(const LCDProg& w) {
  return w.Sline.IsIdle();
}

// Starts an exchange, counts what it queued and times it until the link is idle.
Figure Time(LCDProg& w, const std::function<void()>& start) {
  QElapsedTimer clock;
  clock.start();
  start();
  Figure f;
  f.requests = w.Sline.PacketCount();
  if (!unitsim::Await([&] { return Idle(w) && !w.Programming; }, 60000)) {
    std::fprintf(stderr, "the unit stopped answering\n");
    std::exit(1);
  }
  f.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  return f;
}

void Report(const char* what, std::vector<Figure> runs) {
  std::sort(runs.begin(), runs.end(), [](const Figure& a, const Figure& b) { return a.ms < b.ms; });
  const Figure& median = runs[runs.size() / 2];
  std::printf(
      "%-11s %3d requests  floor %5d ms  median %7.1f ms (ratio %.3f)  best %7.1f ms (%.3f)"
      "  worst %7.1f ms (%.3f)\n",
      what, median.requests, median.requests * kPumpMs, median.ms, median.Ratio(), runs.front().ms,
      runs.front().Ratio(), runs.back().ms, runs.back().Ratio());
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  unitsim::UnitSim unit;
  if (!unit.Ok()) {
    std::fprintf(stderr, "no simulated unit: %s\n", unit.Error().c_str());
    return 1;
  }
  unit.SetSettings(unitsim::UnitSettings::Defaults());
  platform::SetPublishedPortDir("/nonexistent/vantora-ports");
  platform::AddExtraSerialPort("ttyBench", unit.PortPath());
  Spec::DataPort = "ttyBench";
  int messages = 0;
  platform::SetMsgBoxSink([&](const std::string&) { ++messages; });

  LCDProg w;
  w.Sline.Connect();
  if (!unitsim::Await([&] { return w.Sline.Opened; })) {
    std::fprintf(stderr, "the port did not open\n");
    return 1;
  }
  // The window greets the unit on Connecting; greet it here when nobody did.
  if (w.Sline.IsIdle() && !w.Sline.isConnected) w.Sline.AddPacket(PacketTypeHello, "VV");
  if (!unitsim::Await([&] { return w.Sline.isConnected && Idle(w); }, 20000)) {
    std::fprintf(stderr, "the unit did not answer the hello\n");
    return 1;
  }

  std::vector<Figure> reads, writes;
  for (int i = 0; i < kRuns; ++i) {
    reads.push_back(Time(w, [&] { w.ReadSettings(); }));
    writes.push_back(Time(w, [&] {
      w.Opt[1 + i] = 40 + i;           // one changed place
      w.O2List.SetCell(i, 1, "12.3");  // and one changed table row
      w.WriteSettings();
    }));
  }
  Report("full read", reads);
  Report("full write", writes);
  std::printf("completion messages: %d of %d writes\n", messages, kRuns);
  return 0;
}
