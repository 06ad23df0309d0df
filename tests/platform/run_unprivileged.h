#pragma once
// Runs a check in a child process that has given up root, for tests of what
// an ordinary user may not do (root may write into any folder).
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace test_support {

// True when fn returned true in the child.
inline bool RunUnprivileged(const std::function<bool()>& fn) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(fn() ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace test_support
