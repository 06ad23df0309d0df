// One member's record fields, its names and paths, and the name encodings.
#include <gtest/gtest.h>

#include "platform/framework_exceptions.h"
#include "zip_test_util.h"

using fixtures::RawArchive;
using fixtures::RawMember;
using fixtures::TempDir;
using platform::TextEncoding;
using zip::ZipArchive;
using zip::ZipEntry;

namespace {

std::shared_ptr<ZipEntry> MakeEntry(const ZipArchive& archive, const std::string& name,
                                    platform::MemoryBlockRef header = nullptr) {
  return std::make_shared<ZipEntry>(archive.Data(), std::move(header), name, nullptr, "");
}

platform::MemoryBlockRef Record() {
  auto block = std::make_shared<platform::MemoryBlock>(46);
  block->LittleEndian = true;
  return block;
}

std::vector<std::string> Components(const ZipArchive& archive, const std::string& name) {
  std::vector<std::string> out;
  MakeEntry(archive, name)->GetPath(out);
  return out;
}

}  // namespace

TEST(EntryRecord, FieldsReadFromTheRecord) {
  ZipArchive archive;
  auto header = Record();
  header->SetUInt16Value(10, 8);
  header->SetUInt32Value(20, 1234);
  header->SetUInt32Value(24, 0x80000000u);
  header->SetUInt16Value(36, 3);
  header->SetUInt8Value(4, 0x14);
  auto e = MakeEntry(archive, "file", header);
  EXPECT_EQ(e->CompressionMethod(), 8);
  EXPECT_EQ(e->CompressedSize(), 1234);
  EXPECT_EQ(e->Size(), -2147483647 - 1);  // the field is read as signed 32 bits
  EXPECT_TRUE(e->CanExtract());

  EXPECT_TRUE(e->IsTextFile());
  e->SetTextFileFlag(false);
  EXPECT_EQ(header->UInt16Value(36), 2);  // the entry works on the very block given
  e->SetOSMadeBy(3 + 256);
  EXPECT_EQ(header->UInt8Value(4), 0x14);
  EXPECT_EQ(e->OSMadeBy(), 3);
  e->SetExternalFileAttributes(-1);
  EXPECT_EQ(e->ExternalFileAttributes(), -1);
  EXPECT_EQ(header->UInt32Value(38), 0xFFFFFFFFu);
  EXPECT_TRUE(archive.Data()->dirty);  // each marks the directory to be written

  header->SetUInt16Value(10, 12);
  EXPECT_FALSE(e->CanExtract());
  header->SetUInt16Value(10, 0);
  header->SetUInt16Value(8, 0x0001);
  EXPECT_TRUE(e->IsEncrypted());
  EXPECT_FALSE(e->CanExtract());
  EXPECT_FALSE(MakeEntry(archive, "folder/")->CanExtract());
}

TEST(EntryRecord, DosDateAndTime) {
  ZipArchive archive;
  auto header = Record();
  auto e = MakeEntry(archive, "f", header);
  EXPECT_FALSE(e->Time().has_value());
  header->SetUInt16Value(14, 0x0021);
  EXPECT_EQ(*e->Time(), platform::Date::FromFields(1980, 1, 1, 0, 0, 0));
  header->SetUInt16Value(12, (13 << 11) | (45 << 5) | 29);
  header->SetUInt16Value(14, (41 << 9) | (6 << 5) | 15);
  platform::Date d = *e->Time();
  EXPECT_EQ(d.Year, 2021);
  EXPECT_EQ(d.Month, 6);
  EXPECT_EQ(d.Day, 15);
  EXPECT_EQ(d.Hour, 13);
  EXPECT_EQ(d.Minute, 45);
  EXPECT_EQ(d.Second, 58);
  // Out-of-range fields carry over instead of being refused.
  header->SetUInt16Value(12, 0);
  header->SetUInt16Value(14, (41 << 9) | (13 << 5) | 1);
  EXPECT_EQ(*e->Time(), platform::Date::FromFields(2022, 1, 1, 0, 0, 0));
}

