// Writing the central directory on Close and Flush: what a new, a changed
// and an unchanged archive look like afterwards, the AppleDouble records that
// the reader set aside, and every directory the writer must refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "independent_readers.h"
#include "platform/binary_stream.h"
#include "platform/framework_exceptions.h"
#include "zip_test_util.h"

using fixtures::RawArchive;
using fixtures::TempDir;
using platform::FolderItem;
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
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // A 31-byte local header at 0, one 47-byte record, the end record.
  EXPECT_EQ(std::filesystem::file_size(dir / "new.zip"), 31u + 47u + 22u);
  ASSERT_TRUE(archive.Open(dir / "new.zip", false));
  ASSERT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(RawPathOf(archive, 1), "/");
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

  // A failed write is reported and leaves the directory still to be written.
  ASSERT_TRUE(archive.SetComment(std::string(5000, 'c')));
  {
    FileSizeLimit full(once.size() + 100);
    EXPECT_FALSE(archive.Flush());
  }
  EXPECT_EQ(archive.ErrorMessage(), "Writing the archive directory failed");
  ASSERT_TRUE(archive.Flush());
  EXPECT_EQ(std::filesystem::file_size(path), once.size() + 5000);

  ASSERT_TRUE(archive.SetComment("archive note"));
  archive.Entry(2)->SetComment("member note");
  ASSERT_TRUE(archive.RemoveEntry(3));
  ASSERT_TRUE(archive.Flush());
  // The old, longer directory is cut off behind the new end record.
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)),
            archive.StartOfDirectory() + 2 * 46 + 4 + 10 + 11 + 22 + 12);
  EXPECT_TRUE(ClosedAndAccepted(archive));
  ASSERT_TRUE(archive.Open(path, false));
  EXPECT_EQ(archive.Comment(), "archive note");
  EXPECT_EQ(archive.Entry(2)->Comment().bytes, "member note");
  EXPECT_FALSE(archive.Flush());
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  archive.Close();

  // An add writes over the old directory; a Close that then cannot write
  // the new one keeps the archive open with every member until it can.
  ASSERT_TRUE(archive.Open(path, true));
  std::vector<std::string> names = Names(archive.Data()->entries_1, 1);
  ASSERT_GT(AddData(archive, "late"), 0);
  names.push_back("late");
  {
    FileSizeLimit full(static_cast<rlim_t>(archive.StartOfDirectory()) + 10);
    EXPECT_FALSE(archive.Close());
  }
  EXPECT_EQ(archive.ErrorMessage(), "Writing the archive directory failed");
  EXPECT_TRUE(ClosedAndAccepted(archive));
  EXPECT_THROW(archive.Flush(), platform::RuntimeException);  // writable, but closed since
  ASSERT_TRUE(archive.Open(path, false));
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), names);
}

// The companions the reader set aside go back into the directory, and move
// along in compaction; one whose data member is removed goes with it.
TEST(DirectoryWrite, AppleDoubleRecordsSetAsideAreWrittenBack) {
  TempDir dir;
  const auto path = PythonArchive(dir, "ditto");
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path, true));
  ASSERT_EQ(RawPathOf(archive, 2), "dir/file");
  ASSERT_TRUE(archive.RemoveEntry(2));
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  EXPECT_TRUE(ClosedAndAccepted(archive));
  ASSERT_TRUE(archive.Open(path, false));
  using V = std::vector<std::string>;
  EXPECT_EQ(Names(archive.Data()->entries_1, 1), (V{"dir/", "notes", "._orphan"}));
  EXPECT_EQ(Names(archive.Data()->setAside, 0), (V{"__MACOSX/", "__MACOSX/dir/", "._notes"}));
}

