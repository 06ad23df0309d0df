#pragma once
// Runs a check in a child process that has given up root, for tests of what
// an ordinary user may not do (root may write into any folder).
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace test_support {

// The user and the primary group the child runs as.
inline constexpr unsigned kUnprivilegedId = 65534;

// True when fn returned true in the child. The child belongs to the
// `supplementary` groups besides its primary one, and to no other.
inline bool RunUnprivileged(const std::function<bool()>& fn,
                            const std::vector<gid_t>& supplementary = {}) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(supplementary.size(), supplementary.data()) != 0 ||
                             ::setgid(kUnprivilegedId) != 0 || ::setuid(kUnprivilegedId) != 0))
      ::_exit(2);
    ::_exit(fn() ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace test_support
