// The simulator as a person runs it: it prints its port, publishes it for the
// tool's port list in the user's own folder, answers the hello, and tidies up
// when stopped.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>

#include "link/super_serial.h"
#include "unitsim/await.h"

namespace fs = std::filesystem;

namespace {
// Reads until `n` bytes came or the line stays silent for the hang guard.
std::string ReadSome(int fd, std::size_t n) {
  std::string got;
  char buf[64];
  pollfd p{fd, POLLIN, 0};
  while (got.size() < n && poll(&p, 1, unitsim::kHangGuardMs) > 0) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

// Opens the simulator's port as a serial terminal would, bytes unchanged.
int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// A simulator whose runtime folder is a temporary one of the test's, so
// nothing it publishes reaches the user's own port list.
class UnitsimProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    ports = fs::path(runtime.path().toStdString()) / "vantora-ports";
  }

  // Starts the simulator and returns the pty path it printed first.
  std::string Start(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    sim.setProcessEnvironment(env);
    sim.start(VANTORA_UNITSIM, args);
    if (!sim.waitForStarted(unitsim::kHangGuardMs)) return {};
    if (!sim.canReadLine() && !sim.waitForReadyRead(unitsim::kHangGuardMs)) return {};
    return sim.readLine().trimmed().toStdString();
  }

  void Stop() {
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(unitsim::kHangGuardMs));
    EXPECT_EQ(sim.exitCode(), 0);
  }

  QTemporaryDir runtime;
  fs::path ports;
  QProcess sim;
};
}  // namespace

TEST_F(UnitsimProgram, ServesAndPublishesItsPortInTheUsersOwnFolder) {
  const std::string path = Start({"--revision", "55", "--name", "ttyVantoraTest"});
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  const fs::path link = ports / "ttyVantoraTest";
  EXPECT_EQ(fs::read_symlink(link).string(), path);
  struct stat st {};
  ASSERT_EQ(::stat(ports.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());

  const int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "VV", 2), 2);
  EXPECT_EQ(ReadSome(fd, 3), "NM\x37");
  close(fd);

  Stop();
  EXPECT_FALSE(fs::is_symlink(link));
}

TEST_F(UnitsimProgram, PublishesNothingInAFolderOthersMayWriteTo) {
  fs::create_directory(ports);
  fs::permissions(ports, fs::perms::all);
  const std::string path = Start({"--name", "ttyVantoraTest"});
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  Stop();
  EXPECT_FALSE(fs::exists(ports / "ttyVantoraTest"));
  EXPECT_NE(sim.readAllStandardError().indexOf("cannot publish"), -1);
  EXPECT_EQ(fs::status(ports).permissions(), fs::perms::all);
}

// The window shows nothing of a key pressed from the COM page, so the
// simulator prints a line for each key it receives, and for nothing else.
TEST_F(UnitsimProgram, PrintsALineForEachKeyItReceives) {
  const std::string path = Start({});
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  const int fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  // The hello and the layout preview's "00" are no keys.
  const std::string requests = "VV<<>>++00--==";
  ASSERT_EQ(write(fd, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  EXPECT_EQ(ReadSome(fd, 9), "NM\x28OOOOOO");
  close(fd);

  QByteArray out = sim.readAllStandardOutput();
  while (!out.contains("key pressed: E\n") && sim.waitForReadyRead(unitsim::kHangGuardMs)) {
    out += sim.readAllStandardOutput();
  }
  std::vector<std::string> lines;
  for (const QByteArray& line : out.split('\n')) {
    if (!line.isEmpty() && !line.startsWith("published as port "))
      lines.push_back(line.toStdString());
  }
  EXPECT_EQ(lines,
            (std::vector<std::string>{"key pressed: left", "key pressed: right", "key pressed: up",
                                      "key pressed: down", "key pressed: E"}));
  Stop();
}
