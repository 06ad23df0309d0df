// The port list: the system's ports plus ports added in code and ports a
// simulator published.
#include "platform/qt/serial_ports.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "unitsim/unit_sim.h"

namespace fs = std::filesystem;

namespace {
std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const auto& p : platform::SerialPorts()) names.push_back(p.Name);
  return names;
}
}  // namespace

TEST(SerialPorts, AddedAndPublishedPortsFollowTheSystemsOwn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path published = dir.path().toStdString();
  unitsim::UnitSim unit;
  ASSERT_TRUE(unit.Ok());
  fs::create_symlink(unit.PortPath(), published / "ttyVantoraSim");
  fs::create_symlink("/dev/pts/no-such-pty", published / "ttyStale");  // its simulator is gone
  std::ofstream(published / "notes.txt") << "not a device";
  platform::SetPublishedPortDir(published.string());
  platform::UseSystemSerialPorts(false);
  platform::ClearExtraSerialPorts();

  platform::AddExtraSerialPort("ttyB", "/dev/b");
  platform::AddExtraSerialPort("ttyA", "/dev/a");
  platform::AddExtraSerialPort("ttyB", "/dev/b2");  // same name: replaced, moves last
  EXPECT_EQ(Names(), (std::vector<std::string>{"ttyA", "ttyB", "ttyVantoraSim"}));
  const auto ports = platform::SerialPorts();
  EXPECT_EQ(ports[1].Location, "/dev/b2");
  EXPECT_EQ(ports[2].Location, (published / "ttyVantoraSim").string());
  EXPECT_EQ(platform::SerialPortCount(), 3);

  platform::RemoveExtraSerialPort("ttyA");
  EXPECT_EQ(platform::SerialPortCount(), 2);

  // The system's own ports come first when they are used.
  platform::UseSystemSerialPorts(true);
  const int system = platform::SerialPortCount() - 2;
  EXPECT_GE(system, 0);
  EXPECT_EQ(platform::SerialPorts().back().Name, "ttyVantoraSim");

  platform::ClearExtraSerialPorts();
  platform::SetPublishedPortDir("/nonexistent/vantora-ports");
  EXPECT_EQ(platform::SerialPortCount(), system);
}

// The port watch and the link watchdog count the ports twice a second each;
// the system is asked again only when a device node comes or goes.
TEST(SerialPorts, SystemAskedAgainOnlyWhenTheDeviceNamesChange) {
  QTemporaryDir dev;
  ASSERT_TRUE(dev.isValid());
  const fs::path devDir = dev.path().toStdString();
  std::ofstream(devDir / "ttyS0") << "";
  const std::string previousDev = platform::DeviceDir();
  platform::SetDeviceDir(devDir.string());
  platform::SetPublishedPortDir("/nonexistent/vantora-ports");
  platform::ClearExtraSerialPorts();
  platform::UseSystemSerialPorts(true);

  const int before = platform::SystemPortScans();
  const auto first = platform::SerialPorts();
  EXPECT_EQ(platform::SystemPortScans(), before + 1);  // another folder than last time
  for (int i = 0; i < 5; ++i) EXPECT_EQ(platform::SerialPorts().size(), first.size());
  EXPECT_EQ(platform::SystemPortScans(), before + 1);

  std::ofstream(devDir / "ttyUSB0") << "";  // plugged in
  platform::SerialPortCount();
  platform::SerialPortCount();
  EXPECT_EQ(platform::SystemPortScans(), before + 2);
  fs::remove(devDir / "ttyUSB0");  // pulled out
  platform::SerialPortCount();
  EXPECT_EQ(platform::SystemPortScans(), before + 3);

  // A device folder that can't be read leaves nothing to compare: ask each time.
  platform::SetDeviceDir((devDir / "missing").string());
  platform::SerialPortCount();
  platform::SerialPortCount();
  EXPECT_EQ(platform::SystemPortScans(), before + 5);

  // While the system's ports are left out it isn't asked at all.
  platform::UseSystemSerialPorts(false);
  platform::SerialPortCount();
  EXPECT_EQ(platform::SystemPortScans(), before + 5);
  platform::SetDeviceDir(previousDev);
}
