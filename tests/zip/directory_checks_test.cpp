// The directory reader against archives made record by record: each check in
// its order, with its message, and the bounds every offset must keep.
#include <gtest/gtest.h>

#include "platform/framework_exceptions.h"
#include "zip_test_util.h"

using fixtures::RawArchive;
using fixtures::RawMember;
using fixtures::TempDir;
using zip::ZipArchive;
using namespace ziptest;

namespace {

RawArchive TwoMembers() {
  RawArchive a;
  a.members.push_back(fixtures::Member("a.txt", "alpha"));
  a.members.push_back(fixtures::Member("b.txt", "bravo"));
  return a;
}

void ExpectFailsWith(const std::string& bytes, const std::string& message) {
  TempDir dir;
  ZipArchive archive;
  EXPECT_FALSE(OpenBytes(archive, dir, bytes)) << message;
  EXPECT_EQ(archive.ErrorMessage(), message);
  EXPECT_FALSE(archive.IsOpen());
  EXPECT_THROW(archive.EntryCount(), platform::RuntimeException);
}

}  // namespace

TEST(DirectoryChecks, WellFormedArchiveOpensWithEveryRecordInOrder) {
  TempDir dir;
  ZipArchive archive;
  RawArchive a = TwoMembers();
  a.comment = "archive comment";
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build())) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(RawPathOf(archive, 1), "a.txt");
  EXPECT_EQ(RawPathOf(archive, 2), "b.txt");
  EXPECT_EQ(archive.Comment(), "archive comment");
  EXPECT_EQ(archive.ErrorMessage(), "");
}

TEST(DirectoryChecks, FileStartAndEndRecordSearch) {
  // Not starting with a local header: refused before anything else.
  std::string bytes = TwoMembers().Build();
  bytes[0] = 'X';
  ExpectFailsWith(bytes, kNotAZip);
  ExpectFailsWith("", kNotAZip);
  ExpectFailsWith("PK", kNotAZip);
  // Shorter than an end record, but with the signature: no directory.
  ExpectFailsWith(std::string("PK\x03\x04", 4) + "0123456789", kNoDirectory);
  // End record signature damaged.
  bytes = TwoMembers().Build();
  bytes[bytes.size() - 22] = 'Q';
  ExpectFailsWith(bytes, kNoDirectory);
}

TEST(DirectoryChecks, EndRecordIsFoundUpToTheLongestCommentAndNoFurther) {
  TempDir dir;
  // A 65,535-byte comment: the record starts 65,557 bytes before the end.
  RawArchive a = TwoMembers();
  a.comment = std::string(65535, 'c');
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build())) << archive.ErrorMessage();
  EXPECT_EQ(archive.Comment().size(), 65535u);
  archive.Close();

  // The comment length says 0 but other bytes follow the record: the search
  // window still reaches a record starting 65,582 bytes before the end...
  RawArchive b = TwoMembers();
  b.afterEnd = std::string(65582 - 22, 'z');
  ASSERT_TRUE(OpenBytes(archive, dir, b.Build())) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 2);
  archive.Close();
  // ...but not one starting 65,583 bytes before it.
  b.afterEnd.push_back('z');
  ExpectFailsWith(b.Build(), kNoDirectory);
}

TEST(DirectoryChecks, NearestSignatureToTheEndWinsEvenInsideAComment) {
  RawArchive inner = TwoMembers();
  // A fake end record inside the comment claims another disk.
  std::string fake = fixtures::EndRecord(1, 0, 0, 0, 0, 0, 0);
  inner.comment = fake;
  ExpectFailsWith(inner.Build(), kMultiSegment);
}

TEST(DirectoryChecks, EndRecordChecksComeInTheirOrder) {
  RawArchive a = TwoMembers();
  a.thisDisk = 1;
  ExpectFailsWith(a.Build(), kMultiSegment);
  a = TwoMembers();
  a.directoryDisk = 2;
  ExpectFailsWith(a.Build(), kMultiSegment);
  a = TwoMembers();
  a.entriesOnDisk = 2;
  a.entriesTotal = 3;
  ExpectFailsWith(a.Build(), kMultiSegment);
  // A size too small for the count is refused before the directory's place
  // is looked at.
  a = TwoMembers();
  a.directorySize = 91;
  a.directoryOffset = 0x7FFFFFF0;
  ExpectFailsWith(a.Build(), kTooSmall);
}

TEST(DirectoryChecks, DirectoryMustLieInsideTheFileBeforeTheEndRecord) {
  RawArchive a = TwoMembers();
  a.directoryOffset = 0xFFFFFF00u;  // far past the end; unsigned, not negative
  ExpectFailsWith(a.Build(), kCorrupted);
  a = TwoMembers();
  a.directorySize = 5000;  // runs over the end record and past the file
  ExpectFailsWith(a.Build(), kCorrupted);
  a = TwoMembers();
  std::string built = a.Build();
  a.directorySize = static_cast<std::uint32_t>(built.size());  // claims the whole file
  a.directoryOffset = 0;
  ExpectFailsWith(a.Build(), kCorrupted);
}

