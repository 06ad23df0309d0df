#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <functional>
#include <vector>

#include "fixtures/zip_builder.h"
#include "platform/run_unprivileged.h"

namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  static std::string Read(const std::string& path) { return fixtures::ReadFile(path); }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::vector<std::string> Entries(const std::string& folder) const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }

  fixtures::TempDir temp_;
  std::string dir_ = temp_.path().string();
};

TEST_F(AtomicFileTest, CreatesAndReplacesKeepingPermissions) {
  const std::string path = dir_ + "/layout.lcd";
  std::string error;
  ASSERT_TRUE(platform::WriteFileAtomic(path, std::string("\x03\xff\0z", 4), &error)) << error;
  EXPECT_EQ(Read(path), std::string("\x03\xff\0z", 4));

  ::chmod(path.c_str(), 0604);
  ASSERT_TRUE(platform::WriteFileAtomic(path, "second", &error)) << error;
  EXPECT_EQ(Read(path), "second");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"layout.lcd"});  // no temporary left
}

TEST_F(AtomicFileTest, WritesThroughASymbolicLink) {
  const std::string real = dir_ + "/real.lcd";
  const std::string link = dir_ + "/link.lcd";
  Write(real, "old");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(link, "new", nullptr));
  EXPECT_EQ(Read(real), "new");
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// Named in a folder held open, a link at the name is what is replaced: the
// file it points at, write-protected or not, is neither read nor written.
TEST_F(AtomicFileTest, InAFolderHeldOpenALinkIsReplacedNotFollowed) {
  const std::string real = dir_ + "/real.lcd";
  Write(real, "old");
  ::chmod(real.c_str(), 0444);
  ASSERT_EQ(::symlink(real.c_str(), (dir_ + "/link.lcd").c_str()), 0);
  const int folder = ::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_TRUE(platform::WriteFileAtomicAt(
      folder, "link.lcd", [](int fd, int* err) { return platform::WriteAll(fd, "new", err); },
      nullptr));
  ::close(folder);
  EXPECT_EQ(Read(real), "old");
  EXPECT_EQ(Read(dir_ + "/link.lcd"), "new");
  struct stat st {};
  ASSERT_EQ(::lstat((dir_ + "/link.lcd").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(AtomicFileTest, MissingFolderOrDirectoryTargetFailsWithReason) {
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(dir_ + "/no/such/folder/x.lcd", "x", &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  ::mkdir((dir_ + "/sub").c_str(), 0755);
  error.clear();
  EXPECT_FALSE(platform::WriteFileAtomic(dir_ + "/sub", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"sub"});
  EXPECT_FALSE(platform::WriteFileAtomic("", "x", &error));
}

// A write that fails half-way (here: the file size limit is hit, as on a
// full disk) must leave the previous file whole and no temporary behind.
TEST_F(AtomicFileTest, FailureMidWriteLeavesOldFileIntact) {
  const std::string path = dir_ + "/layout.lcd";
  const std::string old(300, 'o');
  Write(path, old);

  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  bool ok = platform::WriteFileAtomic(path, std::string(5000, 'n'), &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("Cannot write the file"), std::string::npos) << error;
  EXPECT_EQ(Read(path), old);
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{"layout.lcd"});
}

TEST_F(AtomicFileTest, ReadOnlyFolderLeavesOldFileIntact) {
  const std::string folder = dir_ + "/readonly";
  const std::string path = folder + "/layout.lcd";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  Write(path, "previous layout");
  ::chmod(path.c_str(), 0666);  // the file itself is writable; the folder is not
  ::chmod(folder.c_str(), 0555);

  bool failedWithReason = test_support::RunUnprivileged([&] {
    std::string error;
    return !platform::WriteFileAtomic(path, "new layout", &error) &&
           error.find("Permission denied") != std::string::npos;
  });
  EXPECT_TRUE(failedWithReason);
  EXPECT_EQ(Read(path), "previous layout");
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"layout.lcd"});
}

// The rename would replace a file that its mode protects from this user, as
// it replaces any other; such a save must fail and leave the file as it was.
TEST_F(AtomicFileTest, WriteProtectedFileIsRefusedAndLeftAsItWas) {
  const std::string path = dir_ + "/layout.lcd";
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);  // the folder never stops the rename
  // Which of the saving user's groups the file belongs to, if any.
  enum class Group { None, Primary, Supplementary };
  constexpr gid_t kSupplementaryId = 65533;
  struct Case {
    mode_t mode;
    bool otherUser;  // saved by a user who does not own the file
    Group usersGroup;
    bool refused;
  };
  const Case cases[] = {
      {0444, false, Group::None, true},
      {0604, true, Group::None, true},  // the owner may write; others may not
      {0646, true, Group::None, false},
      {0646, true, Group::Primary, true},  // others may write, but the group may not
      {0464, true, Group::Primary, false},
      {0646, true, Group::Supplementary, true},  // the two above, through a supplementary group
      {0464, true, Group::Supplementary, false},
  };
  for (const Case& c : cases) {
    if (c.otherUser && ::geteuid() != 0) continue;  // needs a second user
    ::unlink(path.c_str());
    Write(path, "previous layout");
    if (c.usersGroup != Group::None) {
      const gid_t gid =
          c.usersGroup == Group::Primary ? test_support::kUnprivilegedId : kSupplementaryId;
      ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), gid), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    auto save = [&] {
      std::string error;
      bool saved = platform::WriteFileAtomic(path, "new layout", &error);
      return c.refused ? !saved && error == "Cannot replace the file: Permission denied" : saved;
    };
    EXPECT_TRUE(c.otherUser ? test_support::RunUnprivileged(save, {kSupplementaryId}) : save())
        << std::oct << c.mode << std::dec << " group " << static_cast<int>(c.usersGroup);
    EXPECT_EQ(Read(path), c.refused ? "previous layout" : "new layout");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"layout.lcd"});
  }
}

}  // namespace

