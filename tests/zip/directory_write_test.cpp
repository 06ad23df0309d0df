// Writing the central directory on Close and Flush: what a new, a changed
// and an unchanged archive look like afterwards, the AppleDouble records that
// the reader set aside, and every directory the writer must refuse.
#include <gtest/gtest.h>

#include "independent_readers.h"
#include "platform/binary_stream.h"
#include "platform/framework_exceptions.h"
#include "zip_test_util.h"

using fixtures::RawArchive;
using fixtures::TempDir;
using zip::ZipArchive;
using namespace ziptest;

namespace {

std::filesystem::path PythonArchive(const TempDir& dir, const std::string& kind) {
  const auto path = dir / (kind + ".zip");
  fixtures::Run("python3 " + fixtures::Quote(fixtures::PythonArchiveScript()) + " " + kind + " " +
                fixtures::Quote(path));
  return path;
}

}  // namespace

TEST(DirectoryWrite, NewArchiveClosesToItsSlashMember) {
  TempDir dir;
  {
    FileSizeLimit full(0);
    ZipArchive fresh;
    ASSERT_TRUE(fresh.Open(dir / "new.zip", true));
    // Left open to the destructor, whose Close cannot write a byte.
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "new.zip"));
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "new.zip", true));
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  // A 31-byte local header at 0, one 47-byte record, the end record.
  EXPECT_EQ(std::filesystem::file_size(dir / "new.zip"), 31u + 47u + 22u);
  EXPECT_TRUE(ReadersAccept(dir / "new.zip"));
  ASSERT_TRUE(archive.Open(dir / "new.zip", false));
  ASSERT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(RawPathOf(archive, 1), "/");
  EXPECT_EQ(archive.Entry(1)->CompressionMethod(), 0);
}

TEST(DirectoryWrite, FlushWritesWhatChangedAndKeepsTheArchiveOpen) {
  TempDir dir;
  const auto path = PythonArchive(dir, "unixmodes");
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path, true));
  ASSERT_TRUE(archive.Flush()) << archive.ErrorMessage();  // once after a writable open
  const std::string once = fixtures::ReadFile(path);
  EXPECT_TRUE(archive.Flush());
  EXPECT_EQ(fixtures::ReadFile(path), once);

  ASSERT_TRUE(archive.SetComment("archive note"));
  archive.Entry(2)->SetComment("member note");
  ASSERT_TRUE(archive.RemoveEntry(3));
  ASSERT_TRUE(archive.Flush());
  EXPECT_EQ(archive.EntryCount(), 2);
  // The old, longer directory is cut off behind the new end record.
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)),
            archive.StartOfDirectory() + 2 * 46 + 4 + 10 + 11 + 22 + 12);
  ASSERT_TRUE(archive.Close());
  EXPECT_TRUE(ReadersAccept(path));
  ASSERT_TRUE(archive.Open(path, false));
  EXPECT_EQ(archive.Comment(), "archive note");
  EXPECT_EQ(archive.Entry(2)->Comment().bytes, "member note");
  EXPECT_FALSE(archive.Flush());
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  archive.Close();
  ASSERT_TRUE(archive.Open(path, true));
  archive.Close();
  EXPECT_THROW(archive.Flush(), platform::RuntimeException);  // writable, but closed since
}

TEST(DirectoryWrite, AppleDoubleRecordsSetAsideAreWrittenBack) {
  TempDir dir;
  const auto path = PythonArchive(dir, "ditto");
  using V = std::vector<std::string>;
  {
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(path, true));
    ASSERT_TRUE(archive.Close());
  }
  EXPECT_TRUE(ReadersAccept(path));
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path, true));
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (V{"dir/", "dir/file", "notes", "._orphan"}));
  EXPECT_EQ(archive.Entry(2)->AppleDoubleEntry()->RawPath().bytes, "__MACOSX/dir/._file");
  EXPECT_EQ(archive.Entry(3)->AppleDoubleEntry()->RawPath().bytes, "._notes");

  // A data member removed takes its companion with it, and only that; the
  // others move along with the entries in compaction.
  ASSERT_TRUE(archive.RemoveEntry(2));
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Close());
  EXPECT_TRUE(ReadersAccept(path));
  ASSERT_TRUE(archive.Open(path, false));
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (V{"dir/", "notes", "._orphan"}));
  EXPECT_EQ(Names(archive.Data()->setAside, 0), (V{"__MACOSX/", "__MACOSX/dir/", "._notes"}));
  EXPECT_TRUE(archive.UsesAppleDittoFormat());
}

