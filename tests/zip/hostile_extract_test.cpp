// Hostile and damaged archives extracted into a root that already holds a
// link leading out of it, a file and a folder of the user's. Each member is
// written where it belongs or fails with its message, and nothing outside the
// root is ever created, changed or removed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "fixtures/folder_open_hook.h"
#include "fixtures/look_hook.h"
#include "fixtures/zip_builder.h"
#include "platform/apple_double.h"
#include "platform/atomic_file.h"
#include "platform/run_unprivileged.h"
#include "zip/zip_archive.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using fixtures::Dated;
using fixtures::Deflated;
using fixtures::Member;
using fixtures::RawMember;
using fixtures::With;
using namespace ziptest;

RawMember UnixMode(RawMember m, std::uint32_t mode) {
  m.hostSystem = 3;
  m.externalAttributes = mode << 16;
  return m;
}

std::string MacRecord(const std::string& name) {
  std::string r("\x05\x26", 2);
  fixtures::PutLE(r, 13 + name.size(), 2);
  return r + "ZPIT" + static_cast<char>(name.size()) + name + "TEXTttxt";
}

struct Case {
  const char* name;
  std::vector<RawMember> members;
  std::vector<std::string> messages;  // one per member; "" for written
  std::function<void(const fs::path& root)> check = [](const fs::path&) {};
  bool followAliases = false;
  // Runs between a member's placing and its writing, with its index.
  std::function<void(const fs::path& root, std::int32_t index)> placed = nullptr;
  // How many descriptors the extraction may open; 0 for no limit.
  int descriptors = 0;
  // What the row itself puts beside the root.
  std::vector<std::string> besides = {};
  // Runs before the first member is placed.
  std::function<void(const fs::path& root)> before = nullptr;
};

// Runs `change` at the first sidecar write only, with the root.
std::function<void(const fs::path&, std::int32_t)> AtFirstSidecarWrite(
    std::function<void(const fs::path& root, int folder, const std::string& name)> change) {
  return [change](const fs::path& root, std::int32_t index) {
    if (index != 1) return;
    auto done = std::make_shared<bool>(false);
    platform::SetSidecarWriteHook([=](int folder, const std::string& name) {
      if (std::exchange(*done, true)) return;
      change(root, folder, name);
    });
  };
}

// Before the member of `index` is written, the folder `folder` is moved to
// `moved` and a link leading out of the root takes its place.
std::function<void(const fs::path&, std::int32_t)> SwapForLinkOut(std::string folder,
                                                                  std::string moved,
                                                                  std::int32_t index) {
  return [=](const fs::path& root, std::int32_t at) {
    if (at != index) return;
    fs::rename(root / folder, root / moved);
    fs::create_directory_symlink(root.parent_path() / "outside", root / folder);
  };
}

// Run before the extraction opens a folder (a path descriptor of it), and
// before it makes one, with the folder it is opened or made in and its name;
// none but while a row sets them.
using fixtures::beforeFolderOpen;
std::function<void(int folder, const char* name)> beforeFolderMade;

using fixtures::afterLook;

// Runs `change` once, just after the extraction's next look at `name`.
void AfterNextLookAt(std::string name, std::function<void()> change) {
  afterLook = [=, done = std::make_shared<bool>(false)](int, const char* looked) {
    if (*done || name != looked) return;
    *done = true;
    change();
  };
}

// From the second member on, the second time the folder "t/t/t" is opened
// (the first is its check on the member's way down; the second opens it
// again from the root, as it is no longer held, on the way back down), it
// is moved to "t/t/moved" and a link leading out of the root, or another
// folder with folders of the same names below it, takes its place.
std::function<void(const fs::path&, std::int32_t)> SwapWhenOpenedAgain(bool link) {
  return [link](const fs::path& root, std::int32_t index) {
    if (index != 1) return;
    const fs::path parent = fs::canonical(root / "t/t");
    auto seen = std::make_shared<int>(0);
    beforeFolderOpen = [=](int folder, const char* name) {
      if (std::string(name) != "t" ||
          fs::read_symlink("/proc/self/fd/" + std::to_string(folder)) != parent || ++*seen != 2) {
        return;
      }
      fs::rename(parent / "t", parent / "moved");
      if (link) {
        fs::create_directory_symlink(root.parent_path() / "outside", parent / "t");
      } else {
        // Another folder with folders of the same names below it.
        fs::create_directories(parent / "t/t/t");
      }
    };
  };
}

// A chain of `depth` folders "t/t/.../" with `leaf` below it.
std::string Deep(int depth, const std::string& leaf) {
  std::string path;
  for (int i = 0; i < depth; ++i) path += "t/";
  return path + leaf;
}

// `count` levels up, then `rest`.
std::string Up(int count, const std::string& rest) {
  std::string path;
  for (int i = 0; i < count; ++i) path += "../";
  return path + rest;
}

// A date no member gives, put on an item and looked for again.
constexpr time_t kOldDate = 1000000000;
void Backdate(const fs::path& p) {
  const timespec times[2] = {{kOldDate, 0}, {kOldDate, 0}};
  ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}
