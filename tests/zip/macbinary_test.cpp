// MacBinary headers: ours are read by Debian's macutils and hfsutils, theirs
// are recognised by level and decoded, and a header puts its metadata onto
// an extracted file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/checksums.h"
#include "platform/framework_exceptions.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"
#include "zip_test_util.h"

namespace {

namespace mb = zip::records::macbinary;
using platform::Date;
using platform::FolderItem;
using platform::MemoryBlock;

std::string Padded(const std::string& fork) {
  return fork + std::string((128 - fork.size() % 128) % 128, '\0');
}

class MacBinaryTest : public ::testing::Test {
 protected:
  int Sh(const std::string& line) { return ziptest::ShellIn(dir_.path(), line); }
  zip::ZipEntryRef Entry(const std::string& name, bool locking = false) {
    auto e = std::make_shared<zip::ZipEntry>(archive_.Data(), nullptr, name, nullptr, "");
    e->EnableFileLocking(locking);
    return e;
  }
  // The level of a header as read with and without MacBinary I detection.
  std::pair<int, int> Levels(const MemoryBlock& h) {
    auto entry = Entry("Name");
    const int level = entry->z_MBHdrLevel(h);
    entry->EnableMacBinary1Detection(true);
    return {level, entry->z_MBHdrLevel(h)};
  }
  fixtures::TempDir dir_;
  zip::ZipArchive archive_;
};

TEST_F(MacBinaryTest, OursAreReadByMacutilsAndHfsutilsAndTheirsAreRecognised) {
  fixtures::WriteFile(dir_ / "Tool", "the data fork");
  FolderItem item(dir_ / "Tool");
  ASSERT_TRUE(item.SetMacType("APPL") && item.SetMacCreator("Vnta"));
  const std::string rsrc(300, 'r');
  auto h = archive_.MakeMacBinaryHeader(item, 13, static_cast<std::int32_t>(rsrc.size()), "Tool");
  EXPECT_EQ(Levels(*h), std::make_pair(3, 3));
  fixtures::WriteFile(dir_ / "ours.bin", h->Bytes() + Padded("the data fork") + Padded(rsrc));

  ASSERT_EQ(Sh("mkdir u && cd u && macunpack -3 ../ours.bin"), 0);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.data"), "the data fork");
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.rsrc"), rsrc);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.info").substr(mb::kType, 8), "APPLVnta");

  // Back out of an HFS image, hfsutils writes MacBinary II with the same
  // forks and dates; macutils' macstream writes MacBinary I, which only a
  // reader looking for it takes.
  ASSERT_EQ(Sh("dd if=/dev/zero of=img bs=1k count=800 && hformat -l Test img && "
               "hcopy -m ours.bin : && hcopy -m :Tool back.bin; humount && "
               "macstream -d -t TEXT -c ttxt Tool > mb1.bin"),
            0);
  const std::string back = fixtures::ReadFile(dir_ / "back.bin");
  EXPECT_EQ(back.substr(128), Padded("the data fork") + Padded(rsrc));
  EXPECT_EQ(back.substr(mb::kNameLength, 72), h->StringValue(mb::kNameLength, 72));  // to creator
  EXPECT_EQ(back.substr(mb::kModified, 4), h->StringValue(mb::kModified, 4));
  for (const auto& [file, levels] : {std::pair{"back.bin", std::pair{2, 2}}, {"mb1.bin", {0, 1}}}) {
    SCOPED_TRACE(file);
    MemoryBlock theirs = MemoryBlock::FromBytes(fixtures::ReadFile(dir_ / file).substr(0, 128));
    EXPECT_EQ(Levels(theirs), levels);
  }
}

