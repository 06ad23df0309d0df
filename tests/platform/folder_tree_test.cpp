// The folder walk opens a folder again only when it is the one it entered.
// (Reading and removing trees, their links, unreadable folders and few
// descriptors are tested through the update's install in update_road_test.)
#include "platform/folder_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "fixtures/look_hook.h"
#include "fixtures/zip_builder.h"
#include "platform/in_child.h"
#include "platform/run_unprivileged.h"
#include "zip/zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using platform::FolderWalk;

// Deeper than the folders held open, a folder above them is opened again
// from the root when the walk climbs back to it. Swapped meanwhile for a
// folder just like it, it is refused, not walked through.
TEST(FolderWalk, AFolderSwappedBehindTheWalkIsNotOpenedAgain) {
  fixtures::TempDir dir;
  const std::size_t depth = FolderWalk::kHeldOpen + 8;
  fs::path chain;
  for (std::size_t i = 0; i < depth; ++i) chain /= "t";
  fs::create_directories(dir / "a" / chain);
  fs::create_directories(dir / "b" / chain);
  const int root = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  {
    // Looked at, then moved away with a link to it at its name: the link
    // leads to the very folder looked at, and is still not gone through.
    fs::create_directory(dir / "x");
    struct stat st {};
    ASSERT_TRUE(platform::LookAt(root, "x", st));
    fs::rename(dir / "x", dir / "x.moved");
    fs::create_directory_symlink("x.moved", dir / "x");
    FolderWalk moved(root);
    EXPECT_FALSE(moved.Enter("x", platform::ItemId::Of(st)));
  }
  FolderWalk walk(root);
  for (std::size_t i = 0; i <= depth; ++i) {
    struct stat st {};
    const std::string name = i == 0 ? "a" : "t";
    ASSERT_TRUE(platform::LookAt(walk.Fd(), name, st));
    ASSERT_TRUE(walk.Enter(name, platform::ItemId::Of(st)));
  }
  fs::rename(dir / "a", dir / "c");
  fs::rename(dir / "b", dir / "a");
  const platform::ItemId sixth = walk.IdAt(6);
  while (walk.Depth() > 5) walk.Leave();
  EXPECT_EQ(walk.Fd(), -1);
  EXPECT_EQ(errno, ESTALE);
  EXPECT_FALSE(walk.Enter("t", sixth));
  EXPECT_EQ(errno, ESTALE);
  EXPECT_EQ(walk.Depth(), 5u);

  // With no descriptor to spare for its listing, a folder is not read: the
  // read fails, saying why, rather than waiting for one to come free.
  struct stat st {};
  ASSERT_TRUE(platform::LookAt(root, "c", st));
  EXPECT_EQ(test_support::InChildWithin(std::chrono::seconds(20),
                                        [&] {
                                          ziptest::DescriptorLimit one(1);
                                          return !platform::ReadTree(root, "c",
                                                                     platform::ItemId::Of(st)) &&
                                                 errno == EMFILE;
                                        }),
            true);
  ::close(root);
}

// A folder made is opened only when it is the one made: another user's
// folder put at its name before the one made is looked at is refused, and
// stays as it was.
TEST(OpenFolder, AFolderMadeIsOpenedOnlyWhenItIsTheOneMade) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  fixtures::TempDir dir;
  fs::create_directory(dir / "theirs");
  fixtures::WriteFile(dir / "theirs" / "file", "theirs");
  const unsigned id = test_support::kUnprivilegedId;
  ASSERT_EQ(::chown((dir / "theirs").c_str(), id, id), 0);
  bool swapped = false;
  fixtures::lookFails = [&](int, const char* name) {
    if (!swapped && std::string(name) == "made") {
      swapped = true;
      fs::rename(dir / "made", dir / "mine");
      fs::rename(dir / "theirs", dir / "made");
    }
    return 0;
  };
  const int parent = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  int error = 0;
  const bool opened = platform::OpenFolder::Make(parent, "made", 0700, error) != nullptr;
  fixtures::lookFails = nullptr;
  ::close(parent);
  EXPECT_TRUE(swapped);
  EXPECT_FALSE(opened);
  EXPECT_EQ(error, platform::OpenFolder::kNotMade);
  EXPECT_EQ(fixtures::ReadFile(dir / "made" / "file"), "theirs");
}

}  // namespace
