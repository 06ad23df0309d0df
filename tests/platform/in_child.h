#pragma once
// Runs a check in a child process with a deadline, for calls that must
// return at once: should one block after all, the test fails instead of
// hanging.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>

namespace test_support {

// What fn returned in a child process; none when the child had not
// answered by the deadline (it is then killed) or ended without answering.
inline std::optional<bool> InChildWithin(std::chrono::milliseconds deadline,
                                         const std::function<bool()>& fn) {
  int answer[2];
  if (::pipe2(answer, O_CLOEXEC) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(answer[0]);
    const char result = fn() ? 1 : 0;
    ::_exit(::write(answer[1], &result, 1) == 1 ? 0 : 1);
  }
  ::close(answer[1]);
  pollfd ready{answer[0], POLLIN, 0};
  int polled = -1;
  while (pid > 0 && (polled = ::poll(&ready, 1, static_cast<int>(deadline.count()))) < 0 &&
         errno == EINTR) {
  }
  char result = 0;
  const bool answered = polled == 1 && ::read(answer[0], &result, 1) == 1;
  ::close(answer[0]);
  if (pid > 0) {
    if (!answered) ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  if (!answered) return std::nullopt;
  return result == 1;
}

}  // namespace test_support