time_t ModifiedAt(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

// What the sidecar-name row watches: who opened the FIFO or the device it
// put at sidecar names, and its own end of the FIFO.
struct Watch {
  int inotify = -1;
  int fifoEnd = -1;
  bool device = false;
};

// A MacBinary header whose two dates and Finder flags all need the sidecar.
std::string MacBinaryWithDates() {
  const auto h = zip::ZipArchive().MakeMacBinaryHeader(
      0, 0, "Root", "TEXT", "ttxt", platform::Date::FromFields(2001, 2, 3, 4, 5, 6),
      platform::Date::FromFields(2011, 2, 3, 4, 5, 6));
  return h->Bytes();
}

// Two members whose records point at local headers of their own, kept in
// the data of "pad", each differing from its record in one field alone.
std::vector<RawMember> LocalHeadersWrongInOneField() {
  const RawMember sig = Member("sig.txt", "data"), crc = Member("crc.txt", "data");
  std::string badSignature = fixtures::LocalHeader(sig) + sig.data;
  badSignature[3] = 5;
  const std::string otherCrc =
      fixtures::LocalHeader(With(crc, [](RawMember& m) { m.crc32 = 1; })) + crc.data;
  const auto at = static_cast<std::uint32_t>(fixtures::LocalHeader(Member("pad")).size());
  return {
      Member("pad", badSignature + otherCrc), With(sig, [&](RawMember& m) { m.localOffset = at; }),
      With(crc, [&](RawMember& m) { m.localOffset = at + std::uint32_t(badSignature.size()); })};
}

// A "._" member whose header lists `count` entries that all cover the same
// 1 MiB behind it: read entry by entry, it would take `count` MiB.
std::string OverlappingSidecar(std::uint32_t count) {
  const std::uint32_t after = 26 + 12 * count;
  return fixtures::AppleDoubleHeader(
             std::vector<fixtures::AppleDoubleDescriptor>(count, {9, after, 1u << 20})) +
         std::string(1u << 20, '\0');
}

std::vector<Case> Cases() {
  const std::string lie = "hello world";
  const auto watch = std::make_shared<Watch>();
  const auto modes = std::make_shared<std::map<std::string, unsigned>>();
  const auto opens = std::make_shared<int>(0), looks = std::make_shared<int>(0);
  const auto reopened = std::make_shared<int>(0);
  // A sidecar with no item beside it.
  const std::string stray =
      fixtures::AppleDoubleHeader({{9, 38, 32}}) + "JUNKjunk" + std::string(24, '\0');
  return {
      {"dot-dot",
       {Member("../evil", "x"), Member("a/../../evil", "x"), Member("a/../inside.txt", "in")},
       {kNoDestination, kNoDestination, ""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "inside.txt"), "in"); }},
      {"absolute path lands in the root",
       {Member("/abs/x.txt", "x"), Member("//y.txt", "y")},
       {"", ""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "abs/x.txt"), "x"); }},
      {"link member, then members through it and back out of it",
       {UnixMode(Member("ln", "../outside"), 0120777), Member("ln/evil", "x"), Member("ln/sub/"),
        Member("ln/sub/../../back", "b")},
       {"", kFileOnPath, kFileOnPath, ""},
       [](const fs::path& root) {
         EXPECT_TRUE(S_ISREG(ModeOf(root / "ln")));
         EXPECT_EQ(fixtures::ReadFile(root / "ln"), "../outside");
         EXPECT_EQ(fixtures::ReadFile(root / "back"), "b");
       }},
      {"link already on disk",
       {Member("escape/evil", "x"), Member("escape", "replaced")},
       {kAliasOnPath, ""},
       [](const fs::path& root) { EXPECT_TRUE(S_ISREG(ModeOf(root / "escape"))); }},
      {"a link on the way is not followed, even one inside the root",
       {Member("inlink/x", "x")},
       {kAliasOnPath},
       [](const fs::path& root) { EXPECT_FALSE(fs::exists(root / "keepdir/x")); }},
      {"asked to follow links, one that stays inside the root is followed",
       {Member("inlink/x", "x"), Member("escape/evil", "x"), Member("inlink", "y")},
       {"", kNoDestination, kFileOverFolder},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "keepdir/x"), "x"); },
       true},
      {"a folder swapped for a link is written into where it was checked, metadata and all, "
       "and not walked again",
       {Member("d/x", "1"), Member("d/y", MacBinaryFile("2", "fork")), Member("d/z", "3")},
       {"", "", kAliasOnPath},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "moved/x"), "1");
         EXPECT_EQ(fixtures::ReadFile(root / "moved/y"), "2");
         const platform::FolderItem y(root / "moved/y");
         EXPECT_EQ(y.ResourceForkLength(), 4);
         EXPECT_EQ(y.MacType(), "TEXT");
         EXPECT_EQ(y.ModificationDate().TotalSeconds(),
                   platform::Date::FromFields(2020, 2, 29, 10, 20, 30).TotalSeconds());
       },
       false,
       SwapForLinkOut("d", "moved", 2)},
      {"a folder two deep swapped for a link between members takes none after it",
       {Member("a/b/x", "1"), Member("a/b/y", "2")},
       {"", kAliasOnPath},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "a/moved/x"), "1"); },
       false,
       SwapForLinkOut("a/b", "a/moved", 1)},
      {"a folder kept from the member before is looked at, not opened again, and one moved away "
       "since is made anew for the next member, held open or not",
       {Member("a/b/x", "1"), Member("a/b/y", "2"), Member("a/b/z", "3"),
        Member(Deep(40, "x"), "x"), Member("t/y", "y"), Member("t/z", "z")},
       {"", "", "", "", "", ""},
       [reopened](const fs::path& root) {
         EXPECT_EQ(*reopened, 0);
         EXPECT_EQ(fixtures::ReadFile(root / "a/b/z"), "3");
         EXPECT_EQ(fixtures::ReadFile(root / "t/z"), "z");
         EXPECT_FALSE(fs::exists(root / "a/moved/z") || fs::exists(root / "moved/z"));
       },
       false,
       [reopened](const fs::path& root, std::int32_t index) {
         if (index == 1) beforeFolderOpen = [reopened](int, const char*) { ++*reopened; };
         if (index == 2) beforeFolderOpen = nullptr;
         if (index == 2) fs::rename(root / "a/b", root / "a/moved");
         if (index == 5) fs::rename(root / "t", root / "moved");
       }},
      {"a link followed from a kept folder leads to its target, not back into that folder",
       {Member("a/x", "x"), Member("a/l/y", "y")},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "keepdir/y"), "y");
         EXPECT_FALSE(fs::exists(root / "a/y"));
       },
       true,
       [](const fs::path& root, std::int32_t index) {
         if (index == 1) fs::create_directory_symlink("../keepdir", root / "a/l");
       }},
      {"a link put at a sidecar's name as it is written is replaced, never followed",
       {Member("d/f", "f", MacRecord("f"))},
       {""},
       [](const fs::path& root) {
         EXPECT_TRUE(S_ISREG(ModeOf(root / "d/._f")));
         EXPECT_EQ(platform::FolderItem(root / "d/f").MacType(), "TEXT");
       },
       false,
       [](const fs::path& root, std::int32_t) {
         const std::string victim = root.parent_path() / "outside/victim";
         platform::SetSidecarWriteHook([victim](int folder, const std::string& name) {
           ASSERT_EQ(::symlinkat(victim.c_str(), folder, name.c_str()), 0);
         });
       }},
      {"a link that points nowhere at a file's sidecar name stays: the fork is refused",
       {Member("f", MacBinaryFile("data", "fork"))},
       {kOpenRsrc},
       [](const fs::path& root) { EXPECT_TRUE(S_ISLNK(ModeOf(root / "._f"))); },
       false,
       [](const fs::path& root, std::int32_t) { fs::create_symlink("nowhere", root / "._f"); }},
      {"a link, a FIFO and a device at sidecar names are left alone, and none is opened",
       {Member("f", "f", MacRecord("f")), Member("g", "g", MacRecord("g")),
        Member("h", "h", MacRecord("h"))},
       {"", "", ""},
       [watch](const fs::path& root) {
         char events[4096];
         EXPECT_LT(::read(watch->inotify, events, sizeof events), 0) << "opened";
         EXPECT_TRUE(S_ISLNK(ModeOf(root / "._f")));
         EXPECT_TRUE(S_ISFIFO(ModeOf(root / "._g")));
         EXPECT_TRUE(!watch->device || S_ISCHR(ModeOf(root / "._h")));
         EXPECT_EQ(fixtures::ReadFile(root / "g"), "g");
         ::close(watch->inotify);
         ::close(watch->fifoEnd);
       },
       false,
       [watch](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         fs::create_symlink(root.parent_path() / "outside/victim", root / "._f");
         ASSERT_EQ(::mkfifo((root / "._g").c_str(), 0600), 0);
         // The test's own end keeps a reader that blocks from blocking, so
         // that being opened is seen, not waited for.
         watch->fifoEnd = ::open((root / "._g").c_str(), O_RDWR | O_NONBLOCK);
         // A device can be made only with the right to; the row then does without.
         watch->device = ::mknod((root / "._h").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
         watch->inotify = ::inotify_init1(IN_NONBLOCK);
         ::inotify_add_watch(watch->inotify, (root / "._g").c_str(), IN_OPEN);
         if (watch->device) ::inotify_add_watch(watch->inotify, (root / "._h").c_str(), IN_OPEN);
       }},
      {"a tree 300 folders deep takes a few dozen descriptors and a few opens and looks of each "
       "folder, and a member that goes down, up and down again lands where its name says",
       {Member(Deep(300, "x"), "x"), Member(Deep(5, "../../../v/v/v/w"), "w"),
        Member(Deep(150, "y"), "y"), Member(Deep(300, "z"), "z")},
       {"", "", "", ""},
       [opens, looks](const fs::path& root) {
         EXPECT_LT(*opens, 3000);
         // Each of the 303 folders made is looked at once; one passed again
         // only while it is held: one not held is opened again, which is
         // its check.
         EXPECT_LT(*looks, 400);
         EXPECT_EQ(fixtures::ReadFile(root / "t/t/v/v/v/w"), "w");
         EXPECT_FALSE(fs::exists(root / Deep(5, "w")));
         EXPECT_EQ(fixtures::ReadFile(root / Deep(300, "x")), "x");
         EXPECT_EQ(fixtures::ReadFile(root / Deep(150, "y")), "y");
         EXPECT_EQ(fixtures::ReadFile(root / Deep(300, "z")), "z");
       },
       false,
       nullptr,
       40,
       {},
       [opens, looks](const fs::path&) {
         beforeFolderOpen = [opens](int, const char*) { ++*opens; };
         afterLook = [looks](int, const char*) { ++*looks; };
       }},
      {"a folder let go and swapped for a link as a member's walk opens it again takes no member",
       {Member(Deep(40, "x"), "x"), Member(Deep(10, "../../../../../v/y"), "y")},
       {"", kAliasOnPath},
       [](const fs::path& root) { EXPECT_FALSE(fs::exists(root / "t/t/moved/t/t/v")); },
       false,
       SwapWhenOpenedAgain(true)},
      {"a folder let go and swapped for another as a member's walk opens it again takes no member",
       {Member(Deep(40, "x"), "x"), Member(Deep(10, "../../../../../v/y"), "y")},
       {"", kCreateFailed},
       [](const fs::path& root) {
         EXPECT_FALSE(fs::exists(root / "t/t/moved/t/t/v"));
         EXPECT_FALSE(fs::exists(root / "t/t/t/t/t/v"));
       },
       false,
       SwapWhenOpenedAgain(false)},
      {"a member whose folder cannot be opened for want of descriptors says so",
       {Member("d/x", "x")},
       {std::string(kCreateFailed) + ": Too many open files"},
       [](const fs::path&) {},
       false,
       nullptr,
       1},
      {"the root is held from its first open: one removed and made anew takes no member",
       {Member("a/x", "x"), Member("b", "b"), Member("a/y", "y")},
       {"", kCreateFailed, kCreateFailed},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_empty(root)); },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 2) return;
         fs::remove_all(root);
         fs::create_directory(root);
       }},
      {"names no file here can have",
       {Member(std::string("a\0b", 3), "x"), Member("x/.", "x")},
       {kNoDestination, kNoDestination}},
      {"Mac names",
       {Member("A-B", "1", MacRecord("A/B")), Member("dots", "2", MacRecord("..")),
        Member("A-C", "3", MacRecord("A\\C"))},
       {"", "", ""},
       [](const fs::path& root) {
         EXPECT_TRUE(fs::exists(root / "A-B"));
         EXPECT_TRUE(fs::exists(root / "dots"));
         EXPECT_EQ(fixtures::ReadFile(root / "A\\C"), "3");
       }},
      {"lying sizes and data cut short keep the old file",
       {With(Deflated("keep.txt", lie), [](RawMember& m) { m.uncompressedSize = 5; }),
        With(Member("keep.txt", "hello"), [](RawMember& m) { m.uncompressedSize = 3; }),
        With(Member("cut.txt", "short"), [](RawMember& m) { m.compressedSize = 5000; })},
       {kDataCorrupted, kDataCorrupted, kDataCorrupted},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "keep.txt"), "old contents");
         EXPECT_FALSE(fs::exists(root / "cut.txt"));
       }},
      {"a new file that fails leaves neither itself nor the fork it was given",
       {With(Member("forked", MacBinaryFile("data", "fork")),
             [](RawMember& m) { m.crc32 = 0x12345678; })},
       {kDataCorrupted},
       [](const fs::path& root) {
         EXPECT_FALSE(fs::exists(root / "forked"));
         EXPECT_FALSE(fs::exists(root / "._forked"));
       }},
      {"wrong CRC-32 in both headers",
       {With(Member("s.txt", "stored"), [](RawMember& m) { m.crc32 = 0x12345678; }),
        With(Deflated("d.txt", lie), [](RawMember& m) { m.crc32 = 0x12345678; })},
       {kDataCorrupted, "An error -3 occured while deflation"}},
      {"local headers that differ from their records in one field",
       LocalHeadersWrongInOneField(),
       {"", kBadLocalHeader, "File Headers mismatch"}},
      {"an empty folder that was there stays when its member fails",
       {Member("made/"), With(Member("made/"), [](RawMember& m) { m.localOffset = 1; })},
       {"", kBadLocalHeader},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_directory(root / "made")); }},
      {"a locked file stays",
       {UnixMode(Member("ro", "first"), 0100444), Member("ro", "second")},
       {"", kWriteProtected},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "ro"), "first"); }},
      {"a replaced file keeps its mode, and text gains no execute bits",
       {UnixMode(Member("m", "old"), 0100604),
        With(Member("m", "new"), [](RawMember& m) { m.internalAttributes = 1; })},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "m"), "new");
         EXPECT_EQ(ModeOf(root / "m") & 07777, 0604u);
       }},
      {"a Mac host's Unix mode is taken",
       {With(UnixMode(Member("mac", "x"), 0100604), [](RawMember& m) { m.hostSystem = 7; })},
       {""},
       [](const fs::path& root) { EXPECT_EQ(ModeOf(root / "mac") & 07777, 0604u); }},
      {"a folder takes no type from its Mac record",
       {Member("typed/", "", MacRecord("typed"))},
       {""},
       [](const fs::path& root) {
         EXPECT_EQ(platform::FolderItem(root / "typed").FinderInfo().substr(0, 8),
                   std::string(8, '\0'));
       }},
      {"headers that lead nowhere; an old folder stays",
       {With(Member("keepdir/"), [](RawMember& m) { m.localOffset = 0xFFFFFF00; }),
        With(Member("newdir/"), [](RawMember& m) { m.localOffset = 1; })},
       {kBadLocalHeader, kBadLocalHeader},
       [](const fs::path& root) {
         EXPECT_TRUE(fs::exists(root / "keepdir/inside"));
         EXPECT_FALSE(fs::exists(root / "newdir"));
       }},
      {"refused formats",
       {With(Member("enc", "x"), [](RawMember& m) { m.flags = 1; }),
        With(Member("bz", "x"), [](RawMember& m) { m.method = 12; })},
       {kEncrypted, "Unsupported compression method (12)"}},
      {"members that name the root keep its sidecar, which lies outside it, unwritten",
       {Member("/", MacBinaryWithDates()), Member("a/../", MacBinaryWithDates())},
       {"", ""}},
      {"a folder's sidecar whose entries claim a gibibyte",
       {Deflated("._d", OverlappingSidecar(1024)),
        With(Member("d/"),
             [](RawMember& m) {
               m.time = 0x6db9;  // a date to give the folder, read from its sidecar first
               m.date = 0x52cf;
             })},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_TRUE(fs::is_directory(root / "d"));
         EXPECT_EQ(fixtures::ReadFile(root / "._d"), OverlappingSidecar(1024));
         zip::ZipArchive again;
         ASSERT_TRUE(again.Open(root.parent_path() / "a.zip", false));
         const int mib = PeakRiseMiBInChild([&] { ExtractAll(again, root); });
         std::printf("extracting it again raised peak memory by %d MiB\n", mib);
         EXPECT_LT(mib, 64);
       }},
      {"modes lose setuid and never reach a folder",
       {UnixMode(Member("tool", "x"), 0104755), UnixMode(Member("d/"), 040700)},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_EQ(ModeOf(root / "tool") & 07777, 0755u);
         EXPECT_NE(ModeOf(root / "d") & 0777, 0700u);
       }},
      {"the root swapped for a link after the first member still takes every member",
       {Member("a/x", "x"), Member("b", "b"), Member("a/y", "y"), Member("c/z", "z")},
       {"", "", "", ""},
       [](const fs::path& root) {
         const fs::path held = root.parent_path() / "root.moved";
         EXPECT_EQ(fixtures::ReadFile(held / "a/x"), "x");
         EXPECT_EQ(fixtures::ReadFile(held / "b"), "b");
         EXPECT_EQ(fixtures::ReadFile(held / "a/y"), "y");
         EXPECT_EQ(fixtures::ReadFile(held / "c/z"), "z");
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 2) return;
         fs::rename(root, root.parent_path() / "root.moved");
         fs::create_directory_symlink(root.parent_path() / "outside", root);
       },
       0,
       {"root.moved"}},
      {"a folder that becomes a hard link to a file outside while its metadata is set gives "
       "that file neither its date nor its mode",
       {With(UnixMode(Member("d/", MacBinaryWithDates()), 0100777),
             [](RawMember& m) {
               m.time = 0x6db9;
               m.date = 0x52cf;
             })},
       {""},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_directory(root / "d.moved")); },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         // An old creation date beside it, which its own date then removes:
         // the first sidecar write comes before its other dates are set.
         ASSERT_TRUE(platform::WriteCreationDate(
             platform::ItemAt(root / "d"),
             platform::Date::FromFields(2001, 1, 1, 0, 0, 0).TotalSeconds(), nullptr));
         AtFirstSidecarWrite([](const fs::path& root, int, const std::string&) {
           fs::rename(root / "d", root / "d.moved");
           fs::create_hard_link(root.parent_path() / "outside/victim", root / "d");
         })(root, index);
       }},
      {"a private member is open to no one else while it is written, new or replacing",
       {UnixMode(Member("secret", MacBinaryFile("data", "fork")), 0100600),
        UnixMode(Member("keep.txt", MacBinaryFile("data", "fork")), 0100600)},
       {"", ""},
       [modes](const fs::path& root) {
         EXPECT_EQ(ModeOf(root / "secret") & 07777, 0600u);
         EXPECT_EQ(ModeOf(root / "keep.txt") & 07777, 0600u);
         // Both were seen: the new file in place, the other staged.
         EXPECT_EQ(modes->count("secret"), 1u);
         EXPECT_EQ(modes->size(), 2u);
         for (const auto& [name, mode] : *modes) EXPECT_EQ(mode & 077, 0u) << name;
       },
       false,
       [modes](const fs::path& root, std::int32_t) {
         // The mode of the file being written, new or staged, as its fork
         // goes into place.
         platform::SetSidecarWriteHook([root, modes](int, const std::string&) {
           for (const auto& e : fs::directory_iterator(root)) {
             const std::string name = e.path().filename();
             if (name == "secret" || (name.starts_with(".vantora-") && name.ends_with(".part"))) {
               (*modes)[name] |= ModeOf(e.path()) & 07777;
             }
           }
         });
       }},
      {"a link at a member's place stays when the member fails",
       {With(Member("escape", "x"), [](RawMember& m) { m.crc32 = 1; }),
        With(Member("inlink/"), [](RawMember& m) { m.localOffset = 1; })},
       {kDataCorrupted, kBadLocalHeader},
       [](const fs::path& root) {
         EXPECT_TRUE(S_ISLNK(ModeOf(root / "escape")));
         EXPECT_TRUE(S_ISLNK(ModeOf(root / "inlink")));
       }},
      {"a folder put at a sidecar's name as the fork is written is named as the cause, for a "
       "file written in place and for one committed over another",
       {Member("f", MacBinaryFile("data", "fork")), Member("keep.txt", MacBinaryFile("d", "f"))},
       {std::string(kOpenRsrc) + ": a folder exists where it goes. Won't replace that.",
        std::string(kOpenRsrc) + ": a folder exists where it goes. Won't replace that."},
       [](const fs::path& root) {
         EXPECT_FALSE(fs::exists(root / "f"));
         EXPECT_TRUE(fs::is_directory(root / "._f"));
         EXPECT_EQ(fixtures::ReadFile(root / "keep.txt"), "old contents");
         EXPECT_TRUE(fs::is_directory(root / "._keep.txt"));
       },
       false,
       [](const fs::path&, std::int32_t index) {
         if (index != 1) return;
         // Where the fork goes: for a staged file, the name it is committed to.
         platform::SetSidecarWriteHook([](int folder, const std::string& name) {
           const bool staged = name.starts_with("._.vantora-");
           ASSERT_EQ(::mkdirat(folder, staged ? "._keep.txt" : name.c_str(), 0700), 0);
         });
       }},
      {"a link at a folder member's place goes; the user's own \"._\" file beside it stays",
       {Member("inlink/")},
       {""},
       [](const fs::path& root) {
         EXPECT_TRUE(fs::is_directory(fs::symlink_status(root / "inlink")));
         EXPECT_EQ(fixtures::ReadFile(root / "._inlink"), "not AppleDouble");
         EXPECT_EQ(fixtures::ReadFile(root / "keepdir/inside"), "mine");
       },
       false,
       [](const fs::path& root, std::int32_t) {
         fixtures::WriteFile(root / "._inlink", "not AppleDouble");
       }},
      {"a link at a folder member's place that another replaces with a folder before it goes: "
       "that folder is taken as found",
       {Member("inlink/")},
       {""},
       [](const fs::path& root) { EXPECT_TRUE(fs::exists(root / "inlink" / "theirs")); },
       false,
       [](const fs::path& root, std::int32_t) {
         AfterNextLookAt("inlink", [root] {
           fs::remove(root / "inlink");
           fs::create_directory(root / "inlink");
           fixtures::WriteFile(root / "inlink" / "theirs", "");
         });
       }},
      {"a link put at a folder member's place between the look and the open is taken as one "
       "found there",
       {Member("d/")},
       {""},
       [](const fs::path& root) {
         EXPECT_TRUE(fs::is_directory(fs::symlink_status(root / "d")));
         EXPECT_TRUE(fs::is_directory(root / "d.moved"));
       },
       false,
       [](const fs::path& root, std::int32_t) {
         fs::create_directory(root / "d");
         beforeFolderOpen = [root](int, const char* name) {
           if (std::string(name) != "d" || fs::exists(root / "d.moved")) return;
           fs::rename(root / "d", root / "d.moved");
           fs::create_directory_symlink(root.parent_path() / "outside", root / "d");
         };
       }},
      {"a folder made by another process between the look and the making is used",
       {Member("n/"), Member("m/x", "x")},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "n/theirs"), "theirs");
         EXPECT_EQ(fixtures::ReadFile(root / "m/theirs"), "theirs");
         EXPECT_EQ(fixtures::ReadFile(root / "m/x"), "x");
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         beforeFolderMade = [root](int, const char* name) {
           if (std::string(name) != "n" && std::string(name) != "m") return;
           fs::create_directory(root / name);
           fixtures::WriteFile(root / name / "theirs", "theirs");
         };
       }},
      {"a new file that fails is removed only while it is the one made, and the sidecar written "
       "for it only while it is the one written: a file put at either name stays",
       {With(Member("made", MacBinaryFile("data", "fork")), [](RawMember& m) { m.crc32 = 1; }),
        With(Member("side", MacBinaryFile("data", "fork")), [](RawMember& m) { m.crc32 = 1; })},
       {kDataCorrupted, kDataCorrupted},
       [stray](const fs::path& root) {
         EXPECT_TRUE(fs::is_symlink(root / "made"));
         EXPECT_FALSE(fs::exists(root / "._made") || fs::exists(root / "side"));
         EXPECT_EQ(fixtures::ReadFile(root / "._side"), stray);
       },
       false,
       [stray](const fs::path& root, std::int32_t) {
         // A link to the first one at its name as its fork is written; another's sidecar in
         // place of the second one's, once written, as its file is looked at again (a new file,
         // so that it cannot take the inode of the one it replaces).
         platform::SetSidecarWriteHook([root, stray](int, const std::string& name) {
           if (name == "._made") {
             fs::rename(root / "made", root / "made.ours");
             fs::create_symlink("made.ours", root / "made");
           }
           if (name != "._side") return;
           AfterNextLookAt("side", [=] { platform::WriteFileAtomic(root / name, stray, nullptr); });
         });
       }},
      {"a folder put at a replaced file's sidecar name just after it was looked at is named as "
       "the cause",
       {Member("keep.txt", MacBinaryFile("d", "f"))},
       {std::string(kOpenRsrc) + ": a folder exists where it goes. Won't replace that."},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_directory(root / "._keep.txt")); },
       false,
       [](const fs::path& root, std::int32_t) {
         platform::SetSidecarWriteHook([root](int, const std::string&) {
           AfterNextLookAt("._keep.txt", [root] { fs::create_directory(root / "._keep.txt"); });
         });
       }},
      {"a replaced file keeps a mode the umask would change, and never the old set-id or sticky "
       "bits",
       {With(Member("shared", "new"), [](RawMember& m) { m.internalAttributes = 1; }),
        With(Member("setid", "new"), [](RawMember& m) { m.internalAttributes = 1; })},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_EQ(ModeOf(root / "shared") & 07777, 0664u);
         EXPECT_EQ(ModeOf(root / "setid") & 07777, 0775u);
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         for (const auto& [name, mode] : {std::pair{"shared", 0664}, {"setid", 07775}}) {
           fixtures::WriteFile(root / name, "old");
           fs::permissions(root / name, fs::perms(mode));
         }
       }},
      {"a member naming a write-protected root is refused as one naming a write-protected folder "
       "is, and neither's date changes",
       {Dated(Member("/")), Dated(Member("ro/"))},
       {kWriteProtected, kWriteProtected},
       [](const fs::path& root) {
         for (const fs::path& p : {root, root / "ro"}) {
           EXPECT_EQ(ModifiedAt(p), kOldDate) << p;
           fs::permissions(p, fs::perms(0755));
         }
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         fs::create_directory(root / "ro");
         for (const fs::path& p : {root / "ro", root}) {
           fs::permissions(p, fs::perms(0555));
           Backdate(p);
         }
       }},
      {"in a tree deeper than the folders held, a member that goes up and down again lands in "
       "its own folder, never in the one of an earlier member at that depth",
       {Member("a/" + Deep(40, "x"), "x"), Member("a/" + Deep(4, "y"), "y"),
        Member("b/" + Deep(40, Up(36, "c/z")), "z")},
       {"", "", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "b" / Deep(4, "c/z")), "z");
         EXPECT_FALSE(fs::exists(root / "a" / Deep(4, "c")));
       }},
      {"a folder let go and swapped for another between members is entered as the new one, and "
       "a later walk opening it again goes through it",
       {Member(Deep(40, "x"), "x"), Member(Deep(10, "y"), "y"), Member(Deep(40, "x2"), "x"),
        Member(Deep(10, Up(5, "v/z")), "z")},
       {"", "", "", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "t/t/old" / Deep(37, "x")), "x");
         EXPECT_EQ(fixtures::ReadFile(root / Deep(10, "y")), "y");
         EXPECT_EQ(fixtures::ReadFile(root / Deep(5, "v/z")), "z");
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         fs::rename(root / "t/t/t", root / "t/t/old");
         fs::create_directory(root / "t/t/t");
       }},
      {"a file without a Unix mode adds execute bits to the mode a new file gets",
       {Member("program", "x")},
       {""},
       [](const fs::path& root) {
         ::close(::open((root / "new").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
         EXPECT_EQ(ModeOf(root / "program") & 07777, (ModeOf(root / "new") & 07777) | 0511);
       }},
      {"after a damaged deflated member the next one inflates",
       {With(Deflated("crc", lie), [](RawMember& m) { m.crc32 = 0x12345678; }),
        Deflated("after-crc", lie),
        With(Deflated("cut", LinesOfText(100000)),
             [](RawMember& m) { m.data.resize(m.data.size() - 8); }),
        Deflated("after-cut", lie)},
       {"An error -3 occured while deflation", "", "An error -5 occured while deflation", ""},
       [lie](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "after-crc"), lie);
         EXPECT_EQ(fixtures::ReadFile(root / "after-cut"), lie);
       }},
      {"folders keep their dates whatever is written into them later: listed before or after "
       "their members, beyond the folders held open, and the root; a failed member keeps them",
       {Dated(Member("/")), Dated(Member("a/")), Dated(Member("a/x", "x")), Member("a/b/y", "y"),
        Dated(Member("a/b/")), Dated(Member("t/")), Member(Deep(40, "z"), "z"), Member("a/w", "w"),
        Member("top", "top"), With(Member("bad", "x"), [](RawMember& m) { m.crc32 = 1; })},
       {"", "", "", "", "", "", "", "", "", kDataCorrupted},
       [](const fs::path& root) {
         for (const char* folder : {"", "a", "a/b", "t"}) {
           EXPECT_EQ(fs::last_write_time(root / folder), fs::last_write_time(root / "a/x"))
               << folder;
         }
       }},
      {"a missing root, made and swapped as it is opened, takes no member",
       {Member("a/x", "x")},
       {kRootReplaced},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_empty(root)); },
       false,
       nullptr,
       0,
       {"root.moved"},
       [](const fs::path& root) {
         fs::remove_all(root);
         beforeFolderOpen = [root, done = std::make_shared<bool>(false)](int, const char* name) {
           if (*done || fs::path(name).filename() != "root" || !fs::is_directory(root)) return;
           *done = true;
           fs::rename(root, root.parent_path() / "root.moved");
           fs::create_directory(root);
         };
       }},
      {"a link standing at the root's path is followed: the caller named that path",
       {Member("a/x", "x")},
       {""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "a/x"), "x"); },
       false,
       nullptr,
       0,
       {"root.real"},
       [](const fs::path& root) {
         fs::rename(root, root.parent_path() / "root.real");
         fs::create_directory_symlink("root.real", root);
       }},
      {"a missing root is made with a folder's mode",
       {Member("a/x", "x")},
       {""},
       [](const fs::path& root) {
         EXPECT_EQ(ModeOf(root) & 07777, 0755u);
         EXPECT_EQ(fixtures::ReadFile(root / "a/x"), "x");
       },
       false,
       nullptr,
       0,
       {},
       [](const fs::path& root) { fs::remove_all(root); }},
      {"a missing root made by another process just before the job makes it is used",
       {Member("a/x", "x")},
       {""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "a/x"), "x"); },
       false,
       nullptr,
       0,
       {},
       [](const fs::path& root) {
         fs::remove_all(root);
         beforeFolderMade = [root](int, const char* name) {
           if (fs::path(name).filename() == "root") fs::create_directory(root);
         };
       }},
      {"a link put at a missing root's name just before the job makes it is not followed",
       {Member("a/x", "x")},
       {kAliasOnPath},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_symlink(root)); },
       false,
       nullptr,
       0,
       {},
       [](const fs::path& root) {
         fs::remove_all(root);
         beforeFolderMade = [root](int, const char* name) {
           if (name == root.filename()) fs::create_directory_symlink("outside", root);
         };
       }},
      {"a folder the job made, swapped for a link as it is opened, takes no member",
       {Member("a/x", "x")},
       {kAliasOnPath},
       [](const fs::path& root) { EXPECT_TRUE(fs::is_empty(root / "a.moved")); },
       false,
       nullptr,
       0,
       {},
       [](const fs::path& root) {
         auto made = std::make_shared<bool>(false);
         beforeFolderMade = [made](int, const char* name) {
           *made = *made || std::string(name) == "a";
         };
         beforeFolderOpen = [root, made](int, const char* name) {
           if (!*made || std::string(name) != "a") return;
           *made = false;
           fs::rename(root / "a", root / "a.moved");
           fs::create_directory_symlink(root.parent_path() / "outside", root / "a");
         };
       }},
      {"in a tree deeper than the folders held, a folder opened again and then left is not "
       "taken for the one entered at its depth next: the later folder keeps its date",
       {Member("a/" + Deep(39, "f"), "f"), Member("a/g", "g"), Dated(Member("b/t/")),
        Member("b/" + Deep(39, "h"), "h"), Dated(Member("dated", "d"))},
       {"", "", "", "", ""},
       [](const fs::path& root) {
         EXPECT_EQ(fs::last_write_time(root / "b/t"), fs::last_write_time(root / "dated"));
       }},
      {"a folder member's place changed since its look or as it is opened: the link it looked "
       "at is removed only while it stands there, a link put there since is taken as one "
       "found there, anything else stays and the member says what it is",
       {Member("inlink/"), Member("escape/"), Member("gone/"), Member("keepdir/"), Member("new/"),
        Member("filed/")},
       {kFolderOverFile, kAliasStays, "", "", "", kFolderOverFile},
       [](const fs::path& root) {
         for (const char* file : {"inlink", "filed"}) {
           EXPECT_EQ(fixtures::ReadFile(root / file), "put there") << file;
         }
         EXPECT_TRUE(fs::is_symlink(root / "escape") &&
                     fs::read_symlink(root / "escape") == "elsewhere");
         for (const char* folder : {"gone", "keepdir", "new"}) {
           EXPECT_TRUE(fs::is_directory(fs::symlink_status(root / folder))) << folder;
         }
       },
       false,
       [](const fs::path& root, std::int32_t index) {
         const char* const names[] = {"", "inlink", "escape", "gone", "keepdir", "new", "filed"};
         const fs::path place = root / names[index], made = root / "made";
         if (index == 3) fs::create_symlink("elsewhere", place);
         // What is made is made before what stands there goes, so that it
         // cannot take its inode.
         auto change = [=, done = std::make_shared<bool>(false)](int, const char* name) {
           if (*done || place.filename() != name) return;
           *done = true;
           if (index == 1 || index == 6) fixtures::WriteFile(made, "put there");
           if (index == 2) fs::create_symlink("elsewhere", made);
           if (index == 4 || index == 5) {
             fs::create_directory_symlink(root.parent_path() / "outside", made);
           }
           if (index == 4) fs::rename(place, root / "moved");
           index == 3 ? void(fs::remove(place)) : fs::rename(made, place);
         };
         (index <= 3 ? afterLook : beforeFolderOpen) = change;
       }},
      {"an item whose Mac name's sidecar name is taken keeps its own name and its own sidecar: "
       "an AppleDouble file or a user's \"._\" file there stays",
       {Member("s-f", "1", MacRecord("s\\f")), Member("u-f", "2", MacRecord("u\\f"))},
       {"", ""},
       [stray](const fs::path& root) {
         EXPECT_EQ(platform::FolderItem(root / "s-f").MacType(), "TEXT");
         EXPECT_EQ(fixtures::ReadFile(root / "u-f"), "2");
         EXPECT_EQ(fixtures::ReadFile(root / "._s\\f"), stray);
         EXPECT_EQ(fixtures::ReadFile(root / "._u\\f"), "not AppleDouble");
       },
       false,
       [stray](const fs::path& root, std::int32_t index) {
         if (index != 1) return;
         fixtures::WriteFile(root / "._s\\f", stray);
         fixtures::WriteFile(root / "._u\\f", "not AppleDouble");
       }},
      {"a stray sidecar of a folder made new is removed only while it is the one looked at",
       {Member("new/")},
       {""},
       [stray](const fs::path& root) {
         EXPECT_EQ(fixtures::ReadFile(root / "._new"), stray.substr(0, 8) + "theirs");
       },
       false,
       [stray](const fs::path& root, std::int32_t) {
         fixtures::WriteFile(root / "._new", stray);
         AfterNextLookAt("._new", [=] {
           platform::WriteFileAtomic(root / "._new", stray.substr(0, 8) + "theirs", nullptr);
         });
       }},
      {"a folder made new takes nothing from a sidecar that stood alone at its sidecar's name; "
       "one found there keeps its own",
       {Dated(Member("new/")), Dated(Member("keepdir/"))},
       {"", ""},
       [](const fs::path& root) {
         EXPECT_FALSE(fs::exists(root / "._new"));
         EXPECT_EQ(platform::FolderItem(root / "new").FinderInfo(), std::string(32, '\0'));
         EXPECT_EQ(platform::FolderItem(root / "keepdir").FinderInfo().substr(0, 4), "JUNK");
       },
       false,
       [stray](const fs::path& root, std::int32_t index) {
         for (const char* name : {"._new", "._keepdir"}) {
           if (index == 1) fixtures::WriteFile(root / name, stray);
         }
       }},
  };
}