TEST(EntryRecord, EmptyExtraFieldIsMadeLockedWithoutTouchingTheRecord) {
  ZipArchive archive;
  auto header = Record();
  header->SetUInt16Value(30, 7);
  auto e = MakeEntry(archive, "f", header);
  ASSERT_NE(e->ExtraFieldInCentralDir(), nullptr);
  EXPECT_TRUE(e->ExtraFieldInCentralDir()->IsLocked());
  EXPECT_EQ(header->UInt16Value(30), 7);
  // A field handed in unlocked cannot be used as the entry's central field.
  auto loose = std::make_shared<zip::ZipExtraField>(archive.Data(), "");
  ZipEntry unlocked(archive.Data(), Record(), "g", loose, "");
  EXPECT_THROW(unlocked.ExtraFieldInCentralDir(), platform::RuntimeException);
}

TEST(EntryNames, PathComponentsFolderFlagAndDittoNames) {
  ZipArchive a;
  using V = std::vector<std::string>;
  EXPECT_EQ(Components(a, "dir/sub/file.txt"), (V{"dir", "sub", "file.txt"}));
  EXPECT_FALSE(MakeEntry(a, "dir/sub/file.txt")->IsDirectory());
  EXPECT_EQ(Components(a, "dir/sub/"), (V{"dir", "sub"}));
  EXPECT_TRUE(MakeEntry(a, "dir/sub/")->IsDirectory());
  EXPECT_EQ(Components(a, "./a/./b"), (V{"a", "b"}));
  EXPECT_EQ(Components(a, "a/."), (V{"a", "."}));
  EXPECT_EQ(Components(a, "a//b"), (V{"a", "", "b"}));
  EXPECT_EQ(Components(a, "/abs"), (V{"", "abs"}));
  EXPECT_EQ(Components(a, "../x"), (V{"..", "x"}));
  EXPECT_EQ(Components(a, "a:b/c"), (V{"a-b", "c"}));
  EXPECT_EQ(MakeEntry(a, "a:b/c")->RawPath().bytes, "a:b/c");
  EXPECT_EQ(Components(a, "/"), (V{""}));
  EXPECT_TRUE(MakeEntry(a, "/")->IsDirectory());
  EXPECT_TRUE(Components(a, "").empty());
  EXPECT_FALSE(MakeEntry(a, "")->IsDirectory());
  EXPECT_EQ(MakeEntry(a, "")->Name(), "");
  EXPECT_EQ(MakeEntry(a, "dir/file")->Name(), "file");

  EXPECT_TRUE(MakeEntry(a, "dir/._file")->z_hasDittoName());
  EXPECT_TRUE(MakeEntry(a, "__MACOSX/dir/")->z_hasDittoName());
  EXPECT_FALSE(MakeEntry(a, "__macosx/x")->z_hasDittoName());
  EXPECT_FALSE(MakeEntry(a, "._dir/")->z_hasDittoName());
}

TEST(EntryNames, CleaningBuildingAndStoringRawPaths) {
  ZipArchive a;
  EXPECT_EQ(a.CleanName("a/b\\c"), "a-b-c");
  EXPECT_TRUE(a.IsValidName("a:b"));
  EXPECT_FALSE(a.IsValidName("a/b"));
  EXPECT_EQ(a.z_pathToEncName(""), "/");
  EXPECT_EQ(a.z_pathToEncName("/"), "/");
  EXPECT_EQ(a.z_pathToEncName("/a"), "a");
  EXPECT_EQ(a.z_pathToEncName("//a"), "/a");
  EXPECT_EQ(a.RawPath(std::vector<std::string>{"a/b", "c"}), "a-b/c");
  EXPECT_EQ(a.RawPath(std::vector<std::string>{}), "");

  TempDir dir;
  std::filesystem::create_directories(dir / "top/in/deep");
  std::filesystem::create_directories(dir / "elsewhere");
  fixtures::WriteFile(dir / "top/in/deep/f.txt", "x");
  EXPECT_EQ(a.RawPath(dir / "top", dir / "top/in/deep/f.txt"), "in/deep/f.txt");
  EXPECT_EQ(a.RawPath(dir / "top", dir / "top/in/deep"), "in/deep");
  EXPECT_EQ(a.RawPath(dir / "top", dir / "top"), "");
  EXPECT_EQ(a.RawPath(dir / "top", dir / "elsewhere"), "");
  EXPECT_EQ(a.RawPath(dir / "top/in/deep/f.txt", dir / "top/in/deep/f.txt"), "");
}

