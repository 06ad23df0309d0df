// The simulated bootloader against an independent AVR109 programmer:
// avrdude writes an image through the pty, then reads it back to verify.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <random>

#include "unitsim/unit_sim.h"

namespace {
struct AvrdudeRun {
  int ExitCode = -1;
  std::string Output;
};

AvrdudeRun Avrdude(const std::string& port, const std::string& operation) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(VANTORA_AVRDUDE, {"-c", "avr109", "-p", "m128", "-P", QString::fromStdString(port), "-b",
                            "921600", "-U", QString::fromStdString(operation)});
  AvrdudeRun run;
  if (!p.waitForStarted(10000) || !p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    run.Output = "avrdude did not run to its end";
    return run;
  }
  run.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  run.Output = p.readAll().toStdString();
  return run;
}

std::vector<std::uint8_t> Image(std::size_t size) {
  std::mt19937 random(1234);
  std::vector<std::uint8_t> image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  return image;
}
}  // namespace

TEST(Avrdude, WritesAndVerifiesAnImageThroughTheBootloader) {
  unitsim::UnitSim unit;
  ASSERT_TRUE(unit.Ok()) << unit.Error();
  unit.EnterBootloader();
  unit.SetRevisionAfterUpdate(77);
  std::vector<std::uint8_t> old(unitsim::kFlashSize, 0x5A);
  unit.SetFlash(old);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath("image.bin").toStdString();
  const std::vector<std::uint8_t> image = Image(12345);  // not a whole number of blocks
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }

  const AvrdudeRun written = Avrdude(unit.PortPath(), "flash:w:" + file + ":r");
  ASSERT_EQ(written.ExitCode, 0) << written.Output;
  EXPECT_NE(written.Output.find("12345 bytes of flash verified"), std::string::npos)
      << written.Output;
  EXPECT_NE(written.Output.find("0x1e9702"), std::string::npos) << written.Output;

  const std::vector<std::uint8_t> flash = unit.Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  // The chip was erased first, so nothing of the old contents is left.
  EXPECT_EQ(flash[image.size() + 300], 0xFF);
  EXPECT_EQ(flash.back(), 0xFF);
  EXPECT_EQ(unit.EraseCount(), 1);
  // avrdude leaves the bootloader when it closes: the new firmware answers.
  EXPECT_EQ(unit.CurrentMode(), unitsim::Mode::Firmware);
  EXPECT_EQ(unit.Revision(), 77);

  // Verification really reads the flash back: a changed byte is caught.
  unit.EnterBootloader();
  std::vector<std::uint8_t> damaged = flash;
  damaged[5000] ^= 0xFF;
  unit.SetFlash(damaged);
  const AvrdudeRun verify = Avrdude(unit.PortPath(), "flash:v:" + file + ":r");
  EXPECT_NE(verify.ExitCode, 0) << verify.Output;
  EXPECT_NE(verify.Output.find("0x1388"), std::string::npos) << verify.Output;  // offset 5000
}