TEST(HostileExtractTest, EveryMemberLandsInsideTheRootOrFailsWithItsMessage) {
  // The modes the rows expect are those of this umask.
  const mode_t savedMask = ::umask(022);
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    fixtures::TempDir base;
    const fs::path root = base / "root", outside = base / "outside";
    fs::create_directories(root / "keepdir");
    fs::create_directories(outside);
    fixtures::WriteFile(outside / "victim", "untouched");
    fixtures::WriteFile(root / "keep.txt", "old contents");
    fixtures::WriteFile(root / "keepdir/inside", "mine");
    fs::create_directory_symlink(outside, root / "escape");
    fs::create_directory_symlink("keepdir", root / "inlink");
    const auto before = Snapshot(outside, true);
    const std::size_t descriptors = OpenDescriptors();

    fixtures::RawArchive raw;
    raw.members = c.members;
    fixtures::WriteFile(base / "a.zip", raw.Build());
    zip::ZipArchive archive;
    ASSERT_TRUE(archive.Open(base / "a.zip", false)) << archive.ErrorMessage();
    std::vector<Extracted> got;
    if (c.before) c.before(root);
    {
      std::optional<DescriptorLimit> limit;
      if (c.descriptors > 0) limit.emplace(c.descriptors);
      got = ExtractAll(archive, root, true, c.followAliases, [&](std::int32_t index) {
        if (c.placed) c.placed(root, index);
      });
    }
    platform::SetSidecarWriteHook(nullptr);
    beforeFolderOpen = beforeFolderMade = nullptr;
    afterLook = nullptr;
    // What the extraction leaves is on disk once the archive is closed; the
    // folders it held open are let go with it.
    archive.Close();
    ASSERT_EQ(got.size(), c.messages.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].message, c.messages[i]) << i;
    c.check(root);
    EXPECT_EQ(OpenDescriptors(), descriptors);

    EXPECT_EQ(Snapshot(outside, true), before);
    std::vector<std::string> top, expected{"a.zip", "outside", "root"};
    for (const auto& e : fs::directory_iterator(base.path())) top.push_back(e.path().filename());
    expected.insert(expected.end(), c.besides.begin(), c.besides.end());
    std::sort(top.begin(), top.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(top, expected);
    for (const auto& e : fs::directory_iterator(root)) {
      EXPECT_EQ(e.path().filename().string().find(".vantora-"), std::string::npos)
          << "a staged file was left behind";
    }
  }
  ::umask(savedMask);
}

