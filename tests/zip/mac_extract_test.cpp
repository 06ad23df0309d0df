// Mac files in archives: MacBinary I, II and III members and AppleDouble
// companions put onto disk with their data fork, resource fork, type,
// creator and dates; and the decoder's own interface (progress and abort,
// Verify, headers alone, caller-supplied destinations and streams).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <set>

#include "fixtures/look_hook.h"
#include "fixtures/no_replace_hook.h"
#include "fixtures/zip_builder.h"
#include "platform/apple_double.h"
#include "zip/rsrc_fork_streams.h"
#include "zip/zip_archive.h"
#include "zip/zip_progress_notifier.h"
#include "zip/zip_records.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
namespace mb = zip::records::macbinary;
using fixtures::Member;
using fixtures::RawMember;
using platform::FolderItem;
using namespace ziptest;

// The file name whose rename fails: the C library's rename stands in for the
// test program and passes every other call on.
std::string failRenameTo;
// A file system that knows no rename refusing to replace (some network and
// FUSE file systems), and one that has no hard links either.
using fixtures::noReplaceRefused;
bool linksRefused = false;

std::string Padded(const std::string& fork) {
  return fork + std::string((128 - fork.size() % 128) % 128, '\0');
}

std::string RsrcFork(const fs::path& file) {
  zip::RsrcForkReader r{FolderItem(file)};
  return r.Open() ? r.Read(1024) : "(no fork)";
}

class MacExtractTest : public ::testing::Test {
 protected:
  void Open(const std::vector<RawMember>& members) {
    fixtures::RawArchive raw;
    raw.members = members;
    ASSERT_TRUE(OpenBytes(archive_, dir_, raw.Build())) << archive_.ErrorMessage();
    fs::create_directories(out_);
  }
  // A MacBinary III stream of our own: data fork, resource fork, dated.
  std::string OurMacBinary(const std::string& data, const std::string& rsrc,
                           std::int32_t claimedRsrc = -1) {
    auto h = archive_.MakeMacBinaryHeader(
        static_cast<std::int32_t>(data.size()),
        claimedRsrc < 0 ? static_cast<std::int32_t>(rsrc.size()) : claimedRsrc, "Tool", "APPL",
        "Vnta", date_, date_);
    return h->Bytes() + Padded(data) + Padded(rsrc);
  }

  fixtures::TempDir dir_;
  fs::path out_ = dir_ / "out";
  zip::ZipArchive archive_;
  platform::Date date_ = platform::Date::FromFields(2020, 2, 29, 10, 20, 30);
};