// Lengths the records cannot hold are refused when they are set, before an
// added entry could have written over the old directory, and nothing
// changes. Records that end like a zip64 locator are taken, and read.
TEST(DirectoryWrite, RecordsThatCannotBeWrittenAreRefusedBeforeAnyByte) {
  constexpr char kEndSignatureInComment[] =
      "Comment must not contain the end of central directory signature ('PK\\5\\6')";
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("one", "1"));
  const std::string bytes = raw.Build();
  const std::string tooLong(65536, 'x');
  // The end record is found by its signature nearest the end of the file, so
  // a comment holding one hides the real record; so does a comment whose
  // length field (0x4B50, "PK") and first bytes spell it.
  const std::string endRecord = "see " + fixtures::EndRecord(0, 0, 0, 0, 0, 0, 0);
  const std::string endAcrossLength = "\x05\x06" + std::string(0x4B50 - 2, 'c');
  // Readers take the 20 bytes before the end record for a zip64 locator when
  // they begin with its signature, and any record may come to end there.
  const std::string locator =
      "PK\x06\x07"
      "0123456789abcdef";
  const std::string taken = "taken", shared = "taken, its data shared";  // outside readers refuse
  const struct {
    const char* what;
    std::function<std::string(ZipArchive&)> change;  // the message it was refused with
    std::string message;
  } cases[] = {
      {"entry comment",
       [&](ZipArchive& a) {
         return a.Entry(1)->SetComment(tooLong) ? taken : a.Entry(1)->ErrorMessage();
       },
       "Comment must not be longer than 65535 bytes"},
      {"extra field",
       [&](ZipArchive& a) {
         return a.Entry(1)->SetExtraFieldInCentralDir(a.MakeZipExtraField(std::string(65540, 'e')))
                    ? taken
                    : a.Entry(1)->ErrorMessage();
       },
       "Extra field must not be longer than 65535 bytes"},
      {"archive comment",
       [&](ZipArchive& a) { return a.SetComment(tooLong) ? taken : a.ErrorMessage(); },
       "Comment must not be longer than 65535 bytes"},
      {"archive comment holding an end record",
       [&](ZipArchive& a) { return a.SetComment(endRecord) ? taken : a.ErrorMessage(); },
       kEndSignatureInComment},
      {"archive comment whose length begins an end record signature",
       [&](ZipArchive& a) { return a.SetComment(endAcrossLength) ? taken : a.ErrorMessage(); },
       kEndSignatureInComment},
      {"name", [&](ZipArchive& a) { return AddData(a, tooLong) > 0 ? taken : a.ErrorMessage(); },
       "Name must not be longer than 65535 bytes"},
      {"entry comment ending like a zip64 locator",
       [&](ZipArchive& a) {
         return a.Entry(1)->SetComment("note " + locator) ? taken : a.Entry(1)->ErrorMessage();
       },
       taken},
      // The directory goes out 1 MiB at a time, each piece before the record
      // that would take it past that, so the last record is still at hand.
      {"entry comment ending like a zip64 locator in a directory of more than 1 MiB",
       [&](ZipArchive& a) {
         bool set = true;
         for (int i = 1; i <= 16; ++i) {
           set = set && (i == 1 || AddData(a, std::to_string(i)) == i) &&
                 a.Entry(i)->SetComment(i < 16 ? std::string(65535, 'c')
                                               : std::string(65515, 'c') + locator);
         }
         return set ? taken : a.ErrorMessage();
       },
       taken},
      // Name, extra and comment shorter than 20 bytes leave the attributes there.
      {"extra field completing a locator that the attributes begin",
       [&](ZipArchive& a) {
         zip::ZipEntry& e = *a.Entry(1);
         e.SetExternalFileAttributes(0x07064B50);  // a record setter checks nothing
         return e.SetExtraFieldInCentralDir(a.MakeZipExtraField(std::string("ff\5\0extra", 9)))
                    ? taken
                    : e.ErrorMessage();
       },
       taken},
      // Until the directory is written, the record holds the comment length
      // written last, here "PK" in front of a disk field of 0x0706.
      {"short comment judged by its own length, not the one written last",
       [&](ZipArchive& a) {
         zip::ZipEntry& e = *a.Entry(1);
         e.z_Header()->SetUInt32Value(32, 0x07064B50);
         const bool set = e.SetComment("abc") && e.SetComment("");
         e.z_Header()->SetUInt32Value(32, 0);
         return set ? taken : e.ErrorMessage();
       },
       taken},
      {"name of a new entry ending like a zip64 locator",
       [&](ZipArchive& a) { return AddData(a, "dir/" + locator) > 0 ? taken : a.ErrorMessage(); },
       taken},
      {"name of a duplicate ending like a zip64 locator",
       [&](ZipArchive& a) {
         return a.AddFakeDuplicate(a.Entry(1), "dir/" + locator, {}, nullptr) > 0
                    ? shared
                    : a.ErrorMessage();
       },
       shared},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZipArchive archive;
    ASSERT_TRUE(OpenBytes(archive, dir, bytes, true));
    EXPECT_EQ(c.change(archive), c.message);
    EXPECT_TRUE(archive.Close()) << archive.ErrorMessage();
    const auto path = dir / "test.zip";
    if (c.message != taken && c.message != shared) {
      EXPECT_EQ(fixtures::ReadFile(path), bytes);
    }
    EXPECT_TRUE(c.message == shared ? LibraryVerifies(path) : ReadersAccept(path));
  }
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, bytes, true));
  ASSERT_TRUE(archive.Flush());
  EXPECT_FALSE(archive.SetComment(tooLong));  // at once, not only at Close
  EXPECT_FALSE(archive.SetComment(endRecord));
  EXPECT_FALSE(archive.Data()->dirty);  // refused comments leave nothing to write
  EXPECT_TRUE(archive.SetComment(std::string(65535, 'c')));
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // One byte either way the signature begins no locator: such a comment is
  // taken, and every reader reads the archive whole.
  for (const std::string& comment : {locator + "x", locator.substr(0, 19)}) {
    ASSERT_TRUE(archive.Open(dir / "test.zip", true));
    EXPECT_TRUE(archive.Entry(1)->SetComment(comment)) << archive.Entry(1)->ErrorMessage();
    EXPECT_TRUE(ClosedAndAccepted(archive));
  }
  // The longest name and extra field a record holds (longer than unzip
  // takes) are written.
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  ASSERT_EQ(AddData(archive, std::string(65535, 'n')), 2) << archive.ErrorMessage();
  const std::string longest(65535, 'e');
  ASSERT_TRUE(archive.Entry(1)->SetExtraFieldInCentralDir(archive.MakeZipExtraField(longest)));
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  EXPECT_EQ(RawPathOf(archive, 2), std::string(65535, 'n'));
  EXPECT_EQ(archive.Entry(1)->ExtraFieldInCentralDir()->AsData(), longest);
}

