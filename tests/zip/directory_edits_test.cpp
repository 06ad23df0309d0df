// Edits of the in-memory directory: removing, replacing, the comment, mark
// and rollback, and a second name for an entry's data.
#include <gtest/gtest.h>

#include "independent_readers.h"
#include "platform/framework_exceptions.h"
#include "zip_test_util.h"

using fixtures::TempDir;
using platform::Date;
using zip::ZipArchive;
using namespace ziptest;

namespace {

std::string ThreeMembers() {
  fixtures::RawArchive raw;
  for (const char* name : {"one", "two", "three"})
    raw.members.push_back(fixtures::Member(name, name));
  return raw.Build();
}

}  // namespace

TEST(DirectoryEdits, RemoveAndReplace) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, ThreeMembers(), true));
  EXPECT_THROW(archive.RemoveEntry(0), platform::OutOfBoundsException);
  archive.Mark();
  EXPECT_THROW(archive.RemoveEntry(4), platform::OutOfBoundsException);
  EXPECT_TRUE(archive.Marked());  // a refused index changes nothing
  EXPECT_TRUE(archive.RemoveEntry(2));
  EXPECT_FALSE(archive.Marked());
  EXPECT_EQ(RawPathOf(archive, 2), "three");

  zip::ZipEntryRef one = archive.Entry(1);
  zip::ZipEntryRef three = archive.Entry(2);
  EXPECT_EQ(archive.ReplaceEntry(1, three), one);
  EXPECT_EQ(archive.ReplaceEntry(1, nullptr), nullptr);
  EXPECT_EQ(archive.ErrorMessage(), "no entry reference given");
  ZipArchive other;
  ASSERT_TRUE(OpenBytes(other, dir, ThreeMembers(), false, "other.zip"));
  EXPECT_EQ(archive.ReplaceEntry(1, other.Entry(1)), nullptr);
  EXPECT_EQ(archive.AddFakeDuplicate(other.Entry(1), "x", std::nullopt, nullptr), 0);
  EXPECT_EQ(archive.ErrorMessage(), "Entry belongs to another archive");
  EXPECT_THROW(archive.ReplaceEntry(3, one), platform::OutOfBoundsException);
  EXPECT_EQ(archive.ReplaceEntry(2, one), three);
  EXPECT_TRUE(ClosedAndAccepted(archive));
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (std::vector<std::string>{"three", "one"}));

  // Read-only: refused whatever the index, nothing changes.
  EXPECT_FALSE(archive.RemoveEntry(0));
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  EXPECT_EQ(archive.ReplaceEntry(1, one), nullptr);
  EXPECT_FALSE(archive.SetComment("x"));
  EXPECT_EQ(archive.Comment(), "");
  EXPECT_EQ(archive.EntryCount(), 2);
  archive.Close();

  // An entry made for the archive on a record of zeros is written whole.
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  const zip::ZipExtraFieldRef field = archive.MakeZipExtraField("TEXT", "ttxt", "");
  field->Lock();
  ASSERT_NE(archive.ReplaceEntry(
                1, std::make_shared<zip::ZipEntry>(archive.Data(), nullptr, "made", field, "")),
            nullptr);
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "test.zip", false)) << archive.ErrorMessage();
  EXPECT_EQ(RawPathOf(archive, 1), "made");
  EXPECT_EQ(archive.Entry(1)->ExtraFieldInCentralDir()->AsData().size(), 16u);
}

TEST(DirectoryEdits, MarkAndRollback) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, ThreeMembers(), true));
  EXPECT_FALSE(archive.Rollback());  // never marked
  const std::int64_t start = archive.StartOfDirectory();
  archive.Mark();
  EXPECT_TRUE(archive.Rollback());  // nothing since
  ASSERT_GT(AddData(archive, "a"), 0);
  ASSERT_GT(AddData(archive, "b"), 0);
  ASSERT_TRUE(archive.Flush());
  EXPECT_TRUE(archive.Rollback());
  EXPECT_EQ(archive.EntryCount(), 3);
  EXPECT_EQ(archive.StartOfDirectory(), start);
  ASSERT_GT(AddData(archive, "c"), 0);
  EXPECT_TRUE(archive.Rollback());  // the same mark again
  ASSERT_TRUE(archive.Close());
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), ThreeMembers());
  EXPECT_FALSE(archive.Rollback());  // closing dropped the mark

  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  archive.Mark();
  ASSERT_GT(AddData(archive, "d"), 0);
  ASSERT_TRUE(archive.RemoveEntry(4));
  EXPECT_FALSE(archive.Rollback());  // a removal cannot be undone
  archive.Close();

  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  archive.Mark();
  EXPECT_FALSE(archive.Rollback());
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
}

