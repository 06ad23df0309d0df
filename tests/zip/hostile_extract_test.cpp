// Hostile and damaged archives extracted into a root that already holds a
// link leading out of it, a file and a folder of the user's. Each member is
// written where it belongs or fails with its message, and nothing outside the
// root is ever created, changed or removed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
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
};

// A MacBinary header whose two dates and Finder flags all need the sidecar.
std::string MacBinaryWithDates() {
  const auto h = zip::ZipArchive().MakeMacBinaryHeader(
      0, 0, "Root", "TEXT", "ttxt", platform::Date::FromFields(2001, 2, 3, 4, 5, 6),
      platform::Date::FromFields(2011, 2, 3, 4, 5, 6));
  return h->Bytes();
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
  return {
      {"dot-dot",
       {Member("../evil", "x"), Member("a/../../evil", "x"), Member("a/../inside.txt", "in")},
       {kNoDestination, kNoDestination, ""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "inside.txt"), "in"); }},
      {"absolute path lands in the root",
       {Member("/abs/x.txt", "x"), Member("//y.txt", "y")},
       {"", ""},
       [](const fs::path& root) { EXPECT_EQ(fixtures::ReadFile(root / "abs/x.txt"), "x"); }},
      {"link member, then a member through it",
       {UnixMode(Member("ln", "../outside"), 0120777), Member("ln/evil", "x")},
       {"", kCreateFailed},
       [](const fs::path& root) {
         EXPECT_TRUE(S_ISREG(ModeOf(root / "ln")));
         EXPECT_EQ(fixtures::ReadFile(root / "ln"), "../outside");
       }},
      {"link already on disk",
       {Member("escape/evil", "x"), Member("escape", "replaced")},
       {kNoDestination, ""},
       [](const fs::path& root) { EXPECT_TRUE(S_ISREG(ModeOf(root / "escape"))); }},
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
      {"wrong CRC-32 in both headers",
       {With(Member("s.txt", "stored"), [](RawMember& m) { m.crc32 = 0x12345678; }),
        With(Deflated("d.txt", lie), [](RawMember& m) { m.crc32 = 0x12345678; })},
       {kDataCorrupted, "An error -3 occured while deflation"}},
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
  };
}

TEST(HostileExtractTest, EveryMemberLandsInsideTheRootOrFailsWithItsMessage) {
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
    const auto before = Snapshot(outside);

    fixtures::RawArchive raw;
    raw.members = c.members;
    fixtures::WriteFile(base / "a.zip", raw.Build());
    zip::ZipArchive archive;
    ASSERT_TRUE(archive.Open(base / "a.zip", false)) << archive.ErrorMessage();
    const std::vector<Extracted> got = ExtractAll(archive, root);
    ASSERT_EQ(got.size(), c.messages.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].message, c.messages[i]) << i;
    c.check(root);

    EXPECT_EQ(Snapshot(outside), before);
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(base.path())) top.push_back(e.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"a.zip", "outside", "root"}));
    for (const auto& e : fs::directory_iterator(root)) {
      EXPECT_EQ(e.path().filename().string().find(".vantora-"), std::string::npos)
          << "a staged file was left behind";
    }
  }
}

}  // namespace