// A link at a member's place that this user may not remove (another user's,
// in a folder with the sticky bit) stays, and the member says so, file or
// folder.
TEST(HostileExtractTest, ALinkThatCannotBeRemovedSaysSo) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving the links to another user takes root";
  fixtures::TempDir base;
  const fs::path root = base / "root";
  fs::create_directories(root);
  fs::permissions(base.path(), fs::perms(0755));
  fs::permissions(root, fs::perms(01777));
  for (const char* name : {"f", "d"}) {
    fs::create_symlink("elsewhere", root / name);
    ASSERT_EQ(::lchown((root / name).c_str(), 1, 1), 0);
  }
  fixtures::RawArchive raw;
  raw.members = {Member("f", "data"), Member("d/")};
  fixtures::WriteFile(base / "a.zip", raw.Build());
  EXPECT_TRUE(test_support::RunUnprivileged([&] {
    zip::ZipArchive archive;
    if (!archive.Open(base / "a.zip", false)) return false;
    const std::vector<Extracted> got = ExtractAll(archive, root);
    for (const Extracted& e : got)
      std::fprintf(stderr, "%s: %s\n", e.rawPath.c_str(), e.message.c_str());
    return got.size() == 2 && got[0].message == kAliasStays && got[1].message == kAliasStays;
  }));
  EXPECT_TRUE(S_ISLNK(ModeOf(root / "f")));
  EXPECT_TRUE(S_ISLNK(ModeOf(root / "d")));
  for (const auto& e : fs::directory_iterator(root)) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".vantora-")) << e.path();
  }
}