TEST(DirectoryWrite, TheSixtyFiveThousandFiveHundredAndThirtySixthEntryIsRefused) {
  TempDir dir;
  RawArchive raw;
  for (int i = 0; i < 65535; ++i) raw.members.push_back(fixtures::Member(std::to_string(i)));
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, raw.Build(), true));
  const std::string before = fixtures::ReadFile(dir / "test.zip");
  EXPECT_EQ(AddData(archive, "more"), ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive must not hold more than 65535 entries");
  EXPECT_EQ(archive.AddFakeDuplicate(archive.Entry(1), "again", {}, nullptr),
            ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive must not hold more than 65535 entries");
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), before);
  ASSERT_TRUE(archive.RemoveEntry(1));
  EXPECT_GT(AddData(archive, "more"), 0);
  EXPECT_TRUE(archive.Close());
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));  // a directory of several writes
  EXPECT_EQ(archive.EntryCount(), 65535);
}

TEST(DirectoryWrite, NothingIsWrittenThatWouldEndPastFourGibibytes) {
  // A sparse archive whose one member ends just short of 4 GiB.
  TempDir dir;
  fixtures::RawMember head = fixtures::Member("head");
  head.compressedSize = head.uncompressedSize = 0xFFFFFF00u - 30 - 4;
  head.crc32 = 0;
  const std::uint32_t dirStart = 0xFFFFFF00u;
  {
    auto file = platform::BinaryStream::Create(platform::ItemAt(dir / "big.zip"));
    file->Write(fixtures::LocalHeader(head));
    file->SetPosition(dirStart);
    file->Write(fixtures::CentralRecord(head, 0) +
                fixtures::EndRecord(0, 0, 1, 1, 50, dirStart, 0));
    ASSERT_FALSE(file->WriteError());
  }
  const auto tail = [&] {
    auto file = platform::BinaryStream::Open(platform::ItemAt(dir / "big.zip"), false);
    file->SetPosition(dirStart);
    return file->Read(100);
  };
  const std::string before = tail();
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "big.zip", true)) << archive.ErrorMessage();
  // 256 bytes are left: a small entry fits, but not with the directory behind it.
  EXPECT_EQ(AddData(archive, std::string(100, 'n')), ZipArchive::kInvalidArgument);
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  EXPECT_FALSE(archive.SetComment(std::string(150, 'c')));  // with room for zip64 records
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  EXPECT_EQ(tail(), before);
  // Once an entry has written over the old directory, no record may grow
  // past the limit either: Close could not write it, and every member
  // would be lost.
  ASSERT_TRUE(archive.SetComment("short"));
  EXPECT_GT(AddData(archive, "x"), 0);
  zip::ZipEntry& first = *archive.Entry(1);
  const std::string big(200, 'c');
  EXPECT_FALSE(first.SetComment(big));
  EXPECT_FALSE(first.SetExtraFieldInCentralDir(archive.MakeZipExtraField(big)));
  EXPECT_EQ(first.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  const auto longer = std::make_shared<zip::ZipEntry>(archive.Data(), nullptr, big, nullptr, "");
  EXPECT_EQ(archive.ReplaceEntry(2, longer), nullptr);
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Open(dir / "big.zip", false));
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.Comment(), "short");
  // Emptied, it keeps room for the "/" member that an archive without
  // entries gets; it then ends at the last byte less the zip64 records that
  // a record might have needed.
  archive.Close();
  ASSERT_TRUE(archive.Open(dir / "big.zip", true));
  ASSERT_TRUE(archive.RemoveEntry(2) && archive.RemoveEntry(1));
  EXPECT_FALSE(archive.SetComment(std::string(49, 'c')));
  ASSERT_TRUE(archive.SetComment(std::string(48, 'c'))) << archive.ErrorMessage();
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
  EXPECT_EQ(std::filesystem::file_size(dir / "big.zip"), 0xFFFFFFFFu - 76);
  ASSERT_TRUE(archive.Open(dir / "big.zip", false));
  EXPECT_EQ(ziptest::RawPathOf(archive, 1), "/");
  EXPECT_THROW(archive.SetSizeLimitForTesting(1000), platform::RuntimeException);  // while open
  archive.Close();

  // The same with the limit lowered for a small archive: the last entry
  // stays while the "/" member could not take its place.
  RawArchive small;
  small.members.push_back(fixtures::Member("x"));
  fixtures::WriteFile(dir / "small.zip", small.Build());
  archive.SetSizeLimitForTesting(400);
  ASSERT_TRUE(archive.Open(dir / "small.zip", true));
  ASSERT_TRUE(archive.SetComment(std::string(200, 'c'))) << archive.ErrorMessage();
  EXPECT_FALSE(archive.RemoveEntry(1));
  EXPECT_EQ(archive.ErrorMessage(), "Archive would exceed the Zip size limit of 4GB");
  EXPECT_EQ(archive.EntryCount(), 1);
  ASSERT_TRUE(archive.SetComment(""));
  EXPECT_TRUE(archive.RemoveEntry(1));
  // Entries end at 31; then the "/" member, the zip64 records' room and the
  // end record: 207 bytes, to the byte.
  EXPECT_FALSE(archive.SetComment(std::string(194, 'c')));
  EXPECT_TRUE(archive.SetComment(std::string(193, 'c')));
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // Rolled back to no entries, the "/" member takes the room of the one added.
  ASSERT_TRUE(archive.Open(dir / "new.zip", true));
  archive.Mark();
  ASSERT_EQ(AddData(archive, "x"), 1);
  ASSERT_TRUE(archive.SetComment(std::string(224, 'c')));  // to the last byte
  EXPECT_TRUE(archive.Rollback()) << archive.ErrorMessage();
  EXPECT_TRUE(ClosedAndAccepted(archive));
}

