// The directory reader against archives made record by record: each check in
// its order, with its message, and the bounds every offset must keep.
#include <gtest/gtest.h>

#include "platform/binary_stream.h"
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

// The end record taken is the nearest to the end of the file whose comment
// reaches that end and whose directory starts with a central record; with
// none such, the nearest, and then a writable open is refused and the file
// left as it was.
TEST(DirectoryChecks, EndRecordTakenIsTheNearestThatFitsTheFile) {
  const std::uint32_t dirStart = 2 * (30 + 5 + 5), dirSize = 2 * (46 + 5);
  // A record of another disk, quoted in the comment.
  const auto quote = [&](std::uint32_t offset, std::uint16_t commentLength) {
    return fixtures::EndRecord(1, 0, 2, 2, dirSize, offset, commentLength);
  };
  const auto with = [](auto change) {
    RawArchive a = TwoMembers();
    change(a);
    return a.Build();
  };
  RawArchive empty;
  empty.withoutLocalHeaders = true;
  RawArchive emptyElsewhere = empty;
  emptyElsewhere.directoryOffset = 0;
  struct Case {
    const char* what;
    std::string bytes;
    int entries;  // -1: refused with `message`
    const char* message;
    bool fits;
  };
  const Case cases[] = {
      {"a quote whose directory is a local header",
       with([&](RawArchive& a) { a.comment = quote(0, 0); }), 2, "", true},
      {"a quote whose comment runs past the end",
       with([&](RawArchive& a) { a.comment = quote(dirStart, 4) + "xyz"; }), 2, "", true},
      {"a quote that fits", with([&](RawArchive& a) { a.comment = quote(dirStart, 0); }), -1,
       kMultiSegment, true},
      {"bytes after the record", with([](RawArchive& a) { a.afterEnd = "junk"; }), 2, "", false},
      {"a comment past the end", with([](RawArchive& a) { a.commentLength = 1; }), 2, "", false},
      {"none fitting, the nearest: a quote", with([&](RawArchive& a) {
         a.comment = quote(dirStart, 0);
         a.afterEnd = "junk";
       }),
       -1, kMultiSegment, false},
      {"an empty directory right before the record", empty.Build(), 0, "", true},
      {"an empty directory elsewhere", emptyElsewhere.Build(), 0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.entries < 0) {
      ExpectFailsWith(c.bytes, c.message);
      continue;
    }
    TempDir dir;
    ZipArchive archive;
    ASSERT_TRUE(OpenBytes(archive, dir, c.bytes)) << archive.ErrorMessage();
    EXPECT_EQ(archive.EntryCount(), c.entries);
    archive.Close();
    EXPECT_EQ(archive.Open(dir / "test.zip", true), c.fits);
    EXPECT_EQ(archive.IsWritable(), c.fits);
    if (!c.fits) {
      EXPECT_EQ(archive.ErrorMessage(), kUnsureEnd);
      EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), c.bytes);
    }
  }
}

// The end record's own fields can spell its signature where a record could
// start within the file: 19,280 ("PK") members in a directory whose size
// ends in 0x0605, with a 12-byte comment; or a directory at 0x06054B50 with
// a 20-byte comment (the file is sparse).
TEST(DirectoryChecks, EndRecordWhoseOwnFieldsSpellItsSignature) {
  TempDir dir;
  RawArchive many;
  for (int i = 0; i < 0x4B50; ++i) many.members.push_back(fixtures::Member(std::to_string(i)));
  std::uint32_t records = 0;
  for (const RawMember& m : many.members) records += 46 + static_cast<std::uint32_t>(m.name.size());
  many.members.back().comment.assign((0x10605 - records % 0x10000) % 0x10000, 'c');
  many.comment = "twelve bytes";
  const std::string bytes = many.Build();
  ASSERT_EQ(bytes.substr(bytes.size() - 12 - 12, 4), "PK\5\6");
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, bytes)) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 0x4B50);
  EXPECT_EQ(archive.Comment(), "twelve bytes");
  archive.Close();

  const std::uint32_t dirStart = 0x06054B50;
  const RawMember member = fixtures::Member("a");
  {
    auto file = platform::BinaryStream::Create(platform::ItemAt(dir / "far.zip"));
    ASSERT_NE(file, nullptr);
    file->Write(fixtures::LocalHeader(member));
    file->SetPosition(dirStart);
    file->Write(fixtures::CentralRecord(member, 0) +
                fixtures::EndRecord(0, 0, 1, 1, 46 + 1, dirStart, 20) + std::string(20, 'c'));
    ASSERT_FALSE(file->WriteError());
  }
  ASSERT_TRUE(archive.Open(dir / "far.zip", false)) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(archive.StartOfDirectory(), dirStart);
}