TEST_F(MacExtractTest, MacBinaryMembersAreSplitIntoForksWithTheirMetadata) {
  ASSERT_TRUE(MakeMacBinaryFiles(dir_.path()));
  const std::string mb1 = fixtures::ReadFile(dir_ / "mb1.bin");
  const std::string rsrc(300, 'r'), appleDouble = fixtures::AppleDoubleHeader({});
  // A sidecar left from a file long gone, which holds a creation date.
  const std::string staleDates =
      fixtures::AppleDoubleHeader({{platform::kAppleDoubleFileDates, 38, 16}}) +
      std::string(4, '\0') + std::string("\x80\0\0\0\x80\0\0\0\x80\0\0\0", 12);
  const auto dated = [](RawMember& m) {
    m.date = (41 << 9) | (6 << 5) | 15;  // 2021-06-15 13:45:58
    m.time = (13 << 11) | (45 << 5) | 29;
  };
  struct Case {
    RawMember member;
    std::string data, rsrc, typeCreator, message;
  };
  const std::vector<Case> cases = {
      {Member("one", mb1), mb1, "", "", ""},  // MacBinary I is not looked for
      {Member("two", fixtures::ReadFile(dir_ / "mb2.bin")), "hello data fork", "", "TEXTttxt", ""},
      {fixtures::Deflated("three", OurMacBinary("the data fork", rsrc)), "the data fork", rsrc,
       "APPLVnta", ""},
      {Member("liar", OurMacBinary("x", "y", 100000)), "", "", "", kDataCorrupted},
      // A "._" file of the user's leaves no place for the fork.
      {Member("blocked", OurMacBinary("new data", rsrc)), "old data", "", "",
       "Opening destination rsrc fork failed"},
      {Member("bare", OurMacBinary("", "")), "", "", "APPLVnta", ""},  // the header alone
      // The header's type wins over the Mac record's.
      {Member("both", OurMacBinary("d", ""),
              archive_.MakeZipExtraField("TEXT", "ttxt", "")->AsData()),
       "d", "", "APPLVnta", ""},
      // The fork of the file replaced does not stay on the new one.
      {Member("stale", "new data"), "new data", "", "", ""},
      // An AppleDouble member where a later file without a fork has its
      // sidecar stays: when no file was there before, and when it took the
      // place of the old file's sidecar.
      {Member("._a.txt", appleDouble), appleDouble, "", "", ""},
      {Member("a.txt", "new a"), "new a", "", "", ""},
      {Member("._b.txt", appleDouble), appleDouble, "", "", ""},
      {Member("b.txt", "new b"), "new b", "", "", ""},
      // Once the extraction has written "._" members of its own, a replaced
      // file's old fork still goes.
      {Member("later", "new data"), "new data", "", "", ""},
      // A sidecar that stood with no file beside it gives the new file
      // nothing, and its fork is not copied, however large it claims to be;
      // a user's "._" file beside a replaced one is none of its to remove.
      {Member("c.txt", "new c"), "new c", "", "", ""},
      {fixtures::With(Member("h.txt", "new h"), dated), "new h", "", "", ""},
      {Member("keep.txt", "new keep"), "new keep", "", "", ""},
      // A file with a fork replaced by one with a fork: the new sidecar takes
      // the old one's place, and nothing staged on the way stays behind.
      {Member("forked", OurMacBinary("new data", rsrc)), "new data", rsrc, "APPLVnta", ""},
      // A link at a member's place goes, not what it leads to, nor the
      // user's "._" file beside it.
      {Member("linked", "new linked"), "new linked", "", "", ""},
      // The file takes the member's date, not the one of the sidecar it
      // finds beside it.
      {fixtures::With(Member("dated.txt", "new dated"), dated), "new dated", "", "", ""},
  };
  std::vector<RawMember> members;
  for (const Case& c : cases) members.push_back(c.member);
  Open(members);
  fixtures::WriteFile(out_ / "blocked", "old data");
  fixtures::WriteFile(out_ / "._blocked", "not AppleDouble");
  for (const char* replaced : {"b.txt", "stale", "later", "c.txt", "forked"}) {
    fixtures::WriteFile(out_ / replaced, "old data");
    zip::RsrcForkWriter oldFork{FolderItem(out_ / replaced)};
    ASSERT_TRUE(oldFork.Open() && oldFork.Write("old fork") && oldFork.Close());
  }
  ASSERT_TRUE(FolderItem(out_ / "c.txt").SetMacType("JUNK"));
  fs::remove(out_ / "c.txt");
  // A sparse sidecar whose fork claims 64 MiB.
  fixtures::WriteFile(out_ / "._h.txt", fixtures::AppleDoubleHeader({{2, 38, 64u << 20}}));
  fs::resize_file(out_ / "._h.txt", 38 + (64u << 20));
  fixtures::WriteFile(out_ / "keep.txt", "old data");
  fixtures::WriteFile(out_ / "._keep.txt", "not AppleDouble");
  fixtures::WriteFile(dir_ / "theirs", "their file");
  fs::create_symlink(dir_ / "theirs", out_ / "linked");
  fixtures::WriteFile(out_ / "._linked", "not AppleDouble");
  fixtures::WriteFile(out_ / "._dated.txt", staleDates);
  const std::vector<Extracted> got = ExtractAll(archive_, out_);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const fs::path file = out_ / c.member.name;
    SCOPED_TRACE(c.member.name);
    EXPECT_EQ(got[i].message, c.message);
    if (!c.message.empty()) {  // a file that was there stays as it was
      EXPECT_EQ(fs::exists(file) ? fixtures::ReadFile(file) : "", c.data);
      continue;
    }
    EXPECT_EQ(fixtures::ReadFile(file), c.data);
    EXPECT_EQ(RsrcFork(file), c.rsrc);
    EXPECT_EQ(FolderItem(file).MacType() + FolderItem(file).MacCreator(), c.typeCreator);
  }
  EXPECT_EQ(FolderItem(out_ / "three").ModificationDate(), date_);
  for (const char* stray : {"._c.txt", "._h.txt"}) EXPECT_FALSE(fs::exists(out_ / stray)) << stray;
  for (const char* theirs : {"._keep.txt", "._linked"}) {
    EXPECT_EQ(fixtures::ReadFile(out_ / theirs), "not AppleDouble") << theirs;
  }
  EXPECT_EQ(fixtures::ReadFile(dir_ / "theirs"), "their file");
  EXPECT_EQ(FolderItem(out_ / "dated.txt").CreationDate(),
            platform::Date::FromFields(2021, 6, 15, 13, 45, 58));
  for (const fs::directory_entry& e : fs::directory_iterator(out_)) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".vantora-")) << e.path();
  }

  // Without MacBinary decoding a member is written as it is stored.
  const fs::path raw = dir_ / "raw";
  ExtractAll(archive_, raw, false);
  EXPECT_EQ(fixtures::ReadFile(raw / "two"), fixtures::ReadFile(dir_ / "mb2.bin"));
  EXPECT_EQ(RsrcFork(raw / "two"), "");
}