TEST(DirectoryWrite, RecordsThatCannotBeWrittenAreRefusedBeforeAnyByte) {
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("one", "1"));
  const std::string bytes = raw.Build();
  const std::string tooLong(65536, 'x');
  const struct {
    const char* what;
    std::function<void(ZipArchive&)> change;
    const char* message;
  } cases[] = {
      {"entry comment", [&](ZipArchive& a) { a.Entry(1)->SetComment(tooLong); },
       "Comment must not be longer than 65535 bytes"},
      {"extra field",
       [&](ZipArchive& a) {
         a.Entry(1)->SetExtraFieldInCentralDir(a.MakeZipExtraField(std::string(65540, 'e')));
       },
       "Extra field must not be longer than 65535 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZipArchive archive;
    ASSERT_TRUE(OpenBytes(archive, dir, bytes, true));
    c.change(archive);
    EXPECT_FALSE(archive.Close());
    EXPECT_EQ(archive.ErrorMessage(), c.message);
    EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), bytes);
  }

  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, bytes, true));
  EXPECT_FALSE(archive.SetComment(tooLong));
  EXPECT_EQ(archive.ErrorMessage(), "Comment must not be longer than 65535 bytes");
  EXPECT_EQ(archive.AddItemByStreams(nullptr, 0, nullptr, 0, nullptr, tooLong, nullptr, {}),
            ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Name must not be longer than 65535 bytes");
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), bytes);
  EXPECT_TRUE(archive.SetComment(std::string(65535, 'c')));
  EXPECT_TRUE(archive.Close());
  EXPECT_TRUE(ReadersAccept(dir / "test.zip"));
}

TEST(DirectoryWrite, TheSixtyFiveThousandFiveHundredAndThirtySixthEntryIsRefused) {
  TempDir dir;
  RawArchive raw;
  for (int i = 0; i < 65535; ++i) raw.members.push_back(fixtures::Member(std::to_string(i)));
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, raw.Build(), true));
  const std::string before = fixtures::ReadFile(dir / "test.zip");
  EXPECT_EQ(archive.AddItemByStreams(nullptr, 0, nullptr, 0, nullptr, "more", nullptr, {}),
            ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive must not hold more than 65535 entries");
  EXPECT_EQ(archive.AddFakeDuplicate(archive.Entry(1), "again", {}, nullptr),
            ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive must not hold more than 65535 entries");
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), before);
  ASSERT_TRUE(archive.RemoveEntry(1));
  EXPECT_GT(archive.AddItemByStreams(nullptr, 0, nullptr, 0, nullptr, "more", nullptr, {}), 0);
  EXPECT_TRUE(archive.Close());
}

TEST(DirectoryWrite, NothingIsWrittenThatWouldEndPastFourGibibytes) {
  // A sparse archive whose one member ends just short of 4 GiB.
  TempDir dir;
  const std::uint32_t size = 0xFFFFFF00u - 30 - 4;
  fixtures::RawMember head = fixtures::Member("head");
  head.compressedSize = head.uncompressedSize = size;
  head.crc32 = 0;
  const std::uint32_t dirStart = 30 + 4 + size;
  const std::string directory = fixtures::CentralRecord(head, 0);
  {
    auto file = platform::BinaryStream::Create(dir / "big.zip");
    ASSERT_NE(file, nullptr);
    file->Write(fixtures::LocalHeader(head));
    file->SetPosition(dirStart);
    file->Write(directory + fixtures::EndRecord(0, 0, 1, 1, 50, dirStart, 0));
    ASSERT_FALSE(file->WriteError());
  }
  const auto tail = [&] {
    auto file = platform::BinaryStream::Open(dir / "big.zip", false);
    file->SetPosition(dirStart);
    return file->Read(100);
  };
  const std::string before = tail();
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "big.zip", true)) << archive.ErrorMessage();
  // 256 bytes are left: a small entry fits, but not with the directory behind it.
  EXPECT_EQ(
      archive.AddItemByStreams(nullptr, 0, nullptr, 0, nullptr, std::string(100, 'n'), nullptr, {}),
      ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  EXPECT_FALSE(archive.SetComment(std::string(200, 'c')));
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  archive.Entry(1)->SetComment(std::string(200, 'c'));
  EXPECT_FALSE(archive.Flush());
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  EXPECT_EQ(tail(), before);
  archive.Entry(1)->SetComment("");
  ASSERT_TRUE(archive.SetComment("short"));
  EXPECT_GT(archive.AddItemByStreams(nullptr, 0, nullptr, 0, nullptr, "x", nullptr, {}), 0);
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "big.zip", false));
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.Comment(), "short");
}

TEST(DirectoryWrite, AFailedWriteIsReportedNotSaved) {
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("one", "1"));
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, raw.Build(), true));
  ASSERT_TRUE(archive.SetComment(std::string(5000, 'c')));
  {
    FileSizeLimit full(raw.Build().size() + 100);
    EXPECT_FALSE(archive.Flush());
  }
  EXPECT_EQ(archive.ErrorMessage(), "Writing the archive directory failed");
  EXPECT_TRUE(archive.Close()) << archive.ErrorMessage();  // still to be written, and now it is
  EXPECT_TRUE(ReadersAccept(dir / "test.zip"));
}
