// Archives in the ditto layout: "__MACOSX/" folders dropped and "._"
// companions paired with their data entries, kept aside in read order.
#include <gtest/gtest.h>

#include "zip_test_util.h"

using fixtures::RawArchive;
using fixtures::RawMember;
using fixtures::TempDir;
using zip::ZipArchive;
using ziptest::Names;

TEST(DittoPairing, PythonMadeDittoArchive) {
  TempDir dir;
  ASSERT_EQ(fixtures::Run("python3 " + fixtures::Quote(fixtures::PythonArchiveScript()) +
                          " ditto " + fixtures::Quote(dir / "ditto.zip")),
            0);
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "ditto.zip", false)) << archive.ErrorMessage();
  using V = std::vector<std::string>;
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (V{"dir/", "dir/file", "notes", "._orphan"}));
  EXPECT_TRUE(archive.UsesAppleDittoFormat());
  auto file = archive.Entry(2);
  ASSERT_NE(file->AppleDoubleEntry(), nullptr);
  EXPECT_EQ(file->AppleDoubleEntry()->RawPath().bytes, "__MACOSX/dir/._file");
  EXPECT_TRUE(file->AppleDoubleEntry()->IsAppleDoubleEntry());
  EXPECT_EQ(archive.Entry(3)->AppleDoubleEntry()->RawPath().bytes, "._notes");
  EXPECT_EQ(archive.Entry(4)->AppleDoubleEntry(), nullptr);  // nothing to pair with
  EXPECT_EQ(archive.Entry(1)->AppleDoubleEntry(), nullptr);
  // Nothing is lost: what was taken out is kept in the order it was read.
  EXPECT_EQ(Names(archive.Data()->setAside, 0),
            (V{"__MACOSX/", "__MACOSX/dir/", "__MACOSX/dir/._file", "._notes"}));
}

TEST(DittoPairing, OnlyBareUnixFieldsAndTheLaterOfTwoCompanionsPair) {
  const std::string ux = fixtures::UnixType1Block(1600000000, 1600000100);
  RawArchive raw;
  raw.members.push_back(fixtures::Member("a"));
  raw.members.push_back(fixtures::Member("b"));
  raw.members.push_back(fixtures::Member("._a", "", ux));
  raw.members.push_back(fixtures::Member("__MACOSX/._a", "", ux));
  raw.members.push_back(fixtures::Member("._b", "", ux + "more"));  // not bare
  raw.members.push_back(fixtures::Member("__MACOSX/", "", ""));     // no Unix field
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build())) << archive.ErrorMessage();
  using V = std::vector<std::string>;
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (V{"a", "b", "._a", "._b", "__MACOSX/"}));
  EXPECT_EQ(archive.Entry(1)->AppleDoubleEntry()->RawPath().bytes, "__MACOSX/._a");
  EXPECT_EQ(archive.Entry(2)->AppleDoubleEntry(), nullptr);
  EXPECT_TRUE(archive.UsesAppleDittoFormat());
}

TEST(DittoPairing, NestedCompanionsPairByTheirLastComponent) {
  // Data entries whose names differ only in which component carries "._",
  // so a companion paired on the wrong "/._" lands on the wrong one.
  const std::string ux = fixtures::UnixType1Block(1, 2);
  RawArchive raw;
  for (const char* data : {"a/._b/c", "a/b/._c", "._d/f", "d/._f", "x/y", "._p/q", "p/._q"}) {
    raw.members.push_back(fixtures::Member(data));
  }
  for (const char* companion : {"a/._b/._c", "._d/._f", "__MACOSX/x/._y", "__MACOSX/._p/._q"}) {
    raw.members.push_back(fixtures::Member(companion, "", ux));
  }
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build())) << archive.ErrorMessage();
  const std::pair<const char*, const char*> pairs[] = {
      {"a/._b/c", "a/._b/._c"}, {"a/b/._c", nullptr},      {"._d/f", "._d/._f"},
      {"d/._f", nullptr},       {"x/y", "__MACOSX/x/._y"}, {"._p/q", "__MACOSX/._p/._q"},
      {"p/._q", nullptr}};
  ASSERT_EQ(archive.EntryCount(), 7);
  for (const auto& [data, companion] : pairs) {
    SCOPED_TRACE(data);
    std::int32_t i = archive.EntryIdxByRawPath(data, 1);
    ASSERT_GT(i, 0);
    const zip::ZipEntryRef& paired = archive.Entry(i)->AppleDoubleEntry();
    EXPECT_EQ(paired ? paired->RawPath().bytes : std::string(), companion ? companion : "");
  }
}

TEST(DittoPairing, ArchivesWithoutCompanionsAreLeftAlone) {
  RawArchive raw;
  raw.members.push_back(fixtures::Member("._notes", "", fixtures::UnixType1Block(1, 2)));
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build()));
  EXPECT_EQ(archive.EntryCount(), 1);
  EXPECT_FALSE(archive.UsesAppleDittoFormat());
  EXPECT_TRUE(archive.Data()->setAside.empty());
  zip::ZipArchiveData empty;
  zip::ZipArchiveData::NameIndex index;
  empty.checkDirectory(index);
  EXPECT_EQ(empty.EntryCount(), 0);
  EXPECT_FALSE(empty.dittoFormat);
}
