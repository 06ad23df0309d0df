// Extra-field blocks: the Mac "ZPIT" record both ways, the Unix type-1 block,
// malformed walks, and the local header's block read from the archive.
#include <gtest/gtest.h>

#include "zip_test_util.h"

using fixtures::PutLE;
using fixtures::RawArchive;
using fixtures::RawMember;
using fixtures::TempDir;
using zip::ZipArchive;
using zip::ZipExtraField;

namespace {

std::string Record(std::uint16_t id, const std::string& data) {
  std::string out;
  PutLE(out, id, 2);
  PutLE(out, data.size(), 2);
  return out + data;
}

struct MacInfo {
  bool found = false;
  std::string type, creator, name;
};

MacInfo Read(const ZipExtraField& field) {
  MacInfo info;
  platform::Text name;
  info.found = field.GetTypeCreatorName(info.type, info.creator, name);
  info.name = name.bytes;
  return info;
}

}  // namespace

TEST(ExtraField, MacRecordWrittenAndReadBack) {
  ZipArchive archive;
  auto longForm = archive.MakeZipExtraField("TEXT", "ttxt", "ReadMe!");
  EXPECT_FALSE(longForm->IsLocked());
  EXPECT_EQ(longForm->AsData(), std::string("\x05\x26\x14\x00ZPIT\x07ReadMe!TEXTttxt", 24));
  MacInfo info = Read(*longForm);
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.type, "TEXT");
  EXPECT_EQ(info.creator, "ttxt");
  EXPECT_EQ(info.name, "ReadMe!");

  auto shortForm = archive.MakeZipExtraField("APPL", "Vnt2", "");
  EXPECT_EQ(shortForm->AsData(), std::string("\x05\x27\x0c\x00ZPITAPPLVnt2", 16));
  info = Read(*shortForm);
  EXPECT_TRUE(info.found);
  EXPECT_EQ(info.type, "APPL");
  EXPECT_EQ(info.name, "");

  // A short type is padded with zero bytes; a UTF-8 name goes into the
  // archive's encoding.
  zip::ZipArchiveData& d = *archive.Data();
  d.setArchiveEncoding(&platform::TextEncoding::MacRoman());
  auto padded = archive.MakeZipExtraField("fo", "", "é");
  EXPECT_EQ(padded->AsData(), std::string("\x05\x26\x0e\x00ZPIT\x01\x8e"
                                          "fo\0\0\0\0\0\0",
                                          18));
}

TEST(ExtraField, WhichMacRecordsCountAndWhatTheyYield) {
  ZipArchive archive;
  const std::string tc = "TYPECRTR";
  // Data size 12 with the long id: found, but too short to hold a name.
  auto tight = archive.MakeZipExtraField(Record(0x2605, "ZPIT" + tc));
  EXPECT_EQ(tight->MacRecordOffset(), 0);
  EXPECT_FALSE(Read(*tight).found);
  // Data size 11: not a Mac record at all.
  EXPECT_EQ(archive.MakeZipExtraField(Record(0x2705, "ZPIT" + tc.substr(0, 7)))->MacRecordOffset(),
            -1);
  // Of two Mac records the last counts.
  auto two = archive.MakeZipExtraField(Record(0x2705, "ZPITAAAABBBB") + Record(0x1234, "xy") +
                                       Record(0x2705, "ZPITCCCCDDDD"));
  EXPECT_EQ(Read(*two).type, "CCCC");
  // A zero-size record ends the walk: what follows is not looked at.
  auto stopped = archive.MakeZipExtraField(Record(0x0001, "") + Record(0x2705, "ZPIT" + tc));
  EXPECT_FALSE(Read(*stopped).found);
  // A name length byte that claims more than the record holds stays inside it.
  auto lying = archive.MakeZipExtraField(Record(0x2605, std::string("ZPIT\xff", 5) + tc));
  EXPECT_FALSE(Read(*lying).found);
  // A record running past the block ends the walk; the bytes are kept.
  std::string cut = Record(0x2705, "ZPIT" + tc).substr(0, 14);
  auto truncated = archive.MakeZipExtraField(cut);
  EXPECT_FALSE(Read(*truncated).found);
  EXPECT_EQ(truncated->AsData(), cut);
  // Empty block.
  auto none = archive.MakeZipExtraField("");
  std::int32_t at = 5, mt = 6;
  EXPECT_EQ(none->AsData(), "");
  EXPECT_FALSE(Read(*none).found);
  EXPECT_FALSE(none->IsUnixType1Only());
  EXPECT_FALSE(none->GetUnixTimes(at, mt));
  EXPECT_EQ(at, 5);
}

TEST(ExtraField, UnixType1OnlyAsTheWholeTwelveByteBlock) {
  ZipArchive archive;
  auto ux = archive.MakeZipExtraField(fixtures::UnixType1Block(100, 200));
  std::int32_t at = 0, mt = 0;
  EXPECT_TRUE(ux->IsUnixType1Only());
  EXPECT_TRUE(ux->GetUnixTimes(at, mt));
  EXPECT_EQ(at, 100);
  EXPECT_EQ(mt, 200);
  auto noAccess = archive.MakeZipExtraField(fixtures::UnixType1Block(0, 200));
  EXPECT_TRUE(noAccess->IsUnixType1Only());
  EXPECT_FALSE(noAccess->GetUnixTimes(at, mt));
  // With user and group ids after the times, or anything beside it: not it.
  std::string withIds = Record(0x5855, fixtures::UnixType1Block(1, 2).substr(4) + "uigi");
  EXPECT_FALSE(archive.MakeZipExtraField(withIds)->IsUnixType1Only());
  EXPECT_FALSE(archive.MakeZipExtraField(fixtures::UnixType1Block(1, 2) + Record(1, "x"))
                   ->IsUnixType1Only());
}