// Where the end record holds a field at its all-ones escape and a zip64
// locator stands before it, the zip64 end record gives that field; the
// others must agree with it, and a value that the end record's field could
// not hold is past this reader.
TEST(DirectoryChecks, Zip64RecordsGiveTheFieldsThatTheEndRecordEscapes) {
  struct Case {
    const char* what;
    std::uint16_t disk = 0, count = 2;
    std::uint32_t size = 102, offset = 80;
    fixtures::RawZip64 zip64{};
    bool locator = true;
    const char* message = "";  // empty: opens with both members
  };
  const Case cases[] = {
      {.what = "the count", .count = 0xFFFF},
      {.what = "the size", .size = 0xFFFFFFFF},
      {.what = "the place", .offset = 0xFFFFFFFF},
      {.what = "the disk", .disk = 0xFFFF},
      // A locator that the last record's tail spells is no locator.
      {.what = "nothing escaped", .zip64 = {.entries = 7}},
      {.what = "an escape without a locator",
       .count = 0xFFFF,
       .locator = false,
       .message = kTooSmall},
      {.what = "a field that disagrees",
       .count = 0xFFFF,
       .zip64 = {.directorySize = 5},
       .message = kCorrupted},
      {.what = "a count past 16 bits",
       .count = 0xFFFF,
       .zip64 = {.entries = 0x10000},
       .message = kNewerFormat},
      {.what = "a place past 32 bits",
       .offset = 0xFFFFFFFF,
       .zip64 = {.directoryOffset = 0x100000000},
       .message = kNewerFormat},
      {.what = "a newer zip64 record",
       .count = 0xFFFF,
       .zip64 = {.versionNeeded = 46},
       .message = kNewerFormat},
      {.what = "no zip64 record where the locator points",
       .count = 0xFFFF,
       .zip64 = {.signature = 0x06054b50},
       .message = kCorrupted},
      {.what = "a zip64 record overlapping its locator",
       .count = 0xFFFF,
       .zip64 = {.recordOffset = 80 + 102 + 1},
       .message = kCorrupted},
      {.what = "a zip64 record of another disk",
       .disk = 0xFFFF,
       .zip64 = {.thisDisk = 1},
       .message = kMultiSegment},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawArchive a = TwoMembers();
    a.thisDisk = c.disk;
    a.entriesOnDisk = c.count;
    a.directorySize = c.size;
    a.directoryOffset = c.offset;
    if (c.locator) a.zip64 = c.zip64;
    if (*c.message != '\0') {
      ExpectFailsWith(a.Build(), c.message);
      continue;
    }
    TempDir dir;
    ZipArchive archive;
    ASSERT_TRUE(OpenBytes(archive, dir, a.Build(), true)) << archive.ErrorMessage();
    EXPECT_TRUE(archive.IsWritable());
    EXPECT_EQ(archive.EntryCount(), 2);
    EXPECT_FALSE(archive.CentralDirectoryCorrupted());
    EXPECT_EQ(archive.StartOfDirectory(), 80);
  }
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
  // Sizes or a place at the escape that leaves them to a zip64 extra field.
  for (int field = 0; field < 3; ++field) {
    RawArchive b = TwoMembers();
    if (field == 0) b.members[0].compressedSize = 0xFFFFFFFF;
    if (field == 1) b.members[0].uncompressedSize = 0xFFFFFFFF;
    if (field == 2) b.members[0].localOffset = 0xFFFFFFFF;
    ExpectFailsWith(b.Build(), kNewerFormat);
  }
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