TEST_F(MacExtractTest, AppleDoubleCompanionsGiveTheirFileItsForkAndFinderInformation) {
  const std::string ux = fixtures::UnixType1Block(1600000000, 1600000100);
  std::string info = "TYPECRTR";
  info += std::string("\x01\x02", 2) + std::string(22, '\0');  // flags, then script and more
  const std::string good =
      fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, 10}}) + info + "RSRC-BYTES";
  std::string versionOne = good;
  versionOne[5] = 1;
  // Only the 82 header bytes, with a script code and extended flags; and a
  // fork said to start inside those bytes.
  std::string scripted = info;
  scripted[24] = 0x05, scripted[25] = 0x04;
  const std::string exact = fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, 0}}) + scripted;
  const std::string overlap =
      fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 60, 10}}) + info + "RSRC-BYTES";
  // An empty fork lies nowhere, even at 0.
  const std::string emptyFork = fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 0, 0}}) + info;
  Open({Member("dir/"), Member("dir/file", "data fork"), Member("dir/bad", "other"),
        Member("__MACOSX/", "", ux), Member("__MACOSX/dir/", "", ux),
        Member("__MACOSX/dir/._file", good, ux), Member("__MACOSX/dir/._bad", versionOne, ux),
        // A companion's own companion is not looked at.
        Member("top", "t"), Member("._top", good, ux), Member("._._top", versionOne, ux),
        Member("exact", "e"), Member("._exact", exact, ux), Member("over", "o"),
        Member("._over", overlap, ux), Member("empty", "e"), Member("._empty", emptyFork, ux),
        Member("__MACOSX/._early", emptyFork, ux), Member("early", "e")});
  ASSERT_TRUE(archive_.UsesAppleDittoFormat());
  // Sidecars that stood there alone: the companion's information replaces
  // them whole, whichever of the pair comes first.
  const std::string stray = fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, 8}}) + "JUNKjunk" +
                            std::string(24, '\0') + "old fork";
  for (const char* name : {"._empty", "._early"}) fixtures::WriteFile(out_ / name, stray);
  // Unix times become Mac dates, which are local: read them at a zone other
  // than UTC.
  const char* zone = std::getenv("TZ");
  const std::string savedZone = zone ? zone : "";
  setenv("TZ", "XYZ-3", 1);
  tzset();
  const std::vector<Extracted> got = ExtractAll(archive_, out_);
  zone ? setenv("TZ", savedZone.c_str(), 1) : unsetenv("TZ");
  tzset();
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[1].message, "");
  EXPECT_EQ(got[2].message, kBadAppleDouble);
  EXPECT_EQ(got[3].message, "");
  EXPECT_EQ(RsrcFork(out_ / "top"), "RSRC-BYTES");
  EXPECT_EQ(got[4].message, "");
  EXPECT_EQ(FolderItem(out_ / "exact").FinderInfo().substr(24, 2), "\x05\x04");
  EXPECT_EQ(got[5].message, kBadAppleDouble);
  for (const auto& [index, name] : {std::pair{6, "empty"}, {7, "early"}}) {
    EXPECT_EQ(got[index].message, "") << name;
    EXPECT_EQ(FolderItem(out_ / name).MacType() + FolderItem(out_ / name).MacCreator(), "TYPECRTR")
        << name;
    EXPECT_EQ(RsrcFork(out_ / name), "") << name;
  }
  // The low byte of the flags moves to its place; where it was, the header
  // handed back holds a zero fill.
  platform::MemoryBlockRef h;
  ASSERT_TRUE(archive_.Entry(5)->GetMacBinaryHeader(h));
  EXPECT_EQ(h->UInt8Value(mb::kFinderFlagsLow), 0x02);
  EXPECT_EQ(h->UInt8Value(74), 0);

  const FolderItem file(out_ / "dir/file");
  EXPECT_EQ(fixtures::ReadFile(file.Path()), "data fork");
  EXPECT_EQ(RsrcFork(file.Path()), "RSRC-BYTES");
  EXPECT_EQ(file.MacType() + file.MacCreator(), "TYPECRTR");
  EXPECT_EQ(static_cast<std::uint8_t>(file.FinderInfo()[9]), 0x02);
  struct stat st {};
  ASSERT_EQ(::stat(file.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1600000100);
  EXPECT_FALSE(fs::exists(out_ / "dir/bad"));
}

