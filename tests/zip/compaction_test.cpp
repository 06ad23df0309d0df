// Compaction: the members that stay are moved down over the gaps, checked
// against their records first, and come out byte for byte as they were.
#include <gtest/gtest.h>

#include "independent_readers.h"
#include "zip_test_util.h"

using fixtures::Quote;
using fixtures::RawArchive;
using fixtures::TempDir;
using zip::ZipArchive;
using namespace ziptest;

namespace {

std::uint32_t LocalOffset(const ZipArchive& a, int i) {
  return a.Entry(i)->z_Header()->UInt32Value(42);
}

// Info-ZIP's archive of six files, stored and deflated, in a fresh folder.
std::filesystem::path InfoZipArchive(const TempDir& dir, const std::string& args) {
  std::filesystem::create_directories(dir / "src");
  for (int i = 0; i < 6; ++i) {
    std::string data;
    for (int k = 0; k < 3000 * i + 1; ++k) data += std::to_string(k * i % 97);
    fixtures::WriteFile(dir / ("src/f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin")), data);
  }
  fixtures::Run("cd " + Quote(dir / "src") + " && " + "(" + args + ") 2>/dev/null");
  return dir / "src/a.zip";
}

}  // namespace

TEST(Compaction, ClosesTheGapsAndLeavesTheOthersWhole) {
  TempDir dir;
  const auto path =
      InfoZipArchive(dir, "zip -q -n .bin a.zip f0.bin f1.txt f2.bin f3.txt f4.bin f5.txt");
  const auto before = std::filesystem::file_size(path);
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path, true)) << archive.ErrorMessage();
  ASSERT_EQ(archive.EntryCount(), 6);
  for (int i : {1, 2, 3}) ASSERT_TRUE(archive.RemoveEntry(i));  // the .bin files
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  EXPECT_EQ(LocalOffset(archive, 1), 0u);
  EXPECT_TRUE(ClosedAndAccepted(archive));
  EXPECT_LT(std::filesystem::file_size(path), before / 2);
  ASSERT_TRUE(archive.Open(path, false));
  ASSERT_EQ(archive.EntryCount(), 3);
  for (int i = 1; i <= 3; ++i) {
    const std::string name = RawPathOf(archive, i);
    EXPECT_EQ(Unzipped(path, name), fixtures::ReadFile(dir / "src" / name)) << name;
  }
}

TEST(Compaction, StreamedMembersLoseTheirDataDescriptors) {
  TempDir dir;
  const auto path = InfoZipArchive(dir, "zip -q - f1.txt f2.bin f3.txt | cat > a.zip");
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(path, true)) << archive.ErrorMessage();
  ASSERT_EQ(archive.Entry(1)->z_Header()->UInt16Value(8) & 8, 8);
  ASSERT_TRUE(archive.RemoveEntry(2));  // f1.txt stays where it is, f3.txt moves
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  EXPECT_TRUE(ClosedAndAccepted(archive));
  // Neither the local headers, moved or not, nor their records carry bit 3
  // any more, and a second compaction takes them as matching.
  ASSERT_TRUE(archive.Open(path, true));
  for (int i : {1, 2}) {
    EXPECT_EQ(fixtures::ReadFile(path)[LocalOffset(archive, i) + 6] & 8, 0) << i;
    EXPECT_EQ(archive.Entry(i)->z_Header()->UInt16Value(8) & 8, 0) << i;
  }
  ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
  EXPECT_TRUE(ClosedAndAccepted(archive));
  EXPECT_EQ(Unzipped(path, "f3.txt"), fixtures::ReadFile(dir / "src/f3.txt"));
}

TEST(Compaction, DamagedMembersStopItBeforeAnythingMoves) {
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("gap", std::string(50, 'g')));
  raw.members.push_back(fixtures::Member("a", "AAAA"));
  raw.members.push_back(fixtures::Member("b", std::string(20, 'b')));
  RawArchive overlap = raw;
  overlap.members[1].compressedSize = overlap.members[1].uncompressedSize = 40;
  const auto point = [](int entry, std::uint32_t offset) {
    return [=](ZipArchive& a) { a.Entry(entry)->z_Header()->SetUInt32Value(42, offset); };
  };
  RawArchive mismatch = raw;
  mismatch.members[2].localFlags = 2;
  // Both records point at b's header, whose sizes follow in a data
  // descriptor: a's record would give it a's sizes, and b could not be read.
  RawArchive descriptors = raw;
  descriptors.members[1].flags = descriptors.members[2].flags = 8;
  const auto shareB = [](ZipArchive& a) {
    a.Entry(1)->z_Header()->SetUInt32Value(42, LocalOffset(a, 2));
  };
  const std::function<void(ZipArchive&)> none = [](ZipArchive&) {};
  const struct {
    const char* what;
    std::string bytes;
    std::function<void(ZipArchive&)> damage;
    const char* message;
  } cases[] = {
      {"header where the record points is no header", raw.Build(), point(1, 40),
       "Invalid Local File Header signature (archive appears to be severely corrupted)"},
      {"local header differs from its record", mismatch.Build(), none,
       "File Headers mismatch (archive appears to be severely corrupted)"},
      {"records that share a header disagree about it", descriptors.Build(), shareB,
       "File Headers mismatch (archive appears to be severely corrupted)"},
      {"a member's data runs over the next one", overlap.Build(), none,
       "Archive members overlap (archive appears to be severely corrupted)"},
      {"a member beyond the end of the file", raw.Build(), point(2, 100000),
       "Archive member lies outside the archive (archive appears to be severely corrupted)"},
      {"a member's header in the directory", raw.Build(), point(2, 169),
       "Archive member lies outside the archive (archive appears to be severely corrupted)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZipArchive archive;
    ASSERT_TRUE(OpenBytes(archive, dir, c.bytes, true)) << archive.ErrorMessage();
    ASSERT_TRUE(archive.IsWritable());
    ASSERT_TRUE(archive.RemoveEntry(1));
    c.damage(archive);
    // Where the records point and where the directory goes stay as they were.
    const auto places = [&] {
      return std::vector<std::int64_t>{LocalOffset(archive, 1), LocalOffset(archive, 2),
                                       archive.StartOfDirectory()};
    };
    const std::vector<std::int64_t> before = places();
    EXPECT_FALSE(archive.Compact());
    EXPECT_EQ(archive.ErrorMessage(), c.message);
    EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), c.bytes);
    EXPECT_EQ(places(), before);
  }
  // A last member that is a bare header, ending just where the directory
  // begins, is no damage: it moves.
  RawArchive bare;
  bare.members = {fixtures::Member("gap", "gap"), fixtures::Member("", "")};
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, bare.Build(), true)) << archive.ErrorMessage();
  ASSERT_TRUE(archive.RemoveEntry(1));
  EXPECT_TRUE(archive.Compact()) << archive.ErrorMessage();
  EXPECT_EQ(LocalOffset(archive, 1), 0u);
}

TEST(Compaction, EmptyAndReadOnlyArchives) {
  TempDir dir;
  RawArchive raw;
  raw.members.push_back(fixtures::Member("a", "AAAA"));
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, raw.Build(), false));
  EXPECT_FALSE(archive.Compact());
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  archive.Close();

  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  ASSERT_TRUE(archive.RemoveEntry(1));
  ASSERT_TRUE(archive.Compact());
  // Its directory is written at once, with the "/" member at 0.
  EXPECT_EQ(archive.StartOfDirectory(), 31);
  EXPECT_EQ(std::filesystem::file_size(dir / "test.zip"), 31u + 47u + 22u);
  EXPECT_TRUE(ClosedAndAccepted(archive));
}
