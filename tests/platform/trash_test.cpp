// Which Trash an item goes to: the home Trash on its own device, else the
// Trash of the item's volume, so that the move stays a rename.
#include "platform/qt/trash.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/look_hook.h"
#include "fixtures/no_replace_hook.h"
#include "fixtures/zip_builder.h"
#include "platform/in_child.h"
#include "platform/run_unprivileged.h"

namespace fs = std::filesystem;
using fixtures::Names;

namespace {

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void ChownAll(const fs::path& path, unsigned id) {
  ASSERT_EQ(::lchown(path.c_str(), id, id), 0) << path;
  if (fs::is_directory(fs::symlink_status(path))) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(path))
      ASSERT_EQ(::lchown(e.path().c_str(), id, id), 0) << e.path();
  }
}

}  // namespace

TEST(Trash, VolumeTrashIsTheAdministratorsOnlyWhenItIsSafe) {
  const std::string uid = std::to_string(::getuid());
  const std::string own = ".Trash-" + uid;
  const std::string shared = ".Trash/" + uid;
  struct Case {
    const char* what;
    std::function<void(const fs::path& top)> setUp;
    std::string expected;  // relative to the top; empty for none
  };
  const Case cases[] = {
      {"nothing there yet", [](const fs::path&) {}, own},
      {"sticky .Trash",
       [](const fs::path& top) {
         fs::create_directory(top / ".Trash");
         ::chmod((top / ".Trash").c_str(), 01777);
       },
       shared},
      {".Trash without the sticky bit",
       [](const fs::path& top) {
         fs::create_directory(top / ".Trash");
         ::chmod((top / ".Trash").c_str(), 0777);
       },
       own},
      {".Trash as a link to a sticky folder",
       [](const fs::path& top) {
         fs::create_directory(top / "elsewhere");
         ::chmod((top / "elsewhere").c_str(), 01777);
         fs::create_directory_symlink(top / "elsewhere", top / ".Trash");
       },
       own},
      {"own Trash is a link",
       [own](const fs::path& top) {
         fs::create_directory(top / "elsewhere");
         fs::create_directory_symlink(top / "elsewhere", top / own);
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fixtures::TempDir top;
    c.setUp(top.path());
    const fs::path trash = platform::VolumeTrash(top.path());
    if (c.expected.empty()) {
      EXPECT_TRUE(trash.empty()) << trash;
      EXPECT_TRUE(fs::is_empty(top / "elsewhere"));
      continue;
    }
    EXPECT_EQ(trash, top / c.expected);
    EXPECT_EQ(ModeOf(trash), 0700u);
  }

  // Someone else's folder under this user's name is not this user's Trash.
  if (::geteuid() == 0) {
    fixtures::TempDir top;
    fs::create_directory(top / own);
    ASSERT_EQ(::chown((top / own).c_str(), 65534, 65534), 0);
    EXPECT_TRUE(platform::VolumeTrash(top.path()).empty());
  }
}

// An item on another device than the home Trash goes to its own volume's
// Trash with its record, as a desktop puts it there. Needs a second device:
// the shared-memory folder where it is a file system of its own, mounted
// there (in a bare chroot it is a plain folder of /dev).
TEST(Trash, AnItemOnAnotherDeviceGoesToItsVolumesTrash) {
  fixtures::TempDir home;
  const fs::path homeTrash = home / "Trash";
  struct stat shm {
  }, dev{}, tmp{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat("/dev", &dev) != 0 ||
      ::stat(home.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
      shm.st_dev == dev.st_dev || ::access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no second device to trash from";
  }
  const fs::path top = "/dev/shm";
  const fs::path volumeTrash = top / (".Trash-" + std::to_string(::getuid()));
  const bool trashWasThere = fs::exists(volumeTrash);

  std::string folder = "/dev/shm/vantora-trash-XXXXXX";
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const std::string name = fs::path(folder).filename().string() + " OLD Vantora II X.app";
  const fs::path item = fs::path(folder) / name;
  fs::create_directory(item);
  fixtures::WriteFile(item / "vantora2", "stale");

  std::string error;
  const bool moved = platform::MoveToTrash(item, homeTrash, &error);
  const fs::path trash = platform::VolumeTrash(top);
  const std::string info = fixtures::ReadFile(trash / "info" / (name + ".trashinfo"));
  const std::string content = fixtures::ReadFile(trash / "files" / name / "vantora2");

  // Only what this test made goes; a Trash that was there stays.
  std::error_code ec;
  fs::remove_all(trash / "files" / name, ec);
  fs::remove(trash / "info" / (name + ".trashinfo"), ec);
  fs::remove_all(folder, ec);
  if (!trashWasThere) {
    fs::remove(volumeTrash / "files", ec);
    fs::remove(volumeTrash / "info", ec);
    fs::remove(volumeTrash, ec);
  }

  ASSERT_TRUE(moved) << error;
  EXPECT_EQ(content, "stale");
  EXPECT_NE(info.find("\nPath=/dev/shm/vantora-trash-"), std::string::npos) << info;
  EXPECT_FALSE(fs::exists(homeTrash));
}

// What goes to the Trash with an item, and what a move that fails leaves: the
// item and its AppleDouble sidecar go together or not at all, nothing in the
// Trash is replaced, and no record stays without its item.
TEST(Trash, TheItemAndItsSidecarGoTogetherOrNotAtAll) {
  // The reason for a Trash that cannot be used follows its quoted path.
  constexpr bool kTrash = true;
  using Dirs = const fs::path&;
  const std::string appleDouble = fixtures::AppleDoubleHeader({{9, 50, 32}}) + std::string(32, 'F');
  // Who moves: the test itself, a user who may not do all of it, such a
  // user where only root can set up what they may not do, root in another
  // user's Trash, or the test with no descriptor left to open, or with only
  // one.
  enum Who { kSelf, kUser, kUserSetUpByRoot, kRootInOthers, kStarved, kOneSpare };
  struct Case {
    const char* what;
    Who who;
    bool moved;
    // The names in the item's folder, in the Trash's files and in its info.
    const char* place;
    const char* files;
    const char* info;
    std::function<void(Dirs place, Dirs trash)> setUp;
    // How the reason for a failed move begins; for a Trash that cannot be
    // used (`trash`), how it goes on after the Trash folder it names.
    const char* reason = "";
    bool trash = false;
  };
  const Case cases[] = {
      {"an AppleDouble sidecar goes with it", kSelf, true, "", "._item item", "item.trashinfo",
       [&](Dirs place, Dirs) { fixtures::WriteFile(place / "._item", appleDouble); }},
      {"a user's ._ file that is no AppleDouble stays", kSelf, true, "._item", "item",
       "item.trashinfo",
       [](Dirs place, Dirs) { fixtures::WriteFile(place / "._item", "the user's own notes"); }},
      {"a link at the sidecar's name is no sidecar, and stays", kSelf, true, "._item", "item",
       "item.trashinfo",
       [&](Dirs place, Dirs) {
         fixtures::WriteFile(place.parent_path() / "elsewhere", appleDouble);
         fs::create_symlink(place.parent_path() / "elsewhere", place / "._item");
       }},
      {"a Trash with no files or info folder yet gets both", kSelf, true, "", "item",
       "item.trashinfo",
       [](Dirs, Dirs trash) {
         fs::remove(trash / "files");
         fs::remove(trash / "info");
       }},
      {"a Trash where its files folder may not be made", kUser, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fs::remove(trash / "files");
         fs::remove(trash / "info");
         ::chmod(trash.c_str(), 0555);
       },
       "Permission denied", kTrash},
      {"an earlier item and its record stay", kSelf, true, "", "item item.2",
       "item.2.trashinfo item.trashinfo",
       [](Dirs, Dirs trash) {
         fixtures::WriteFile(trash / "files" / "item", "earlier");
         fixtures::WriteFile(trash / "info" / "item.trashinfo", "earlier");
       }},
      {"an item in the Trash without its record is not replaced", kSelf, true, "", "item item.2",
       "item.2.trashinfo",
       [](Dirs, Dirs trash) { fixtures::WriteFile(trash / "files" / "item", "earlier"); }},
      {"a sidecar's name taken in the Trash moves both to the next name", kSelf, true, "",
       "._item ._item.2 item.2", "item.2.trashinfo",
       [&](Dirs place, Dirs trash) {
         fixtures::WriteFile(place / "._item", appleDouble);
         fixtures::WriteFile(trash / "files" / "._item", "earlier");
       }},
      {"no descriptor left to hold the Trash", kStarved, false, "item", "", "", [](Dirs, Dirs) {},
       "Too many open files", kTrash},
      {"one descriptor left: the Trash's files are held, its records not", kOneSpare, false, "item",
       "", "", [](Dirs, Dirs) {}, "Too many open files", kTrash},
      {"a record its user may not write", kUser, false, "item", "", "",
       [](Dirs, Dirs trash) { ::chmod((trash / "info").c_str(), 0555); },
       "its record of the item could not be written: Permission denied", kTrash},
      {"an item its user may not move", kUser, false, "item", "", "",
       [](Dirs place, Dirs) { ::chmod(place.c_str(), 0555); }},
      {"a sidecar its user may not read", kUser, false, "._item item", "", "",
       [&](Dirs place, Dirs) {
         fixtures::WriteFile(place / "._item", appleDouble);
         ::chmod((place / "._item").c_str(), 0);
       },
       "The item's sidecar could not be read: Permission denied"},
      {"a sidecar that cannot be looked at", kSelf, false, "._item item", "", "",
       [&](Dirs place, Dirs) {
         fixtures::WriteFile(place / "._item", appleDouble);
         fixtures::lookFails = [](int, const char* name) {
           return std::string(name).ends_with("._item") ? EIO : 0;
         };
       },
       "The item's sidecar could not be read: Input/output error"},
      {"the Trash's files folder a link", kSelf, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fs::remove(trash / "files");
         fs::create_directory(trash / "elsewhere");
         fs::create_directory_symlink("elsewhere", trash / "files");
       },
       "its files folder is a link", kTrash},
      {"the Trash's info folder a link", kSelf, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fs::remove(trash / "info");
         fs::create_directory_symlink("files", trash / "info");
       },
       "its info folder is a link", kTrash},
      {"the Trash folder a link", kSelf, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fs::rename(trash, trash.parent_path() / "elsewhere");
         fs::create_directory_symlink("elsewhere", trash);
       },
       "it is a link", kTrash},
      {"the Trash folder another user's", kRootInOthers, false, "item", "", "",
       [](Dirs, Dirs trash) { ChownAll(trash, test_support::kUnprivilegedId); },
       "it is not a folder of this user's", kTrash},
      {"a Trash that cannot be looked at", kSelf, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fixtures::lookFails = [at = trash.string()](int, const char* name) {
           return name == at ? EIO : 0;
         };
       },
       "Input/output error", kTrash},
      {"a Trash not made yet", kSelf, true, "", "item", "item.trashinfo",
       [](Dirs, Dirs trash) { fs::remove_all(trash); }},
      {"a Trash its user may not make", kUser, false, "item", "", "",
       [](Dirs, Dirs trash) {
         fs::remove_all(trash);
         ::chmod(trash.parent_path().c_str(), 0555);
       },
       "Permission denied", kTrash},
      {"a sidecar that cannot follow, and an item that cannot come back", kSelf, false, "._item",
       "item", "item.trashinfo",
       [&](Dirs place, Dirs) {
         fixtures::WriteFile(place / "._item", appleDouble);
         fixtures::renameFails = [back = (place / "item").string()](const char*, const char* to) {
           return std::string(to) == "._item" || to == back ? EIO : 0;
         };
       },
       "The item went to the Trash, but its sidecar could not follow it"},
      {"a sidecar its user may not move", kUserSetUpByRoot, false, "._item item", "", "",
       [&](Dirs place, Dirs) {
         fixtures::WriteFile(place / "._item", appleDouble);
         // The sticky bit keeps the root's sidecar from the item's owner.
         ::chmod(place.c_str(), 01777);
         ChownAll(place / "item", test_support::kUnprivilegedId);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if ((c.who == kUserSetUpByRoot || c.who == kRootInOthers) && ::geteuid() != 0) continue;
    fixtures::TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const fs::path place = dir / "place", trash = dir / "Trash";
    fs::create_directories(place / "item");
    fixtures::WriteFile(place / "item" / "file", "contents");
    fs::create_directories(trash / "files");
    fs::create_directories(trash / "info");
    c.setUp(place, trash);
    const bool user = c.who == kUser || c.who == kUserSetUpByRoot;
    if (user && ::geteuid() == 0 && fs::exists(trash)) {
      ChownAll(trash, test_support::kUnprivilegedId);
    }
    // A move that fails for another reason than the row's counts as one
    // that went, so that the row fails either way.
    const auto move = [&] {
      std::string reason;
      fs::path unusable;
      const std::string named =
          c.trash ? "The Trash folder \"" + trash.string() + "\" cannot be used: " : "";
      return platform::MoveToTrash(place / "item", trash, &reason, &unusable) ||
             !reason.starts_with(named + c.reason) || unusable != (c.trash ? trash : fs::path());
    };
    const std::string fds = Names("/proc/self/fd");
    // Starved, in a child: the next descriptor it would open is over its
    // limit. Should the limit not take, the child says it moved.
    const auto starved = [&] {
      const int next = ::open("/", O_PATH | O_CLOEXEC);
      ::close(next);
      const auto last = static_cast<rlim_t>(next + (c.who == kOneSpare ? 1 : 0));
      const rlimit limit{last, last};
      return ::setrlimit(RLIMIT_NOFILE, &limit) != 0 || move();
    };
    const bool moved =
        c.who == kStarved || c.who == kOneSpare
            ? test_support::InChildWithin(std::chrono::minutes(1), starved).value_or(true)
        : user ? test_support::RunUnprivileged(move)
               : move();
    fixtures::renameFails = nullptr;
    fixtures::lookFails = nullptr;
    EXPECT_EQ(moved, c.moved);
    EXPECT_EQ(Names("/proc/self/fd"), fds) << "descriptors left open";
    ::chmod(place.c_str(), 0755);
    EXPECT_EQ(Names(place), c.place);
    EXPECT_EQ(Names(trash / "files"), c.files);
    EXPECT_EQ(Names(trash / "info"), c.info);
  }
}
