// MacBinary headers: those written by Debian's macutils and hfsutils are
// recognised by level and decoded; ours are read back by those tools; and a
// header puts its metadata onto an extracted file.
#include <gtest/gtest.h>

#include <functional>

#include "fixtures/zip_builder.h"
#include "platform/checksums.h"
#include "platform/framework_exceptions.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace {

namespace mb = zip::records::macbinary;
using platform::Date;
using platform::FolderItem;
using platform::MemoryBlock;

MemoryBlock Block(const std::string& bytes) {
  MemoryBlock b = MemoryBlock::FromBytes(bytes.substr(0, std::min<std::size_t>(bytes.size(), 128)));
  b.LittleEndian = false;
  return b;
}

std::string Padded(const std::string& fork) {
  return fork + std::string((128 - fork.size() % 128) % 128, '\0');
}

class MacBinaryTest : public ::testing::Test {
 protected:
  // Runs a shell line in the test folder, with hfsutils' state kept there.
  int Sh(const std::string& line) {
    return fixtures::Run("cd " + fixtures::Quote(dir_.path()) +
                         " && HOME=" + fixtures::Quote(dir_.path()) + " sh -c " +
                         fixtures::Quote(line) + " >/dev/null 2>&1");
  }
  zip::ZipEntryRef Entry(const std::string& name) {
    return std::make_shared<zip::ZipEntry>(archive_.Data(), nullptr, name, nullptr, "");
  }
  fixtures::TempDir dir_;
  zip::ZipArchive archive_;
};

TEST_F(MacBinaryTest, HeadersOfOtherToolsAreRecognisedAndDecoded) {
  fixtures::WriteFile(dir_ / "Report.data", "hello data fork");
  ASSERT_EQ(Sh("macstream -d -t TEXT -c ttxt Report.data > mb1.bin"), 0);
  ASSERT_EQ(Sh("dd if=/dev/zero of=img bs=1k count=800 && hformat -l Test img && "
               "hcopy -r Report.data :Report && hattrib -t TEXT -c ttxt :Report && "
               "hcopy -m :Report mb2.bin; humount"),
            0);
  struct Case {
    const char* file;
    std::int32_t level, levelWithMB1;
    const char* name;
  };
  for (const Case& c : {Case{"mb1.bin", 0, 1, "Report.data"}, Case{"mb2.bin", 2, 2, "Report"}}) {
    SCOPED_TRACE(c.file);
    const std::string stream = fixtures::ReadFile(dir_ / c.file);
    ASSERT_GE(stream.size(), 128u + 15u);
    const MemoryBlock h = Block(stream);
    auto entry = Entry("Report");
    EXPECT_EQ(entry->z_MBHdrLevel(h), c.level);
    entry->EnableMacBinary1Detection(true);
    EXPECT_EQ(entry->z_MBHdrLevel(h), c.levelWithMB1);
    EXPECT_EQ(h.PStringValue(mb::kNameLength), c.name);
    EXPECT_EQ(h.StringValue(mb::kType, 8), "TEXTttxt");
    EXPECT_EQ(h.Int32Value(mb::kDataLength), 15);
    EXPECT_EQ(stream.substr(128, 15), "hello data fork");
    EXPECT_EQ(mb::ResourceForkStart(15), 256u);
  }
}

TEST_F(MacBinaryTest, OurHeadersAreReadByMacutilsAndHfsutils) {
  fixtures::WriteFile(dir_ / "Tool", "the data fork");
  FolderItem item(dir_ / "Tool");
  ASSERT_TRUE(item.SetMacType("APPL") && item.SetMacCreator("Vnta"));
  const std::string rsrc(300, 'r');
  auto h = archive_.MakeMacBinaryHeader(item, 13, static_cast<std::int32_t>(rsrc.size()), "Tool");
  EXPECT_EQ(Entry("Tool")->z_MBHdrLevel(*h), 3);
  fixtures::WriteFile(dir_ / "ours.bin", h->Bytes() + Padded("the data fork") + Padded(rsrc));

  ASSERT_EQ(Sh("mkdir u && cd u && macunpack -3 ../ours.bin"), 0);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.data"), "the data fork");
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.rsrc"), rsrc);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "u/Tool.info").substr(mb::kType, 8), "APPLVnta");

  ASSERT_EQ(Sh("dd if=/dev/zero of=img bs=1k count=800 && hformat -l Test img && "
               "hcopy -m ours.bin : && hls -l > listing && hcopy -m :Tool back.bin; humount"),
            0);
  EXPECT_NE(fixtures::ReadFile(dir_ / "listing").find("APPL/Vnta"), std::string::npos);
  const std::string back = fixtures::ReadFile(dir_ / "back.bin");
  const MemoryBlock theirs = Block(back);
  EXPECT_EQ(Entry("Tool")->z_MBHdrLevel(theirs), 2);
  EXPECT_EQ(theirs.Int32Value(mb::kResourceLength), 300);
  EXPECT_EQ(back.substr(mb::ResourceForkStart(13), 300), rsrc);
  EXPECT_EQ(theirs.UInt32Value(mb::kModified), h->UInt32Value(mb::kModified));
}