namespace {

// How often the umask has been changed, and the mode the last staged file of
// a save was created with: these stand in for the C library's umask and openat
// in the test program, and pass every call on to the kernel.
std::atomic<int> umaskChanges{0};
std::atomic<int> stagedMode{-1};

}  // namespace

extern "C" mode_t umask(mode_t mask) noexcept {
  const auto previous = static_cast<mode_t>(::syscall(SYS_umask, mask));
  if (previous != mask) ++umaskChanges;
  return previous;
}

extern "C" int openat(int folder, const char* path, int flags, ...) {
  int mode = 0;
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, int);
    va_end(args);
  }
  if ((flags & O_CREAT) && std::strstr(path, ".vantora-") && std::strstr(path, ".tmp")) {
    stagedMode = mode;
  }
  return static_cast<int>(::syscall(SYS_openat, folder, path, flags, mode));
}

// A new file gets the mode any new file gets under the umask, and an existing
// one keeps its own; the file staged to replace it is created for its owner
// alone, and given that mode only then. Saving never changes the umask, not
// even for an instant: it is the whole program's, and the archive job creates
// files on a thread of its own meanwhile, which would then come out writable
// by everyone.
TEST_F(AtomicFileTest, NewFilesFollowTheUmaskWhichSavingNeverChanges) {
  const std::string path = dir_ + "/layout.lcd";
  const mode_t saved = ::umask(022);
  for (const mode_t mask : {022, 077, 002}) {
    ::umask(mask);
    umaskChanges = 0;
    ::unlink(path.c_str());
    ASSERT_TRUE(platform::WriteFileAtomic(path, "new", nullptr));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << std::oct << mask;

    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    stagedMode = -1;
    ASSERT_TRUE(platform::WriteFileAtomic(path, "again", nullptr));
    EXPECT_EQ(stagedMode, 0600) << std::oct << stagedMode;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(umaskChanges, 0) << std::oct << mask;

    // A file replaced keeps its permissions, never its setuid, setgid or
    // sticky bit: the new one may belong to someone else.
    ASSERT_EQ(::chmod(path.c_str(), 07755), 0);
    ASSERT_TRUE(platform::WriteFileAtomic(path, "once more", nullptr));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
  }
  ::umask(saved);
}