// A directory whose last record ends like a zip64 locator gets zip64 records
// behind it, whatever led there. Member "a" ends at 0x0706, so a folder of
// mode 045520 ("PK") with a 14-byte name put there leaves "PK\6\7" where
// readers look for a locator; so does a 16-byte name at 0x07064B50.
TEST(DirectoryWrite, ADirectoryEndingLikeAZip64LocatorGetsZip64Records) {
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("a", std::string(0x0706 - 30 - 1, 'a')));
  raw.members.push_back(fixtures::Member("folder-name-b/"));
  raw.members.back().externalAttributes = 045520u << 16;
  const std::string stored = raw.Build();  // as another writer may have left it
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, stored, true));
  EXPECT_TRUE(ClosedAndAccepted(archive));
  const std::string zip64End("PK\6\6,\0\0\0\0\0\0\0-\0-\0", 16);  // its size, version 4.5
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip").substr(stored.size() - 22, 16), zip64End);
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));  // and written again
  ASSERT_EQ(AddData(archive, "after"), 3) << archive.ErrorMessage();
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // A gap before the first member beside zip64 records is more than 7-Zip
  // takes: the entries are moved down over it first.
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  ASSERT_TRUE(archive.RemoveEntry(1));
  ASSERT_TRUE(archive.Entry(2)->SetComment(std::string("PK\6\7", 4) + std::string(16, 'L')));
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // The same from the adder's own permissions, in an archive made in this open.
  std::filesystem::create_directory(dir / "folder-name-b");
  chmod((dir / "folder-name-b").c_str(), 05520);
  const FolderItem folder(dir / "folder-name-b");
  ASSERT_TRUE(archive.Open(dir / "new.zip", true));
  archive.PreserveUnixPermissions(true);
  ASSERT_EQ(AddData(archive, std::string(0x0706 - 30, 'a')), 1);
  EXPECT_EQ(archive.AddItemWithRawPath(folder, "folder-name-b/", 0), 2);
  EXPECT_TRUE(ClosedAndAccepted(archive));

  // Behind a gap the record is no locator, nor last once compacted; removing
  // "last" then makes it last, and an add and a removal follow. The big one
  // sits behind a sparse member of 112 MB.
  RawArchive gapped = raw;
  gapped.members[1] = fixtures::Member("gap", "gone");
  fixtures::RawMember head = fixtures::Member("head"), gap = fixtures::Member("gap");
  head.compressedSize = head.uncompressedSize = 0x07064B50 - 34;
  head.crc32 = fixtures::Crc32(std::string(*head.uncompressedSize, '\0'));
  const std::string directory =
      fixtures::CentralRecord(head, 0) + fixtures::CentralRecord(gap, 0x07064B50);
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "16-byte name" : "folder");
    fixtures::WriteFile(dir / "test.zip", big ? fixtures::LocalHeader(head) : gapped.Build());
    if (big) {
      auto file = platform::BinaryStream::Open(platform::ItemAt(dir / "test.zip"), true);
      file->SetPosition(0x07064B50);
      file->Write(fixtures::LocalHeader(gap) + directory +
                  fixtures::EndRecord(0, 0, 2, 2, directory.size(), 0x07064B50 + 33, 0));
    }
    ASSERT_TRUE(archive.Open(dir / "test.zip", true));
    archive.PreserveUnixPermissions(true);
    ASSERT_EQ(big ? AddData(archive, "sixteen-byte-nam")
                  : archive.AddItemWithRawPath(folder, "folder-name-b/", 0),
              3);
    ASSERT_EQ(AddData(archive, "last"), 4);
    ASSERT_TRUE(archive.RemoveEntry(2));
    ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
    ASSERT_TRUE(archive.RemoveEntry(3));
    ASSERT_EQ(AddData(archive, "more"), 3);
    ASSERT_TRUE(archive.RemoveEntry(3));
    EXPECT_TRUE(ClosedAndAccepted(archive));
  }
}