TEST_F(MacBinaryTest, LevelsOfDamagedAndVariantHeaders) {
  auto good =
      archive_.MakeMacBinaryHeader(10, 20, "Name", "TEXT", "ttxt", std::nullopt, std::nullopt);
  auto mutated = [&](const std::function<void(MemoryBlock&)>& change, bool fixCrc) {
    MemoryBlock h = *good;
    change(h);
    if (fixCrc) h.SetUInt16Value(mb::kCrc, platform::Crc16_MemoryBlock(h, 0, mb::kCrc, 0));
    return h;
  };
  struct Case {
    const char* what;
    MemoryBlock header;
    std::int32_t level, levelWithMB1;
  };
  const Case cases[] = {
      {"ours", *good, 3, 3},
      {"later reader",
       mutated([](MemoryBlock& h) { h.SetUInt8Value(mb::kReaderVersion, 131); }, true), 4, 4},
      {"no signature", mutated([](MemoryBlock& h) { h.SetUInt32Value(mb::kSignature, 0); }, true),
       2, 2},
      {"wrong CRC", mutated([](MemoryBlock& h) { h.SetUInt16Value(mb::kCrc, 1); }, false), 0, 1},
      {"wrong CRC, long name",
       mutated([](MemoryBlock& h) { h.SetUInt8Value(mb::kNameLength, 40); }, false), 0, 0},
      {"old version", mutated([](MemoryBlock& h) { h.SetUInt8Value(0, 1); }, true), 0, 0},
      {"zero fill", mutated([](MemoryBlock& h) { h.SetUInt8Value(mb::kZeroFill, 1); }, true), 0, 0},
      {"reserved", mutated([](MemoryBlock& h) { h.SetUInt8Value(127, 1); }, true), 0, 0},
      {"no name", mutated([](MemoryBlock& h) { h.SetUInt8Value(mb::kNameLength, 0); }, true), 0, 0},
      {"name of 64", mutated([](MemoryBlock& h) { h.SetUInt8Value(mb::kNameLength, 64); }, true), 0,
       0},
      {"huge data fork",
       mutated([](MemoryBlock& h) { h.SetUInt32Value(mb::kDataLength, 0x80000000u); }, true), 0, 0},
      {"huge resource fork",
       mutated([](MemoryBlock& h) { h.SetUInt32Value(mb::kResourceLength, 0xFFFFFFFFu); }, true), 0,
       0},
      {"short block", MemoryBlock::FromBytes(good->StringValue(0, 127)), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto entry = Entry("Name");
    EXPECT_EQ(entry->z_MBHdrLevel(c.header), c.level);
    entry->EnableMacBinary1Detection(true);
    EXPECT_EQ(entry->z_MBHdrLevel(c.header), c.levelWithMB1);
  }
}

TEST_F(MacBinaryTest, HeaderFieldsForNamesDatesAndItems) {
  EXPECT_THROW(archive_.MakeMacBinaryHeader(0, 0, "", "", "", std::nullopt, std::nullopt),
               platform::RuntimeException);
  const Date in1980 = Date::FromFields(1980, 1, 1, 0, 0, 0);
  auto h =
      archive_.MakeMacBinaryHeader(1, 2, std::string(70, 'n'), "AB", "CDEFG", in1980, std::nullopt);
  EXPECT_EQ(h->PStringValue(mb::kNameLength), std::string(63, 'n'));
  EXPECT_EQ(h->StringValue(mb::kType, 8), std::string("AB\0\0CDEF", 8));
  EXPECT_GE(h->UInt32Value(mb::kCreated), 0x80000000u);  // past 2^31 seconds
  EXPECT_EQ(Date::FromTotalSeconds(h->UInt32Value(mb::kCreated)), in1980);
  EXPECT_EQ(h->UInt32Value(mb::kModified), 0u);
  EXPECT_EQ(h->UInt8Value(mb::kFinderFlagsHigh), 0);
  EXPECT_EQ(archive_.z_dblToLong(-5), 0);
  EXPECT_EQ(archive_.z_dblToLong(5e12), -1);

  // A Mac name is stored in Mac Roman.
  EXPECT_EQ(archive_.MakeMacBinaryHeader(0, 0, "Grüße", "", "", std::nullopt, std::nullopt)
                ->PStringValue(mb::kNameLength),
            "Gr\x9f\xa7\x65");

  fixtures::WriteFile(dir_ / "item", "12345");
  FolderItem item(dir_ / "item");
  std::string info(32, '\0');
  info[8] = 0x41, info[9] = 0x22, info[24] = 0x05;  // invisible, inited; script
  ASSERT_TRUE(item.SetFinderInfo(info));
  ASSERT_TRUE(item.SetLocked(true));
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
  auto entry = Entry("A-B");
  entry->ApplyMacBinaryInformation(file, header);
  EXPECT_EQ(file.Name(), "A\\B");  // differed only in what a zip name cannot carry
  EXPECT_EQ(file.MacType() + file.MacCreator(), "TEXTttxt");
  const std::string info = file.FinderInfo();
  EXPECT_EQ(static_cast<std::uint8_t>(info[8]), 0x4E);
  EXPECT_EQ(static_cast<std::uint8_t>(info[9]), 0x08);
  EXPECT_EQ(static_cast<std::uint8_t>(info[25]), 0x04);
  EXPECT_EQ(file.CreationDate(), created);
  EXPECT_EQ(file.ModificationDate(), modified);
  EXPECT_FALSE(file.Locked());  // file locking is off

  // A name with "/" is never used; a name the caller chose is kept; a
  // folder gets dates and flags but no type; locking when enabled.
  struct Case {
    const char* entryName;
    const char* onDisk;
    const char* macName;
    const char* after;
  };
  for (const Case& c : {Case{"A-B", "A-B", "A/B", "A-B"}, Case{"A-B", "chosen", "A\\B", "chosen"},
                        Case{"x", "x", "..", "x"}}) {
    SCOPED_TRACE(c.macName);
    fixtures::WriteFile(dir_ / c.onDisk, "x");
    FolderItem target(dir_ / c.onDisk);
    auto e = Entry(c.entryName);
    e->EnableFileLocking(true);
    e->ApplyMacBinaryInformation(
        target, archive_.MakeMacBinaryHeader(0, 0, c.macName, "TEXT", "ttxt", created, modified));
    EXPECT_EQ(target.Name(), c.after);
    std::filesystem::remove(target.Path());
  }
  fixtures::WriteFile(dir_ / "locked", "x");
  FolderItem locked(dir_ / "locked");
  auto lockingEntry = Entry("locked");
  lockingEntry->EnableFileLocking(true);
  lockingEntry->ApplyMacBinaryInformation(locked, header);
  EXPECT_TRUE(locked.Locked());
  locked.SetLocked(false);

  ASSERT_TRUE(FolderItem(dir_ / "folder").CreateAsFolder());
  FolderItem folder(dir_ / "folder/");
  auto folderEntry = Entry("folder/");
  folderEntry->EnableFileLocking(true);
  folderEntry->ApplyMacBinaryInformation(folder, header);
  EXPECT_EQ(folder.MacType(), "");
  EXPECT_EQ(static_cast<std::uint8_t>(folder.FinderInfo()[9]), 0x08);
  EXPECT_EQ(folder.ModificationDate(), modified);
  EXPECT_FALSE(folder.Locked());

  // Nothing for a missing item or header.
  FolderItem missing(dir_ / "missing");
  EXPECT_NO_THROW(entry->ApplyMacBinaryInformation(missing, header));
  EXPECT_NO_THROW(entry->ApplyMacBinaryInformation(file, nullptr));
  EXPECT_FALSE(missing.Exists());
}

}  // namespace
