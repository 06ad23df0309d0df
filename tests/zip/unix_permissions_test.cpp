// The 16-bit halves of external attributes that carry a Unix mode, and the
// mode of an item on disk read and changed through a reference.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive_data.h"
#include "zip_test_util.h"

namespace {

using zip::ZipArchiveData;

TEST(UnixPermissionsTest, ModesMoveIntoAndOutOfTheUpperHalf) {
  EXPECT_EQ(ZipArchiveData::shiftRight16(static_cast<std::int32_t>(0100644u << 16)), 0100644);
  EXPECT_EQ(ZipArchiveData::shiftLeft16(0100755), static_cast<std::int32_t>(0x81ED0000u));
  EXPECT_LT(ZipArchiveData::shiftLeft16(0100755), 0);
  EXPECT_EQ(ZipArchiveData::shiftLeft16(0x12345678), 0x56780000);
  for (std::int32_t m = 0; m <= 0xFFFF; ++m) {
    ASSERT_EQ(ZipArchiveData::shiftRight16(ZipArchiveData::shiftLeft16(m)), m);
  }
}

TEST(UnixPermissionsTest, ModesAreReadAndSetThroughAReferenceNeverThroughALink) {
  fixtures::TempDir dir;
  ZipArchiveData d;
  fixtures::WriteFile(dir / "f", "x");
  ::chmod((dir / "f").c_str(), 0640);
  const auto ref = d.makeFSRef(platform::FolderItem(dir / "f"));
  ASSERT_TRUE(ref);
  EXPECT_EQ(d.updateUnixPermissions(*ref, 0xFFFF, 0511), 0);
  EXPECT_EQ(ziptest::ModeOf(dir / "f") & 07777, 0751u);
  EXPECT_EQ(d.updateUnixPermissions(*ref, 0, 0100604), 0);
  std::int32_t mode = 0;
  EXPECT_EQ(d.getUnixPermissionsFromFile(*ref, mode), 0);
  EXPECT_EQ(mode, 0100604);

  std::filesystem::create_symlink(dir / "f", dir / "link");
  const auto link = d.makeFSRef(platform::FolderItem(dir / "link"));
  ASSERT_TRUE(link);
  EXPECT_NE(d.updateUnixPermissions(*link, 0, 0777), 0);
  EXPECT_EQ(ziptest::ModeOf(dir / "f") & 07777, 0604u);

  EXPECT_FALSE(d.makeFSRef(platform::FolderItem(dir / "missing")));
  std::filesystem::remove(dir / "f");
  mode = 7;
  EXPECT_EQ(d.getUnixPermissionsFromFile(*ref, mode), -43);
  EXPECT_EQ(mode, 7);
}

}  // namespace
