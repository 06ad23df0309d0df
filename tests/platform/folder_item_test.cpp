// Files and folders with their Mac metadata in AppleDouble sidecars: what is
// stored, what is refused, and that nothing outside the item is touched.
#include "platform/folder_item.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "fixtures/look_hook.h"
#include "fixtures/no_replace_hook.h"
#include "fixtures/zip_builder.h"
#include "platform/apple_double.h"
#include "platform/atomic_file.h"
#include "platform/framework_exceptions.h"
#include "platform/in_child.h"

namespace {

using namespace platform;

using fixtures::noReplaceRefused;

// How many descriptors the process has open, counted without /proc.
int OpenDescriptors() {
  int open = 0;
  for (int fd = 0; fd < 1024; ++fd) open += ::fcntl(fd, F_GETFD) != -1;
  return open;
}

class FolderItemTest : public ::testing::Test {
 protected:
  FolderItem File(const std::string& name, const std::string& data = "data") {
    fixtures::WriteFile(dir_ / name, data);
    return FolderItem(dir_ / name);
  }
  bool Present(const std::string& name) const {
    return std::filesystem::exists(std::filesystem::symlink_status(dir_ / name));
  }
  // Gives the item a resource fork through the store, as a fork writer does.
  bool GiveFork(const FolderItem& item, const std::string& fork) {
    const int fd = OpenScratchFile(dir_.path());
    int err = 0;
    const bool ok = fd >= 0 && WriteAll(fd, fork, &err) &&
                    WriteResourceFork(ItemAt(item.Path()), fd, fork.size(), nullptr);
    if (fd >= 0) ::close(fd);
    return ok;
  }
  fixtures::TempDir dir_;
};

// Without /proc the C library cannot change the mode of an item while
// refusing a link at its name, nor can a sidecar be opened again through its
// descriptor: an item anchored in its folder is then locked through a
// descriptor of its own, a link there is still refused, and its metadata is
// still read and written; a folder held by a path descriptor gets its date
// through a descriptor opened for that alone. Run in a child whose mount
// namespace hides /proc.
TEST_F(FolderItemTest, AnchoredItemsWorkWithoutProc) {
  File("f");
  File("target");
  std::filesystem::create_symlink(dir_ / "target", dir_ / "link");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::umount2("/proc", MNT_DETACH) != 0 || ::access("/proc/self/fd", F_OK) == 0) {
      ::_exit(77);
    }
    int error = 0;
    const OpenFolderRef folder = OpenFolder::Open(AT_FDCWD, dir_.path().c_str(), 0, error);
    FolderItem f(dir_ / "f", folder), link(dir_ / "link", folder);
    struct stat target {};
    int step = 1;
    if (!folder || !f.SetLocked(true) || !f.Locked()) ::_exit(step);
    ++step;
    if (link.SetLocked(true) || ::stat((dir_ / "target").c_str(), &target) != 0 ||
        (target.st_mode & S_IWUSR) == 0) {
      ::_exit(step);
    }
    ++step;
    if (!f.SetMacType("TEXT") || f.MacType() != "TEXT") ::_exit(step);
    ++step;
    const int open = OpenDescriptors();
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    struct stat st {};
    if (!SetTimesThrough(folder->fd(), times) || OpenDescriptors() != open ||
        ::fstat(folder->fd(), &st) != 0 || st.st_mtim.tv_sec != 1000000000) {
      ::_exit(step);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "/proc cannot be hidden here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the step that failed";
}

TEST_F(FolderItemTest, MetadataRoundTripsThroughTheSidecarAndGoesWithTheDefaults) {
  FolderItem item = File("Vantora II");
  const Date modified = Date::FromFields(2001, 2, 3, 4, 5, 6);
  const Date created = Date::FromFields(1999, 12, 31, 23, 59, 58);
  ASSERT_TRUE(item.SetModificationDate(modified));
  EXPECT_EQ(item.CreationDate(), modified);  // none of its own yet
  EXPECT_FALSE(Present("._Vantora II"));

  std::string info(32, '\0');
  info.replace(0, 8, "APPLVnta");
  info[8] = 0x41, info[9] = 0x02, info[24] = 0x01, info[25] = 0x04;
  ASSERT_TRUE(item.SetFinderInfo(info) && item.SetCreationDate(created));
  ASSERT_TRUE(GiveFork(item, std::string(70000, 'r')));
  FolderItem again(dir_ / "Vantora II");
  EXPECT_EQ(again.FinderInfo(), info);
  EXPECT_EQ(again.MacType() + again.MacCreator(), "APPLVnta");
  EXPECT_FALSE(again.Visible());  // 0x4000 in the flags
  EXPECT_EQ(again.CreationDate(), created);
  EXPECT_EQ(again.ModificationDate(), modified);
  EXPECT_EQ(again.ResourceForkLength(), 70000);
  EXPECT_EQ(again.Length(), 4);

  // Changing one leaves the others; back to the defaults, the sidecar goes.
  ASSERT_TRUE(again.SetVisible(true));
  EXPECT_EQ(again.ResourceForkLength(), 70000);
  EXPECT_EQ(again.CreationDate(), created);
  ASSERT_TRUE(GiveFork(again, "") && again.SetFinderInfo(std::string(32, '\0')));
  EXPECT_TRUE(Present("._Vantora II"));
  ASSERT_TRUE(again.SetCreationDate(modified));
  EXPECT_FALSE(Present("._Vantora II"));
  EXPECT_EQ(again.CreationDate(), modified);
}

TEST_F(FolderItemTest, AForeignDotUnderscoreFileIsNeverWrittenOver) {
  FolderItem item = File("notes");
  File("elsewhere", "someone else's file");
  // An AppleDouble file in another folder, typed: a link to it is no
  // sidecar of this item's, and it is never read as one.
  fixtures::TempDir outside;
  const std::string typed = fixtures::AppleDoubleHeader({{kAppleDoubleFinderInfo, 38, 32}}) +
                            "TYPECRTR" + std::string(24, '\0');
  fixtures::WriteFile(outside / "._notes", typed);
  const struct {
    const char* what;
    std::function<void()> make;
    std::string contents;
  } cases[] = {
      {"a file", [&] { File("._notes", "not metadata"); }, "not metadata"},
      {"a link to a file",
       [&] { std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "._notes"); },
       "someone else's file"},
      {"a link to an AppleDouble file",
       [&] { std::filesystem::create_symlink(outside / "._notes", dir_ / "._notes"); }, typed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_ / "._notes");
    c.make();
    EXPECT_FALSE(item.SetMacType("TEXT"));
    EXPECT_FALSE(item.SetCreationDate(Date::FromFields(1990, 1, 1, 0, 0, 0)));
    EXPECT_FALSE(GiveFork(item, "fork"));
    EXPECT_EQ(item.ResourceForkLength(), 0);
    EXPECT_EQ(item.FinderInfo(), std::string(32, '\0'));
    EXPECT_EQ(fixtures::ReadFile(dir_ / "._notes"), c.contents);
  }
  EXPECT_EQ(fixtures::ReadFile(dir_ / "elsewhere"), "someone else's file");
}