// A folder member that carries a regular file's mode keeps a folder's mode:
// as any user but root, the members after it could not be put in it else.
TEST(HostileExtractTest, AFolderMemberWithAFilesModeTakesTheMembersInIt) {
  fixtures::TempDir base;
  const fs::path root = base / "root";
  fs::create_directories(root);
  fs::permissions(base.path(), fs::perms(0755));
  fs::permissions(root, fs::perms(0777));
  fs::create_directory(base / "plain");
  fixtures::RawArchive raw;
  raw.members = {UnixMode(Member("d/"), 0100644), Member("d/x", "x")};
  fixtures::WriteFile(base / "a.zip", raw.Build());
  EXPECT_TRUE(test_support::RunUnprivileged([&] {
    zip::ZipArchive archive;
    if (!archive.Open(base / "a.zip", false)) return false;
    const std::vector<Extracted> got = ExtractAll(archive, root);
    for (const Extracted& e : got)
      std::fprintf(stderr, "%s: %s\n", e.rawPath.c_str(), e.message.c_str());
    return got.size() == 2 && got[0].message.empty() && got[1].message.empty();
  }));
  EXPECT_EQ(ModeOf(root / "d"), ModeOf(base / "plain"));
  EXPECT_EQ(fixtures::ReadFile(root / "d/x"), "x");
}