TEST(EntryNames, LookupFindsTheFirstMatchFromTheStart) {
  RawArchive raw;
  raw.members.push_back(fixtures::Member("dup"));
  raw.members.push_back(fixtures::Member("other"));
  raw.members.push_back(fixtures::Member("dup"));
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, raw.Build()));
  EXPECT_EQ(archive.EntryIdxByRawPath("dup", 1), 1);
  EXPECT_EQ(archive.EntryIdxByRawPath("dup", 2), 3);
  EXPECT_EQ(archive.EntryIdxByRawPath("dup", 4), 0);
  EXPECT_TRUE(archive.Entry(3)->SameRawPath("dup"));
  EXPECT_FALSE(archive.Entry(3)->SameRawPath("/dup"));

  // A name that is not UTF-8 in an archive read as UTF-8 (code page 437
  // from an old archiver) is still found by the raw path the entry gives.
  RawArchive legacy;
  legacy.members.push_back(fixtures::Member("caf\x82.txt"));
  archive.Close();
  ASSERT_TRUE(ziptest::OpenBytes(archive, dir, legacy.Build()));
  const std::string rawPath = archive.Entry(1)->RawPath().bytes;
  EXPECT_EQ(rawPath, "caf\x82.txt");
  EXPECT_EQ(archive.EntryIdxByRawPath(rawPath, 1), 1);
  EXPECT_TRUE(archive.Entry(1)->SameRawPath(rawPath));
}

TEST(EntryNames, CommentsAndStoredBytesInTheArchiveEncoding) {
  RawArchive raw;
  // "caf\x82" is "café" in code page 437.
  raw.members.push_back(fixtures::With(fixtures::Member("caf\x82.txt"),
                                       [&](fixtures::RawMember& m) { m.comment = "na\x8bve"; }));
  raw.members.push_back(fixtures::Member("\xcd\xcd.txt"));  // double rules, not in Windows ANSI
  TempDir dir;
  fixtures::WriteFile(dir / "dos.zip", raw.Build());
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "dos.zip", false, ZipArchive::EncodedAsDOSLatinUS()));
  auto e = archive.Entry(1);
  // Read as stored, labelled, never converted.
  EXPECT_EQ(e->RawPath().bytes, "caf\x82.txt");
  EXPECT_EQ(e->RawPath().ToUTF8(), "café.txt");
  EXPECT_EQ(e->Comment().ToUTF8(), "naïve");
  EXPECT_EQ(e->z_origEncodedComment(), "na\x8bve");
  EXPECT_EQ(archive.EntryIdxByRawPath("café.txt", 1), 1);
  for (int i : {1, 2}) {
    const platform::Text& path = archive.Entry(i)->RawPath();
    EXPECT_EQ(archive.EntryIdxByRawPath(path.bytes, 1, path.encoding), i);
  }
  // Text for a DOS archive goes through Windows ANSI, so characters it lacks
  // become "?" even when code page 437 could hold them.
  EXPECT_EQ(archive.Data()->encodeForZip("ä€"), "\x84?");
  EXPECT_EQ(archive.Data()->encodeForZip("\xe9", &TextEncoding::WindowsANSI()), "\x82");
  EXPECT_EQ(archive.Data()->encodeForZip("\u2261"), "?");  // in CP437, not in CP1252

  e->SetComment("über");
  EXPECT_EQ(e->z_origEncodedComment(),
            "\x81"
            "ber");
  EXPECT_EQ(e->Comment().bytes, "über");
  EXPECT_TRUE(archive.Data()->dirty);
}

TEST(EntryNames, ArchiveEncodingChoices) {
  EXPECT_EQ(ZipArchive::EncodedAsUnicode(), &TextEncoding::UTF8());
  EXPECT_EQ(ZipArchive::EncodedAsDOSLatinUS()->Base(), 0x400);
  EXPECT_EQ(ZipArchive::EncodedAsWinLatin1()->Base(), 0x500);
  EXPECT_EQ(ZipArchive::EncodedAsMacDefault(), &TextEncoding::MacRoman());
  zip::ZipArchiveData d;
  EXPECT_EQ(d.archiveEncoding, &TextEncoding::UTF8());
  d.setArchiveEncoding(&TextEncoding::MacRoman());
  EXPECT_EQ(d.encodeForZip("é"), "\x8e");
  d.setArchiveEncoding(nullptr);  // the file-name encoding
  EXPECT_EQ(d.archiveEncoding, &TextEncoding::UTF8());
  EXPECT_EQ(d.encodeForZip("é"), "é");
}