// Where the file system cannot rename without replacing, a file is given its
// new name as a second link (of a link, never of what it leads to) and a
// folder takes the place of an empty folder it makes first: neither replaces
// anything either.
TEST_F(FolderItemTest, NamesAreOneComponentAndRenamesNeverReplace) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "no rename that refuses to replace"
                         : "a rename that refuses to replace");
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      std::filesystem::remove_all(e.path());
    }
    FolderItem item = File("a");
    ASSERT_TRUE(item.SetMacType("TEXT"));
    noReplaceRefused = refused;
    File("taken", "keep me");
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "x/y", {"x\0y", 3}}) {
      SCOPED_TRACE(bad);
      EXPECT_FALSE(FolderItem::IsValidName(bad));
      EXPECT_FALSE(item.SetName(bad));
      EXPECT_THROW(FolderItem(dir_.path()).TrueChild(bad), RuntimeException);
    }
    EXPECT_FALSE(item.SetName("taken"));
    EXPECT_EQ(fixtures::ReadFile(dir_ / "taken"), "keep me");
    EXPECT_TRUE(item.SetName("b\\c"));
    EXPECT_EQ(item.MacType(), "TEXT");  // the sidecar went along
    EXPECT_FALSE(Present("._a"));
    EXPECT_EQ(item.Parent()->Path(), dir_.path());
    EXPECT_EQ(FolderItem(dir_ / "sub/").Name(), "sub");

    std::filesystem::create_symlink("taken", dir_ / "link");
    EXPECT_TRUE(FolderItem(dir_ / "link").SetName("moved"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "moved"));
    std::filesystem::create_directory(dir_ / "folder");
    std::filesystem::create_directory(dir_ / "theirs");
    EXPECT_FALSE(FolderItem(dir_ / "folder").SetName("theirs"));
    EXPECT_TRUE(Present("folder"));
    noReplaceRefused = false;
  }

  // The item and its sidecar are renamed together or not at all; nothing at
  // the new sidecar's name is replaced or removed, and a sidecar that
  // cannot be looked at is not taken for none. `failingAt` fails each look
  // or rename at a name ending in `end` with EIO.
  const auto failingAt = [](std::string end) {
    return [end](auto, const char* name) { return std::string(name).ends_with(end) ? EIO : 0; };
  };
  const struct {
    const char* what;
    std::function<void()> setUp;
    int error;
    const char* names;  // in the folder afterwards
  } cases[] = {
      {"a sidecar that cannot be looked at", [&] { fixtures::lookFails = failingAt("._a"); }, EIO,
       "._a a"},
      {"a new sidecar's name that cannot be looked at, for an item with no sidecar",
       [&] {
         std::filesystem::remove(dir_ / "._a");
         fixtures::lookFails = failingAt("._b");
       },
       EIO, "a"},
      {"an AppleDouble file alone at the new sidecar's name",
       [&] { fixtures::WriteFile(dir_ / "._b", fixtures::AppleDoubleHeader({})); }, EEXIST,
       "._a ._b a"},
      {"a user's file there", [&] { fixtures::WriteFile(dir_ / "._b", "notes"); }, EEXIST,
       "._a ._b a"},
      {"a broken link there", [&] { std::filesystem::create_symlink("gone", dir_ / "._b"); },
       EEXIST, "._a ._b a"},
      {"a sidecar that cannot follow", [&] { fixtures::renameFails = failingAt("._b"); }, EIO,
       "._a a"},
      {"a sidecar that cannot follow, and an item that cannot come back",
       [] {
         fixtures::renameFails = [](auto, const char* to) {
           return std::string(to).ends_with("/b") ? 0 : EIO;
         };
       },
       EIO, "._a b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      std::filesystem::remove_all(e.path());
    }
    FolderItem item = File("a");
    ASSERT_TRUE(item.SetMacType("TEXT"));
    c.setUp();
    errno = 0;
    const bool renamed = item.SetName("b");
    const int error = errno;
    fixtures::lookFails = nullptr;
    fixtures::renameFails = nullptr;
    EXPECT_FALSE(renamed);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(fixtures::Names(dir_.path()), c.names);
    EXPECT_EQ(fixtures::ReadFile(item.Path()), "data");  // the item is where it says
  }
}