TEST_F(MacExtractTest, DecoderReportsProgressStopsWhenAskedAndChecksWithoutWriting) {
  const std::string big(40000, 'b');
  Open({fixtures::Deflated("big", big), Member("tool", OurMacBinary("code", "rs")),
        fixtures::With(Member("bad", "stored"), [](RawMember& m) { m.crc32 = 1; })});
  auto monitor = std::make_shared<RecordingMonitor>();
  archive_.SetProgressMonitor(monitor);
  zip::ZipEntryRef e = archive_.Entry(1);
  EXPECT_TRUE(e->Verify()) << e->ErrorMessage();
  EXPECT_EQ(monitor->progress.front(), std::make_pair(40000, 0));
  EXPECT_EQ(monitor->progress.back(), std::make_pair(40000, 40000));
  EXPECT_GE(monitor->progress.size(), 4u);  // a report per chunk of 16384

  monitor->progress.clear();
  monitor->abortEntry = "big";
  EXPECT_FALSE(e->Extract(e->MakeDestination(FolderItem(out_), false)));
  EXPECT_EQ(e->ErrorMessage(), "Aborted");
  EXPECT_EQ(monitor->progress.size(), 2u);
  EXPECT_FALSE(fs::exists(out_ / "big"));
  archive_.SetProgressMonitor(nullptr);
  // A destination of the caller's own is where the member goes, whatever
  // place MakeDestination found before.
  e->MakeDestination(FolderItem(out_), false);
  std::optional<FolderItem> mine = FolderItem(dir_ / "mine");
  EXPECT_TRUE(e->Extract(mine)) << e->ErrorMessage();
  EXPECT_TRUE(fixtures::ReadFile(dir_ / "mine") == big);
  EXPECT_TRUE(fs::is_empty(out_));
  // It is handed back as the caller gave it: named by path, holding nothing open.
  EXPECT_EQ(mine->Folder(), nullptr);

  platform::MemoryBlockRef h;
  EXPECT_TRUE(archive_.Entry(2)->GetMacBinaryHeader(h));
  ASSERT_TRUE(h);
  EXPECT_EQ(archive_.Entry(2)->z_MBHdrLevel(*h), 3);
  EXPECT_FALSE(archive_.Entry(1)->GetMacBinaryHeader(h));
  EXPECT_FALSE(h);
  EXPECT_FALSE(archive_.Entry(3)->Verify());
  EXPECT_EQ(archive_.Entry(3)->ErrorMessage(), kDataCorrupted);
  EXPECT_FALSE(e->Extract(false, nullptr, nullptr, h));
  EXPECT_EQ(e->ErrorMessage(), "Internal error (exception)");
  // A fork that cannot be put in place as its stream closes fails the
  // member: the disk takes no file past the fork's 2 bytes.
  fixtures::WriteFile(out_ / "tool", "");
  zip::RsrcForkWriter fork{FolderItem(out_ / "tool")};
  {
    FileSizeLimit full(2);
    EXPECT_FALSE(archive_.Entry(2)->Extract(true, nullptr, &fork, h));
  }
  EXPECT_EQ(archive_.Entry(2)->ErrorMessage(), "File write error (disk full?)");
  archive_.Close();
  EXPECT_FALSE(e->Verify());
  EXPECT_EQ(e->ErrorMessage(), "Archive is closed");
}