TEST(DirectoryEdits, FakeDuplicateSharesTheDataOfItsEntry) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, ThreeMembers(), true));
  const zip::ZipEntryRef two = archive.Entry(2);
  ASSERT_TRUE(archive.Flush());  // nothing left to write but what follows
  const Date date = Date::FromFields(2007, 3, 15, 14, 30, 46);
  ASSERT_EQ(archive.AddFakeDuplicate(two, "copy of two", date, nullptr), 4);
  const platform::MemoryBlock& h = *archive.Entry(4)->z_Header();
  EXPECT_EQ(h.UInt16Value(8), 8);  // flag bit 3
  EXPECT_EQ(h.UInt16Value(12), 0x73D7);
  EXPECT_EQ(h.UInt16Value(14), 0x366F);
  EXPECT_EQ(h.StringValue(16, 12), two->z_Header()->StringValue(16, 12));  // CRC and sizes
  EXPECT_TRUE(archive.Data()->isFakeEntry(h, -1));
  ASSERT_EQ(archive.AddFakeDuplicate(two, "old", Date::FromFields(1975, 3, 15, 0, 0, 0),
                                     archive.MakeZipExtraField("TEXT", "ttxt", "")),
            5);
  EXPECT_EQ(archive.Entry(5)->z_Header()->UInt16Value(14), 111);  // 1980 at the earliest
  ASSERT_TRUE(archive.Close());

  // Compaction moves their shared data once, and takes the duplicates'
  // records as matching the local header.
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  ASSERT_EQ(archive.EntryCount(), 5);
  EXPECT_EQ(RawPathOf(archive, 4), "copy of two");
  EXPECT_EQ(archive.Entry(5)->ExtraFieldInCentralDir()->AsData().size(), 16u);
  ASSERT_TRUE(archive.RemoveEntry(1));
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  for (int i : {1, 3, 4}) EXPECT_EQ(archive.Entry(i)->z_Header()->UInt32Value(42), 0u) << i;
  // Once the entry they copy is gone, a duplicate alone still passes for the
  // header, and its data stays readable.
  ASSERT_TRUE(archive.RemoveEntry(1));
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();

  EXPECT_EQ(archive.AddFakeDuplicate(nullptr, "x", std::nullopt, nullptr), 0);
  EXPECT_EQ(archive.ErrorMessage(), "no entry reference given");
  EXPECT_EQ(archive.AddFakeDuplicate(two, "", std::nullopt, nullptr), -50);
  EXPECT_EQ(archive.ErrorMessage(), "Name must not be empty");
  EXPECT_TRUE(archive.Close());
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  EXPECT_TRUE(archive.Entry(archive.EntryIdxByRawPath("copy of two", 1))->Verify());
  archive.Close();

  // A duplicate of the last member before the directory, under a longer name
  // than the header it shares: the archive still reopens writable.
  ASSERT_TRUE(OpenBytes(archive, dir, ThreeMembers(), true));
  ASSERT_EQ(archive.AddFakeDuplicate(archive.Entry(3), "copy of three", std::nullopt, nullptr), 4);
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  EXPECT_TRUE(archive.IsWritable());
  EXPECT_FALSE(archive.EntriesReachIntoDirectory());
  ASSERT_TRUE(archive.RemoveEntry(3)) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  EXPECT_EQ(Names(archive.Data()->entries_1, 1),
            (std::vector<std::string>{"one", "two", "copy of three"}));
  EXPECT_TRUE(archive.Entry(3)->Verify());
}