// A folder's stored date is one job's: a later archive that writes into the
// folder without naming it leaves the folder dated as any write does.
TEST(HostileExtractTest, AFolderDateIsNotSetAgainByALaterJob) {
  fixtures::TempDir base;
  const fs::path root = base / "root";
  fixtures::RawArchive first, second;
  first.members = {Dated(Member("d/")), Dated(Member("d/x", "x"))};
  second.members = {Member("d/y", "y")};
  fixtures::WriteFile(base / "first.zip", first.Build());
  fixtures::WriteFile(base / "second.zip", second.Build());
  zip::ZipArchive archive;
  for (const char* name : {"first.zip", "second.zip"}) {
    ASSERT_TRUE(archive.Open(base / name, false)) << archive.ErrorMessage();
    for (const Extracted& e : ExtractAll(archive, root)) EXPECT_EQ(e.message, "") << e.rawPath;
    archive.Close();
  }
  EXPECT_NE(fs::last_write_time(root / "d"), fs::last_write_time(root / "d/x"));
}

// However few descriptors are left, a member with a resource fork is either
// written whole or fails saying that the program ran out of them, and
// leaves nothing half-made.
TEST(HostileExtractTest, OutOfDescriptorsAtAnyStepSaysSoAndLeavesNothingHalfMade) {
  fixtures::TempDir base;
  fixtures::RawArchive raw;
  raw.members = {Member("d/f", MacBinaryFile("data", "fork"))};
  fixtures::WriteFile(base / "a.zip", raw.Build());
  bool written = false;
  for (int free = 1; !written && free <= 12; ++free) {
    SCOPED_TRACE(free);
    const fs::path root = base / ("root" + std::to_string(free));
    zip::ZipArchive archive;
    ASSERT_TRUE(archive.Open(base / "a.zip", false));
    std::vector<Extracted> got;
    {
      DescriptorLimit limit(free);
      got = ExtractAll(archive, root);
    }
    ASSERT_EQ(got.size(), 1u);
    written = got[0].message.empty();
    if (written) {
      EXPECT_EQ(platform::FolderItem(root / "d/f").ResourceForkLength(), 4);
    } else {
      EXPECT_TRUE(got[0].message.ends_with(": Too many open files")) << got[0].message;
      EXPECT_FALSE(fs::exists(root / "d/f"));
      EXPECT_FALSE(fs::exists(root / "d/._f"));
    }
  }
  EXPECT_TRUE(written);
}

}  // namespace

// The extraction makes a missing folder with mkdirat; a row can act just
// before.
extern "C" int mkdirat(int folder, const char* name, mode_t mode) noexcept {
  if (beforeFolderMade) beforeFolderMade(folder, name);
  return static_cast<int>(::syscall(SYS_mkdirat, folder, name, mode));
}