// Every name the file system takes keeps its fork and Finder information,
// new or replacing; the temporary names on the way have a length of their
// own. At 255 bytes no sidecar name can exist: a fork then fails the member,
// saying why, and what stood there stays.
TEST_F(MacExtractTest, TheLongestNamesKeepTheirForkAndFinderInformation) {
  struct Case {
    std::size_t length;
    bool replacing, fork;
    std::string message;
  };
  const std::string tooLong = std::string(kOpenRsrc) + ": File name too long";
  const std::vector<Case> cases = {
      {250, false, true, ""},  {250, true, true, ""},       {250, false, false, ""},
      {250, true, false, ""},  {255, false, true, tooLong}, {255, true, true, tooLong},
      {255, false, false, ""}, {255, true, false, ""},
  };
  std::vector<RawMember> members;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string name(cases[i].length, static_cast<char>('a' + i));
    members.push_back(
        cases[i].fork
            ? Member(name, OurMacBinary("data", "fork"))
            : Member(name, "data", archive_.MakeZipExtraField("TEXT", "ttxt", "")->AsData()));
  }
  Open(members);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].replacing) fixtures::WriteFile(out_ / members[i].name, "old");
  }
  const std::vector<Extracted> got = ExtractAll(archive_, out_);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::to_string(c.length) + (c.replacing ? " replacing" : " new") +
                 (c.fork ? " with a fork" : " with type and creator"));
    const fs::path file = out_ / members[i].name;
    EXPECT_EQ(got[i].message, c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(fs::exists(file) ? fixtures::ReadFile(file) : "", c.replacing ? "old" : "");
      continue;
    }
    EXPECT_EQ(fixtures::ReadFile(file), "data");
    // Where no sidecar name exists, type and creator cannot be kept.
    const std::string typeCreator = c.length > 253 ? "" : c.fork ? "APPLVnta" : "TEXTttxt";
    EXPECT_EQ(FolderItem(file).MacType() + FolderItem(file).MacCreator(), typeCreator);
    EXPECT_EQ(RsrcFork(file), c.fork ? "fork" : "");
  }
  for (const auto& e : fs::directory_iterator(out_)) {
    EXPECT_FALSE(e.path().filename().string().starts_with(".vantora-")) << e.path();
  }
}

// A rename that fails while the new file and its fork are put in place
// leaves the old file with its own data and fork, and nothing beside it.
TEST_F(MacExtractTest, AFailedRenameKeepsTheOldFileAndItsFork) {
  Open({Member("tool", OurMacBinary("new data", "new fork"))});
  // The fork's failure says so; the file's is the file's.
  for (const auto& [failing, message] : {std::pair{"._tool", kOpenRsrc}, {"tool", kCreateFailed}}) {
    SCOPED_TRACE(failing);
    const fs::path out = dir_ / (std::string("failing") + failing);
    fs::create_directories(out);
    fixtures::WriteFile(out / "tool", "old data");
    zip::RsrcForkWriter fork{FolderItem(out / "tool")};
    ASSERT_TRUE(fork.Open() && fork.Write("old fork") && fork.Close());
    const auto before = Snapshot(out, true);
    failRenameTo = failing;
    const std::vector<Extracted> got = ExtractAll(archive_, out);
    failRenameTo.clear();
    EXPECT_EQ(got.at(0).message, message);
    EXPECT_EQ(Snapshot(out, true), before);
    EXPECT_EQ(RsrcFork(out / "tool"), "old fork");
  }
}

