// The port list: the system's ports plus ports added in code and ports a
// simulator published.
#include "platform/qt/serial_ports.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/published_ports.h"
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

// Anyone could fill a folder that is not the user's alone with links to a
// device of their choosing, which the detection would then probe.
TEST(SerialPorts, PublishedOnlyFromAFolderAndEntriesOfTheUsersAlone) {
  unitsim::UnitSim unit;
  ASSERT_TRUE(unit.Ok());
  platform::UseSystemSerialPorts(false);
  platform::ClearExtraSerialPorts();
  const bool root = ::geteuid() == 0;  // only root can give a file away or make a device node
  const uid_t other = 65534;
  struct stat pty {};
  ASSERT_EQ(::stat(unit.PortPath().c_str(), &pty), 0);
  // Puts the simulator's device itself in the link's place.
  auto node = [&](const fs::path& d, mode_t mode) {
    const fs::path n = d / "ttySim";
    return ::unlink(n.c_str()) == 0 && ::mknod(n.c_str(), S_IFCHR | 0600, pty.st_rdev) == 0 &&
                   ::chmod(n.c_str(), mode) == 0
               ? d
               : fs::path();
  };
  struct Case {
    const char* what;
    bool needsRoot;
    // Spoils the published folder `dir` (holding the link "ttySim"); returns
    // the path to use as the folder.
    std::function<fs::path(const fs::path& dir)> spoil;
    bool folderUsable;
    bool listed;
  };
  const Case cases[] = {
      {"the user's own", false, [](const fs::path& d) { return d; }, true, true},
      {"folder writable by its group", false,
       [](const fs::path& d) { return ::chmod(d.c_str(), 0770) == 0 ? d : fs::path(); }, false,
       false},
      {"folder writable by others", false,
       [](const fs::path& d) { return ::chmod(d.c_str(), 0703) == 0 ? d : fs::path(); }, false,
       false},
      {"folder reached through a link", false,
       [](const fs::path& d) {
         fs::create_directory_symlink(d, d.parent_path() / "via");
         return d.parent_path() / "via";
       },
       false, false},
      {"folder owned by another user", true,
       [&](const fs::path& d) { return ::chown(d.c_str(), other, other) == 0 ? d : fs::path(); },
       false, false},
      {"link owned by another user", true,
       [&](const fs::path& d) {
         return ::lchown((d / "ttySim").c_str(), other, other) == 0 ? d : fs::path();
       },
       true, false},
      {"device node", true, [&](const fs::path& d) { return node(d, 0600); }, true, true},
      {"device node writable by its group", true, [&](const fs::path& d) { return node(d, 0620); },
       true, false},
      {"device node writable by others", true, [&](const fs::path& d) { return node(d, 0602); },
       true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) continue;
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    const fs::path made = fs::path(top.path().toStdString()) / "ports";
    std::string error;
    ASSERT_TRUE(platform::MakePublishedPortDir(made.string(), &error)) << error;
    EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
    fs::create_symlink(unit.PortPath(), made / "ttySim");
    const fs::path dir = c.spoil(made);
    ASSERT_FALSE(dir.empty());
    platform::SetPublishedPortDir(dir.string());
    EXPECT_EQ(Names(), c.listed ? std::vector<std::string>{"ttySim"} : std::vector<std::string>{});
    // The simulator refuses to publish in such a folder, and leaves it be.
    EXPECT_EQ(platform::MakePublishedPortDir(dir.string(), &error), c.folderUsable);
    EXPECT_TRUE(fs::exists(fs::symlink_status(made / "ttySim")));
  }
  platform::SetPublishedPortDir("/nonexistent/vantora-ports");
}

TEST(SerialPorts, TheDefaultPublishedFolderIsTheUsersOwn) {
  QTemporaryDir runtime;
  ASSERT_TRUE(runtime.isValid());
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string previous = saved ? saved : "";
  const std::string fallback = "/tmp/vantora-ports-" + std::to_string(::geteuid());
  ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  EXPECT_EQ(platform::DefaultPublishedPortDir(), runtime.path().toStdString() + "/vantora-ports");
  ::chmod(runtime.path().toLocal8Bit().constData(), 0777);
  EXPECT_EQ(platform::DefaultPublishedPortDir(), fallback);
  // Relative, it would name another folder wherever the program is started.
  ::chmod(runtime.path().toLocal8Bit().constData(), 0700);
  const std::string relative = fs::relative(runtime.path().toStdString()).string();
  ASSERT_FALSE(relative.empty());
  ASSERT_NE(relative[0], '/');
  ::setenv("XDG_RUNTIME_DIR", relative.c_str(), 1);
  EXPECT_EQ(platform::DefaultPublishedPortDir(), fallback);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::DefaultPublishedPortDir(), fallback);
  if (saved) ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
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
