// Which Trash an item goes to: the home Trash on its own device, else the
// Trash of the item's volume, so that the move stays a rename.
#include "platform/qt/trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fixtures/zip_builder.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
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
