// Archives at the format's limits: one of 2.5 GiB whose second entry and
// directory lie past 2 GiB (the file is sparse: only the records are
// written, the rest is a hole), and one of as many members as the count holds.
#include <gtest/gtest.h>

#include "platform/binary_stream.h"
#include "zip_test_util.h"

using fixtures::RawMember;
using fixtures::TempDir;
using zip::ZipArchive;

TEST(LargeArchive, DirectoryPastTwoGibibytesOpens) {
  TempDir dir;
  const std::uint32_t second = 0x9FFFFF00u;  // just short of 2.5 GiB
  RawMember head = fixtures::Member("head.bin");
  head.compressedSize = head.uncompressedSize = second - 30 - 8;
  head.crc32 = 0;
  RawMember tail = fixtures::Member("tail.txt", "tail");
  const std::uint32_t dirStart = second + 30 + 8 + 4;
  std::string directory = fixtures::CentralRecord(head, 0) + fixtures::CentralRecord(tail, second);
  const std::string end =
      fixtures::EndRecord(0, 0, 2, 2, static_cast<std::uint32_t>(directory.size()), dirStart, 0);
  {
    auto file = platform::BinaryStream::Create(platform::ItemAt(dir / "big.zip"));
    ASSERT_NE(file, nullptr);
    file->Write(fixtures::LocalHeader(head));
    file->SetPosition(second);
    file->Write(fixtures::LocalHeader(tail) + tail.data + directory + end);
    ASSERT_FALSE(file->WriteError());
    ASSERT_GT(file->Length(), 0xA0000000LL - 0x1000);
  }
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "big.zip", true)) << archive.ErrorMessage();
  EXPECT_EQ(archive.StartOfDirectory(), static_cast<std::int64_t>(dirStart));
  EXPECT_TRUE(archive.IsWritable());
  ASSERT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(ziptest::RawPathOf(archive, 2), "tail.txt");
  // The interface's sizes stay signed 32-bit numbers, as callers expect.
  EXPECT_EQ(archive.Entry(1)->Size(), static_cast<std::int32_t>(second - 38));
  EXPECT_EQ(archive.Entry(1)->z_Header()->UInt32Value(42), 0u);
  // The second entry's local header is found where the record says.
  auto local = archive.Entry(2)->ExtraField();
  EXPECT_NE(local, nullptr) << archive.Entry(2)->ErrorMessage();
  EXPECT_EQ(archive.Entry(2)->z_Header()->UInt32Value(42), second);
}

// As many members as the end record's count can hold, the last record
// ending like a zip64 locator: the writer puts zip64 records behind the
// directory, with the count 0xFFFF in both, and the reader takes them.
TEST(LargeArchive, EveryMemberTheCountHoldsWithZip64RecordsOpens) {
  TempDir dir;
  fixtures::RawArchive raw;
  raw.members.resize(0xFFFE);
  for (std::size_t i = 0; i < raw.members.size(); ++i) raw.members[i].name = std::to_string(i);
  fixtures::WriteFile(dir / "full.zip", raw.Build());
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "full.zip", true)) << archive.ErrorMessage();
  ASSERT_EQ(ziptest::AddData(archive, "last"), 0xFFFF) << archive.ErrorMessage();
  archive.Entry(0xFFFF)->SetComment(std::string("PK\6\7", 4) + std::string(16, 'x'));
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  const std::string bytes = fixtures::ReadFile(dir / "full.zip");
  ASSERT_EQ(bytes.substr(bytes.size() - 22 - 20, 4), std::string("PK\6\7", 4));
  ASSERT_EQ(bytes.substr(bytes.size() - 22 + 8, 4), "\xFF\xFF\xFF\xFF");
  ASSERT_TRUE(archive.Open(dir / "full.zip", false)) << archive.ErrorMessage();
  ASSERT_EQ(archive.EntryCount(), 0xFFFF);
  EXPECT_EQ(ziptest::RawPathOf(archive, 0xFFFF), "last");
  EXPECT_FALSE(archive.CentralDirectoryCorrupted());
}