TEST_F(MacBinaryTest, LevelsOfDamagedAndVariantHeaders) {
  auto good =
      archive_.MakeMacBinaryHeader(10, 20, "Name", "TEXT", "ttxt", std::nullopt, std::nullopt);
  // Our header with one field set to `value`, its CRC made right again or not.
  auto with = [&](std::size_t at, int width, std::uint32_t value, bool fixCrc = true) {
    MemoryBlock h = *good;
    if (width == 1) h.SetUInt8Value(at, static_cast<std::uint8_t>(value));
    if (width == 2) h.SetUInt16Value(at, static_cast<std::uint16_t>(value));
    if (width == 4) h.SetUInt32Value(at, value);
    if (fixCrc) h.SetUInt16Value(mb::kCrc, platform::Crc16_MemoryBlock(h, 0, mb::kCrc, 0));
    return h;
  };
  const struct {
    const char* what;
    MemoryBlock header;
    std::pair<int, int> levels;
  } cases[] = {
      {"ours", *good, {3, 3}},
      {"later reader", with(mb::kReaderVersion, 1, 131), {4, 4}},
      {"reader version of our own writer", with(mb::kReaderVersion, 1, 130), {3, 3}},
      {"no signature", with(mb::kSignature, 4, 0), {2, 2}},
      {"wrong CRC", with(mb::kCrc, 2, 1, false), {0, 1}},
      {"wrong CRC, long name", with(mb::kNameLength, 1, 40, false), {0, 0}},
      {"old version", with(mb::kOldVersion, 1, 1), {0, 0}},
      {"zero fill", with(mb::kZeroFill, 1, 1), {0, 0}},
      {"reserved", with(127, 1, 1), {0, 0}},
      {"no name", with(mb::kNameLength, 1, 0), {0, 0}},
      {"name of 64", with(mb::kNameLength, 1, 64), {0, 0}},
      {"huge data fork", with(mb::kDataLength, 4, 0x80000000u), {0, 0}},
      {"huge resource fork", with(mb::kResourceLength, 4, 0xFFFFFFFFu), {0, 0}},
      {"short block", MemoryBlock::FromBytes(good->StringValue(0, 127)), {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Levels(c.header), c.levels);
  }
}

TEST_F(MacBinaryTest, HeaderFieldsForNamesDatesAndItems) {
  EXPECT_THROW(archive_.MakeMacBinaryHeader(0, 0, "", "", "", std::nullopt, std::nullopt),
               platform::RuntimeException);
  // A Mac name is stored in Mac Roman, and cut to 63 bytes.
  const Date in1980 = Date::FromFields(1980, 1, 1, 0, 0, 0);
  auto h = archive_.MakeMacBinaryHeader(1, 2, "Grüße" + std::string(70, 'n'), "AB", "CDEFG", in1980,
                                        std::nullopt);
  EXPECT_EQ(h->PStringValue(mb::kNameLength), "Gr\x9f\xa7\x65" + std::string(58, 'n'));
  EXPECT_EQ(h->StringValue(mb::kType, 8), std::string("AB\0\0CDEF", 8));
  EXPECT_EQ(Date::FromTotalSeconds(h->UInt32Value(mb::kCreated)), in1980);  // past 2^31 seconds
  EXPECT_EQ(h->UInt32Value(mb::kModified), 0u);
  EXPECT_EQ(archive_.z_dblToLong(-5), 0);
  EXPECT_EQ(archive_.z_dblToLong(5e12), -1);

  fixtures::WriteFile(dir_ / "item", "12345");
  FolderItem item(dir_ / "item");
  std::string info(32, '\0');
  info[8] = 0x41, info[9] = 0x22, info[24] = 0x05;  // invisible, inited; script
  ASSERT_TRUE(item.SetFinderInfo(info) && item.SetLocked(true));
  auto own = archive_.MakeMacBinaryHeader(item);
  EXPECT_EQ(own->UInt8Value(mb::kFinderFlagsHigh), 0x40);
  EXPECT_EQ(own->UInt8Value(mb::kFinderFlagsLow), 0x22);
  EXPECT_EQ(own->UInt8Value(mb::kScript), 0x05);
  EXPECT_EQ(own->UInt8Value(mb::kProtected), 1);
  EXPECT_EQ(own->Int32Value(mb::kDataLength), 5);
  EXPECT_EQ(archive_.MakeMacBinaryHeader(item, 5, 0, "other")->UInt8Value(mb::kScript), 0);
  EXPECT_EQ(archive_.MakeMacBinaryHeader(FolderItem(dir_ / ".hidden"), 0, 0, "x")
                ->UInt8Value(mb::kFinderFlagsHigh),
            0x40);  // no such item: only its visibility counts
  item.SetLocked(false);
}

TEST_F(MacBinaryTest, ApplyingAHeaderRestoresTheMetadata) {
  const Date created = Date::FromFields(1995, 5, 6, 7, 8, 10);
  const Date modified = Date::FromFields(2003, 4, 5, 6, 7, 8);
  auto header = archive_.MakeMacBinaryHeader(0, 0, "A\\B", "TEXT", "ttxt", created, modified);
  header->SetUInt8Value(mb::kFinderFlagsHigh, 0x5F);  // kNameLocked and kHasBeenInited go
  header->SetUInt8Value(mb::kFinderFlagsLow, 0x08);
  header->SetUInt8Value(mb::kExtendedFlags, 0x04);
  header->SetUInt8Value(mb::kProtected, 1);

  fixtures::WriteFile(dir_ / "A-B", "x");
  FolderItem file(dir_ / "A-B");
  Entry("A-B")->ApplyMacBinaryInformation(file, header);
  EXPECT_EQ(file.Name(), "A\\B");  // differed only in what a zip name cannot carry
  EXPECT_EQ(file.FinderInfo().substr(0, 10), "TEXTttxt\x4E\x08");
  EXPECT_EQ(file.FinderInfo()[25], 0x04);
  EXPECT_EQ(file.CreationDate(), created);
  EXPECT_EQ(file.ModificationDate(), modified);
  EXPECT_FALSE(file.Locked());  // file locking is off

  // A name with "/" is never used, nor one where the caller chose another.
  const struct {
    const char *entryName, *onDisk, *macName;
  } names[] = {{"A-B", "A-B", "A/B"}, {"A-B", "chosen", "A\\B"}, {"x", "x", ".."}};
  for (const auto& c : names) {
    SCOPED_TRACE(c.macName);
    fixtures::WriteFile(dir_ / c.onDisk, "x");
    FolderItem target(dir_ / c.onDisk);
    Entry(c.entryName)
        ->ApplyMacBinaryInformation(
            target,
            archive_.MakeMacBinaryHeader(0, 0, c.macName, "TEXT", "ttxt", created, modified));
    EXPECT_EQ(target.Name(), c.onDisk);
    std::filesystem::remove(target.Path());
  }

  // With locking on, a file is locked; a folder gets dates and flags but
  // neither a type nor a lock.
  fixtures::WriteFile(dir_ / "locked", "x");
  FolderItem locked(dir_ / "locked");
  Entry("locked", true)->ApplyMacBinaryInformation(locked, header);
  EXPECT_TRUE(locked.Locked());
  locked.SetLocked(false);
  // Given the file it wrote, open, the date and the lock go on that file,
  // even once its name has been made to stand for another one.
  fixtures::WriteFile(dir_ / "written", "x");
  fixtures::WriteFile(dir_ / "other", "y");
  const int fd = ::open((dir_ / "written").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::filesystem::remove(dir_ / "written");
  ASSERT_EQ(::link((dir_ / "other").c_str(), (dir_ / "written").c_str()), 0);
  const Date before = FolderItem(dir_ / "other").ModificationDate();
  FolderItem renamed(dir_ / "written");
  Entry("written", true)->ApplyMacBinaryInformation(renamed, header, fd);
  struct stat st {};
  ASSERT_EQ(::fstat(fd, &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  ::close(fd);
  EXPECT_FALSE(FolderItem(dir_ / "other").Locked());
  EXPECT_EQ(FolderItem(dir_ / "other").ModificationDate(), before);
  ASSERT_TRUE(FolderItem(dir_ / "folder").CreateAsFolder());
  FolderItem folder(dir_ / "folder/");
  Entry("folder/", true)->ApplyMacBinaryInformation(folder, header);
  // No type or creator in its Finder information (MacType is "" for any folder).
  EXPECT_EQ(folder.FinderInfo().substr(0, 8), std::string(8, '\0'));
  EXPECT_EQ(folder.FinderInfo()[9], 0x08);
  EXPECT_EQ(folder.ModificationDate(), modified);
  EXPECT_FALSE(folder.Locked());

  // Nothing for a missing item or header.
  FolderItem missing(dir_ / "missing");
  EXPECT_NO_THROW(Entry("A-B")->ApplyMacBinaryInformation(missing, header));
  EXPECT_NO_THROW(Entry("A-B")->ApplyMacBinaryInformation(file, nullptr));
  EXPECT_FALSE(missing.Exists());
}

}  // namespace