TEST_F(FolderItemTest, ListingLinksAndDeleting) {
  ASSERT_TRUE(File("b", "untouched").SetMacType("TEXT"));
  File("a");
  File("._orphan", "no item beside it");
  std::filesystem::create_symlink(dir_ / "b", dir_ / "c-link");
  std::filesystem::create_symlink(dir_ / "missing", dir_ / "d-broken");
  ASSERT_TRUE(FolderItem(dir_ / "sub").CreateAsFolder());

  FolderItem folder(dir_.path());
  ASSERT_EQ(folder.Count(), 6);  // "._b" is b's metadata, not an item
  std::vector<std::string> names;
  for (int i = 1; auto item = folder.TrueItem(i); ++i) names.push_back(item->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"._orphan", "a", "b", "c-link", "d-broken", "sub"}));
  EXPECT_FALSE(folder.TrueItem(0).has_value());
  EXPECT_TRUE(folder.TrueItem(4)->Alias());
  EXPECT_EQ(folder.Item(4)->Name(), "b");
  EXPECT_FALSE(folder.Item(5).has_value());
  EXPECT_EQ(folder.Child("c-link").Name(), "b");

  // Streams read through a link but never write through one.
  const FolderItem link = folder.TrueChild("c-link");
  EXPECT_EQ(link.CreateBinaryFile(""), nullptr);
  EXPECT_EQ(link.OpenAsBinaryFile(true), nullptr);
  ASSERT_NE(link.OpenAsBinaryFile(false), nullptr);
  EXPECT_EQ(link.OpenAsBinaryFile(false)->Read(20), "untouched");
  EXPECT_EQ(fixtures::ReadFile(dir_ / "b"), "untouched");
  // Nor is a FIFO a file: none is made there, and opening it neither waits
  // for a writer nor succeeds.
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const FolderItem fifo(dir_ / "fifo");
  EXPECT_EQ(fifo.CreateBinaryFile(""), nullptr);
  EXPECT_EQ(test_support::InChildWithin(std::chrono::seconds(20),
                                        [&] { return fifo.OpenAsBinaryFile(false) == nullptr; }),
            true);
  EXPECT_EQ(std::filesystem::symlink_status(fifo.Path()).type(), std::filesystem::file_type::fifo);

  // An item anchored in its folder that is a link gets a new date itself;
  // what it points at keeps its own.
  int error = 0;
  FolderItem anchored(dir_ / "c-link", OpenFolder::Open(AT_FDCWD, dir_.path().c_str(), 0, error));
  const Date before = FolderItem(dir_ / "b").ModificationDate(),
             date = Date::FromFields(2003, 4, 5, 6, 7, 8);
  ASSERT_NE(before, date);
  EXPECT_TRUE(anchored.SetModificationDate(date));
  EXPECT_EQ(anchored.ModificationDate(), date);
  EXPECT_EQ(FolderItem(dir_ / "b").ModificationDate(), before);

  // A link is removed, not what it points at; a file goes with its sidecar.
  EXPECT_TRUE(link.Delete());
  EXPECT_TRUE(Present("b"));
  EXPECT_TRUE(FolderItem(dir_ / "b").Delete());
  EXPECT_FALSE(Present("._b"));
  // A "._" file that is not our sidecar stays: a user's own, and an
  // AppleDouble file of version 1.
  std::string versionOne = fixtures::AppleDoubleHeader({});
  versionOne[5] = 1;
  for (const std::string& theirs : {std::string("a user's notes"), versionOne}) {
    File("._x", theirs);
    EXPECT_TRUE(File("x").Delete());
    EXPECT_EQ(fixtures::ReadFile(dir_ / "._x"), theirs);
  }
  File("sub/inner");
  EXPECT_FALSE(FolderItem(dir_ / "sub").Delete());
  EXPECT_FALSE(FolderItem(dir_ / "gone").Delete());

  // Only an item that is not there is missing: one that cannot be looked at
  // may be there.
  EXPECT_FALSE(FolderItem(dir_ / "gone").Exists());
  EXPECT_FALSE(FolderItem(dir_ / "a" / "below a file").Exists());
  fixtures::lookFails = [](int, const char*) { return EIO; };
  const bool unknownExists = FolderItem(dir_ / "gone").Exists();
  fixtures::lookFails = nullptr;
  EXPECT_TRUE(unknownExists);
}

}  // namespace