TEST(ExtraField, SettingTheCentralFieldMarksTheArchive) {
  ZipArchive archive;
  auto header = std::make_shared<platform::MemoryBlock>(46);
  zip::ZipEntry e(archive.Data(), header, "f", nullptr, "");
  e.SetExtraFieldInCentralDir(archive.MakeZipExtraField("TEXT", "ttxt", "n"));
  EXPECT_EQ(header->UInt16Value(30), 18);
  EXPECT_TRUE(e.ExtraFieldInCentralDir()->IsLocked());
  EXPECT_TRUE(archive.Data()->dirty);
  e.SetExtraFieldInCentralDir(nullptr);
  EXPECT_EQ(header->UInt16Value(30), 0);
  EXPECT_EQ(e.ExtraFieldInCentralDir()->AsData(), "");
}

TEST(ExtraField, LocalHeaderBlockIsReadFromTheArchive) {
  RawArchive raw;
  raw.members.push_back(fixtures::With(fixtures::Member("a", "1"), [&](fixtures::RawMember& m) {
    m.localExtra = Record(0x2705, "ZPITAAAABBBB");
  }));
  raw.members.push_back(fixtures::With(fixtures::Member("b", "2"), [&](fixtures::RawMember& m) {
    m.localOffset = 1;
  }));  // no header there
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build())) << archive.ErrorMessage();
  auto e = archive.Entry(1);
  EXPECT_EQ(e->ExtraFieldInCentralDir()->AsData(), "");
  archive.Data()->zipStream->SetPosition(7);
  auto local = e->ExtraField();
  ASSERT_NE(local, nullptr);
  EXPECT_TRUE(local->IsLocked());
  EXPECT_EQ(Read(*local).type, "AAAA");
  EXPECT_EQ(archive.Data()->zipStream->Position(), 7);  // put back

  auto bad = archive.Entry(2);
  EXPECT_EQ(bad->ExtraField(), nullptr);
  EXPECT_EQ(bad->ErrorMessage(),
            "Invalid Local File Header signature (archive appears to be severely corrupted)");
  EXPECT_EQ(archive.Data()->zipStream->Position(), 7);
  archive.Close();
  EXPECT_EQ(e->ExtraField(), nullptr);
  EXPECT_EQ(e->ErrorMessage(), "Archive is closed");
}

TEST(ExtraField, FakeEntryFlags) {
  zip::ZipArchiveData d;
  platform::MemoryBlock header(46);
  header.LittleEndian = true;
  header.SetUInt16Value(8, 0x0800);
  EXPECT_FALSE(d.isFakeEntry(header, 0x0800));  // bit 3 clear
  header.SetUInt16Value(8, 0x0808);
  EXPECT_TRUE(d.isFakeEntry(header, 0x0800));
  EXPECT_FALSE(d.isFakeEntry(header, 0x0808));

  // Flags read from the file compare unsigned, bit 15 included.
  RawArchive raw;
  raw.members.push_back(fixtures::With(fixtures::Member("x"), [&](fixtures::RawMember& m) {
    m.flags = 0x8008;
    m.localFlags = 0x8000;
  }));
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build()));
  EXPECT_TRUE(archive.Data()->isFakeEntry(*archive.Entry(1)->z_Header(), -1));
}

namespace {

// An AppleDouble file with Finder information (type, creator) and a
// resource fork.
std::string AppleDouble(const std::string& typeCreator, const std::string& fork) {
  std::string out =
      fixtures::AppleDoubleHeader({{9, 50, 32}, {2, 82, static_cast<std::uint32_t>(fork.size())}});
  out += typeCreator + std::string(32 - typeCreator.size(), '\0');
  return out + fork;
}

}  // namespace

TEST(ExtraField, MadeForItemsFromTheirFinderInformation) {
  TempDir dir;
  ZipArchive archive;
  std::filesystem::create_directories(dir / "Folder");
  fixtures::WriteFile(dir / "Read Me", "text");
  fixtures::WriteFile(dir / "._Read Me", AppleDouble("TEXTttxt", std::string(5000, 'r')));
  fixtures::WriteFile(dir / "plain", "no sidecar");
  fixtures::WriteFile(dir / "odd", "x");
  fixtures::WriteFile(dir / "._odd", "not an AppleDouble file");

  auto withSidecar = archive.MakeZipExtraField(platform::FolderItem(dir / "Read Me"));
  ASSERT_NE(withSidecar, nullptr);
  MacInfo info = Read(*withSidecar);
  EXPECT_EQ(info.type, "TEXT");
  EXPECT_EQ(info.creator, "ttxt");
  EXPECT_EQ(info.name, "Read Me");
  EXPECT_EQ(Read(*archive.MakeZipExtraField(platform::FolderItem(dir / "Read Me"), "")).name, "");

  for (const char* name : {"plain", "odd"}) {
    info = Read(*archive.MakeZipExtraField(platform::FolderItem(dir / name)));
    EXPECT_EQ(info.type, std::string(4, '\0')) << name;
    EXPECT_EQ(info.creator, std::string(4, '\0')) << name;
  }
  EXPECT_EQ(archive.MakeZipExtraField(platform::FolderItem(dir / "Folder"), ""), nullptr);
  auto folder = archive.MakeZipExtraField(platform::FolderItem(dir / "Folder"));
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(Read(*folder).name, "Folder");
}