// A look at a name that fails, wherever it comes, or every look at one name,
// is never taken for nothing there: a member is then in place whole, with its
// fork, or fails and leaves what stood there with its own; and a "._" file
// of the user's, or one the job extracted, and a locked file stay.
TEST_F(MacExtractTest, AFailedLookIsNeverTakenForNothingThere) {
  const std::string appleDouble = fixtures::AppleDoubleHeader({});
  Open({Member("tool", OurMacBinary("new data", "new fork")), Member("._b.txt", appleDouble),
        Member("b.txt", "new b"), Member("other", OurMacBinary("new other", "other fork")),
        Member("locked", "new locked")});
  std::set<std::string> names;
  // Each run fails the looks that `fails` picks, and says whether any was.
  const auto run = [&](const std::string& what, const std::function<bool(const char*)>& fails) {
    SCOPED_TRACE(what);
    const fs::path out = dir_ / what;
    fs::create_directories(out);
    fixtures::WriteFile(out / "tool", "old data");
    zip::RsrcForkWriter fork{FolderItem(out / "tool")};
    EXPECT_TRUE(fork.Open() && fork.Write("old fork") && fork.Close());
    fixtures::WriteFile(out / "._other", "not AppleDouble");
    fixtures::WriteFile(out / "locked", "old locked");
    fs::permissions(out / "locked", fs::perms(0444));
    bool failed = false;
    fixtures::lookFails = [&](int, const char* name) {
      names.insert(name);
      return fails(name) && (failed = true) ? EIO : 0;
    };
    const std::vector<Extracted> got = ExtractAll(archive_, out);
    fixtures::lookFails = nullptr;
    const std::string tool = fixtures::ReadFile(out / "tool") + " " + RsrcFork(out / "tool");
    EXPECT_TRUE(tool == "old data old fork" ||
                (tool == "new data new fork" && got[0].message.empty()))
        << tool;
    if (got[1].message.empty()) {
      EXPECT_EQ(fixtures::ReadFile(out / "._b.txt"), appleDouble);
    }
    EXPECT_EQ(fixtures::ReadFile(out / "._other"), "not AppleDouble");
    EXPECT_EQ(fixtures::ReadFile(out / "locked"), "old locked");
    return failed;
  };
  for (int look = 0;; ++look) {
    int looks = 0;
    if (!run("look " + std::to_string(look), [&](const char*) { return looks++ == look; })) break;
  }
  for (const std::string& name : std::set<std::string>(names)) {
    run("every look at " + name, [&](const char* looked) { return name == looked; });
  }
}

// Where the file system knows no rename that refuses to replace, the Mac
// name is still given, in ways that cannot replace anything either; where
// none is possible, the item keeps its archive name and the entry says so.
TEST_F(MacExtractTest, TheMacNameIsGivenWithoutARenameThatRefusesToReplace) {
  auto macNamed = [&](const std::string& stored, const std::string& macName) {
    return Member(stored, stored.ends_with("/") ? "" : "data",
                  archive_.MakeZipExtraField("TEXT", "ttxt", macName)->AsData());
  };
  Open({macNamed("A-C", "A\\C"), macNamed("F-D/", "F\\D"), macNamed("T-E", "T\\E")});
  struct Case {
    const char* what;
    bool links;
    std::vector<std::string> names;  // what the folder holds afterwards, sidecars too
    std::string fileMessage;         // the file entry's message, though it succeeds
  };
  const std::vector<Case> cases = {
      {"hard links", true, {"._A\\C", "._T-E", "A\\C", "F\\D", "T-E", "T\\E"}, ""},
      {"no hard links",
       false,
       {"._A-C", "._T-E", "A-C", "F\\D", "T-E", "T\\E"},
       "The extracted item could not be given its Mac name: Operation not permitted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path out = dir_ / c.what;
    fs::create_directories(out);
    fixtures::WriteFile(out / "T\\E", "taken");
    noReplaceRefused = true;
    linksRefused = !c.links;
    const std::vector<Extracted> got = ExtractAll(archive_, out);
    noReplaceRefused = linksRefused = false;
    for (const Extracted& e : got) EXPECT_EQ(e.message, "") << e.rawPath;
    EXPECT_EQ(archive_.Entry(1)->ErrorMessage(), c.fileMessage);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(fixtures::ReadFile(out / "T\\E"), "taken");
  }
}

}  // namespace

// Extraction renames within the folder it holds open, other code by path.
extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) noexcept {
  if (!failRenameTo.empty() && std::filesystem::path(to).filename() == failRenameTo) {
    errno = EIO;
    return -1;
  }
  return ::renameat2(fromFolder, from, toFolder, to, 0);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to,
                      int flags) noexcept {
  if (linksRefused) {
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_linkat, fromFolder, from, toFolder, to, flags));
}