TEST(DirectoryChecks, RecordsAndTheirFieldsMustLieInsideTheDirectory) {
  // The last record cut short: its 46 bytes are not all in the directory.
  RawArchive a = TwoMembers();
  a.entriesOnDisk = 1;
  a.directorySize = static_cast<std::uint32_t>(46 + 5 + 30);
  ExpectFailsWith(a.Build(), kCorrupted);
  // A name, extra field or comment length reaching out of the directory.
  for (int field = 0; field < 3; ++field) {
    RawArchive b = TwoMembers();
    if (field == 0) b.members[1].nameLength = 400;
    if (field == 1) b.members[1].extraLength = 400;
    if (field == 2) b.members[1].commentLength = 400;
    ExpectFailsWith(b.Build(), kCorrupted);
  }
  // A record without its signature.
  RawArchive c = TwoMembers();
  c.afterDirectory = std::string(46, '\0');
  ExpectFailsWith(c.Build(), kCorrupted);
}

TEST(DirectoryChecks, VersionNeededAboveTwentyIsRefusedAndNothingStaysOpen) {
  RawArchive a = TwoMembers();
  a.members[1].versionNeeded = 21;
  ExpectFailsWith(a.Build(), kNewerFormat);
  a.members[1].versionNeeded = 0x0314;  // a host byte in the high half
  ExpectFailsWith(a.Build(), kNewerFormat);
  a.members[1].versionNeeded = 20;
  TempDir dir;
  ZipArchive archive;
  EXPECT_TRUE(OpenBytes(archive, dir, a.Build()));
}

TEST(DirectoryChecks, EachDirectoryFaultKeepsItsOwnStateAndOpensReadOnly) {
  RawArchive overcounted;
  for (int i = 0; i < 3; ++i) overcounted.members.push_back(fixtures::Member(""));
  overcounted.withoutLocalHeaders = true;
  overcounted.entriesOnDisk = 2;
  overcounted.directorySize = 138;
  RawArchive reaching = TwoMembers();
  reaching.members[1].compressedSize = 500;  // its data would run into the directory
  // The second local header's own extra field, longer than its record's,
  // places its data in the directory.
  std::string longLocalExtra = TwoMembers().Build();
  longLocalExtra[40 + 28] = 10;
  // A header that cannot be read whole runs into the directory too.
  RawArchive headerPastTheEnd = TwoMembers();
  headerPastTheEnd.members[1].localOffset = 0xFFFFFF00u;
  struct Case {
    const char* what;
    std::string bytes;
    int entries;
    bool overcounted, reaching;
  };
  // The sound archive comes last: nothing of the earlier opens may stay.
  const Case cases[] = {
      {"more records than counted", overcounted.Build(), 3, true, false},
      {"data reaching into the directory", reaching.Build(), 2, false, true},
      {"a local extra field reaching into the directory", longLocalExtra, 2, false, true},
      {"a local header past the end of the file", headerPastTheEnd.Build(), 2, false, true},
      {"sound", TwoMembers().Build(), 2, false, false}};
  TempDir dir;
  ZipArchive archive;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(OpenBytes(archive, dir, c.bytes, /*writable=*/true)) << archive.ErrorMessage();
    EXPECT_EQ(archive.EntryCount(), c.entries);
    EXPECT_EQ(archive.CentralDirectoryCorrupted(), c.overcounted);
    EXPECT_EQ(archive.EntriesReachIntoDirectory(), c.reaching);
    EXPECT_EQ(archive.IsWritable(), !c.overcounted && !c.reaching);
    archive.Close();
  }
}

TEST(DirectoryChecks, FewerRecordsThanCountedReadsOnUntilTheSizeIsUsed) {
  RawArchive a = TwoMembers();
  a.entriesOnDisk = 3;
  a.afterDirectory = std::string(46, 'x');  // the size covers a third "record"
  ExpectFailsWith(a.Build(), kCorrupted);
  RawArchive b = TwoMembers();
  b.entriesOnDisk = 1;  // the size, not the count, ends the loop
  b.directorySize = static_cast<std::uint32_t>(2 * 46 + 10);
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, b.Build())) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_TRUE(archive.CentralDirectoryCorrupted());
}

TEST(DirectoryChecks, EmptyDirectoryOpensWithNoEntries) {
  RawArchive a;
  a.withoutLocalHeaders = true;
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build())) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_EQ(archive.StartOfDirectory(), 30);
}

TEST(DirectoryChecks, SameNameUpToTrailingSlashKeepsBothEntries) {
  RawArchive a;
  a.members.push_back(fixtures::Member("thing/"));
  a.members.push_back(fixtures::Member("thing", "x"));
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build())) << archive.ErrorMessage();
  ASSERT_EQ(archive.EntryCount(), 2);
  EXPECT_TRUE(archive.Entry(1)->IsDirectory());
  EXPECT_FALSE(archive.Entry(2)->IsDirectory());
}
