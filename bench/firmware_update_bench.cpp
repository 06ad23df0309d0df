// Times a firmware update of a 64 KiB image against the simulated unit, the
// window's way (Update Firmware, one request per 30 ms pump turn) and, for
// comparison, avrdude's avr109 programmer writing the same image to the same
// simulated bootloader.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "link/module_globals.h"
#include "mainwindow/lcdprog.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/serial_ports.h"
#include "unit/firmware_update.h"
#include "unitsim/await.h"
#include "unitsim/unit_sim.h"

namespace {

constexpr std::size_t kImageBytes = 64 * 1024;
constexpr double kPumpSeconds = 0.030;

std::string Image() {
  std::mt19937 random(2026);
  std::string image(kImageBytes, '\0');
  for (char& c : image) c = static_cast<char>(random() & 0xFF);
  return image;
}

bool FlashHolds(const unitsim::UnitSim& unit, const std::string& image) {
  const std::vector<std::uint8_t> flash = unit.Flash();
  if (flash.size() < image.size()) return false;
  for (std::size_t i = 0; i < image.size(); ++i)
    if (flash[i] != static_cast<std::uint8_t>(image[i])) return false;
  return true;
}

int WindowUpdate(const std::string& image) {
  unitsim::UnitSim unit;
  if (!unit.Ok()) {
    std::fprintf(stderr, "no pty: %s\n", unit.Error().c_str());
    return 1;
  }
  platform::SetPublishedPortDir("/nonexistent/vantora-ports");
  platform::AddExtraSerialPort("ttySim", unit.PortPath());
  Spec::DataPort = "ttySim";
  platform::SetMsgBoxSink(
      [](const std::string& text) { std::printf("message: %s\n", text.c_str()); });

  LCDProg w;
  w.FirmwareImage = [&image] { return image; };
  w.ConButton_Action();
  const auto idle = [&] { return w.Sline.IsIdle(); };
  if (!unitsim::Await([&] { return w.Sline.isConnected && idle(); }, 20000)) {
    std::fprintf(stderr, "the simulated unit did not answer\n");
    return 1;
  }

  const std::size_t before = unit.RequestCount();
  QElapsedTimer clock;
  clock.start();
  w.FWUpdate_Action();
  // Done when the unit has acknowledged leaving its bootloader.
  const bool done = unitsim::Await([&] { return !w.FirmwareUnderway; }, 600000);
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const std::size_t packets = unit.RequestCount() - before;
  if (!done || !FlashHolds(unit, image)) {
    std::fprintf(stderr, "the update did not finish or the flash differs\n");
    return 1;
  }
  const double floor = static_cast<double>(packets) * kPumpSeconds;
  std::printf("window update of %zu bytes: %.3f s, %zu packets, pump floor %.3f s, ratio %.3f\n",
              image.size(), seconds, packets, floor, seconds / floor);
  w.Sline.Disconnect();
  platform::ClearExtraSerialPorts();
  return 0;
}

int AvrdudeWrite(const std::string& image, bool verify) {
  unitsim::UnitSim unit;
  if (!unit.Ok()) return 1;
  unit.EnterBootloader();
  QTemporaryDir dir;
  const std::string file = dir.filePath("image.bin").toStdString();
  {
    std::ofstream out(file, std::ios::binary);
    out.write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  QStringList args{"-c", "avr109",
                   "-p", "m128",
                   "-P", QString::fromStdString(unit.PortPath()),
                   "-b", "921600",
                   "-U", QString::fromStdString("flash:w:" + file + ":r")};
  if (!verify) args.prepend("-V");
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  QElapsedTimer clock;
  clock.start();
  p.start("avrdude", args);
  if (!p.waitForStarted(10000) || !p.waitForFinished(600000) || p.exitCode() != 0) {
    std::fprintf(stderr, "avrdude failed:\n%s\n", p.readAll().constData());
    return 1;
  }
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  if (!FlashHolds(unit, image)) {
    std::fprintf(stderr, "avrdude's flash differs\n");
    return 1;
  }
  std::printf("avrdude -c avr109 %s of %zu bytes: %.3f s\n", verify ? "write+verify" : "write",
              image.size(), seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string image = Image();
  int rc = WindowUpdate(image);
  rc |= AvrdudeWrite(image, false);
  rc |= AvrdudeWrite(image, true);
  return rc;
}
