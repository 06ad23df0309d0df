// The simulator as a person runs it: it prints its port, publishes it for the
// tool's port list, answers the hello, and tidies up when stopped.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>

#include "link/super_serial.h"

namespace {
// Reads until `n` bytes came or the line stays silent for two seconds.
std::string ReadSome(int fd, std::size_t n) {
  std::string got;
  char buf[64];
  pollfd p{fd, POLLIN, 0};
  while (got.size() < n && poll(&p, 1, 2000) > 0) {
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}
}  // namespace

TEST(UnitsimProgram, ServesAndPublishesItsPort) {
  const std::string name = "ttyVantoraTest" + std::to_string(getpid());
  QProcess sim;
  sim.start(VANTORA_UNITSIM, {"--revision", "55", "--name", QString::fromStdString(name)});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const std::string path = sim.readLine().trimmed().toStdString();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  const std::filesystem::path link = std::filesystem::path("/tmp/vantora-ports") / name;
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  ASSERT_EQ(write(fd, "VV", 2), 2);
  EXPECT_EQ(ReadSome(fd, 3), "NM\x37");
  close(fd);

  sim.terminate();
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_EQ(sim.exitCode(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}
