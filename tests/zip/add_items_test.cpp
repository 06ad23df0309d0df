// Adding files and folders of the file system: the walk's order and paths,
// sizes counted beforehand, MacBinary and Unix-permission entries, and the
// monitor's say over skipping and stopping.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "independent_readers.h"
#include "zip/rsrc_fork_streams.h"
#include "zip_test_util.h"

using fixtures::TempDir;
using platform::FolderItem;
using zip::ZipArchive;
using namespace ziptest;
using V = std::vector<std::string>;

namespace {

void WriteFork(const std::filesystem::path& file, const std::string& bytes) {
  zip::RsrcForkWriter w{FolderItem(file)};
  ASSERT_TRUE(w.Open() && w.Write(bytes) && w.Close());
}

V Paths(const ZipArchive& archive, std::size_t from = 0) {
  return Names(archive.Data()->entries_1, from + 1);
}

}  // namespace

TEST(AddItems, FolderWalkOrderAndPaths) {
  // Files out of name order, a name with a backslash, nested and empty
  // folders, and links of every kind.
  TempDir dir;
  const auto root = dir / "root";
  std::filesystem::create_directories(root / "z/y");
  std::filesystem::create_directories(root / "m");
  fixtures::WriteFile(root / "b.txt", "bee");
  fixtures::WriteFile(root / "a.txt", std::string(5000, 'a'));
  fixtures::WriteFile(root / "x\\y", "backslash");
  fixtures::WriteFile(root / "z/c.txt", "sea");
  fixtures::WriteFile(root / "z/y/d.txt", "dee");
  std::filesystem::create_symlink("z/c.txt", root / "link");
  std::filesystem::create_symlink("z", root / "dirlink");
  std::filesystem::create_symlink("nowhere", root / "broken");

  ZipArchive archive;
  ASSERT_TRUE(archive.Open(root / "self.zip", true));  // inside the tree it archives
  ASSERT_EQ(archive.AddItemToRoot(FolderItem(root), ZipArchive::MacBinaryNever()), 1);
  EXPECT_EQ(archive.Entry(1)->ExtraFieldInCentralDir()->AsData(), "");
  ASSERT_TRUE(archive.AddFolderContents(FolderItem(root), RawPathOf(archive, 1), 0, true))
      << archive.ErrorMessage();
  EXPECT_EQ(Paths(archive), (V{"root/", "root/a.txt", "root/b.txt", "root/c.txt", "root/x-y",
                               "root/z/c.txt", "root/z/y/d.txt"}));
  // Without following links, at the root, and with or without a trailing "/".
  ASSERT_TRUE(archive.AddFolderContents(FolderItem(root / "z"), "", 0, false));
  ASSERT_TRUE(archive.AddFolderContents(FolderItem(root / "z/y"), "Docs/", 0, false));
  ASSERT_TRUE(archive.AddFolderContents(FolderItem(root / "z"), "Docs", 0, false));
  EXPECT_EQ(Paths(archive, 7), (V{"c.txt", "y/d.txt", "Docs/d.txt", "Docs/c.txt", "Docs/y/d.txt"}));
  EXPECT_TRUE(ClosedAndAccepted(archive));
  EXPECT_EQ(Unzipped(root / "self.zip", "root/a.txt"), std::string(5000, 'a'));
}

TEST(AddItems, SizesCountedBeforehand) {
  TempDir dir;
  fixtures::WriteFile(dir / "plain", std::string(1000, 'p'));
  fixtures::WriteFile(dir / "forked", std::string(1000, 'f'));
  WriteFork(dir / "forked", std::string(300, 'r'));
  std::filesystem::create_directories(dir / "folder/sub");
  ZipArchive archive;  // counting needs no open archive
  const struct {
    const char* item;
    std::int32_t never, smart, always;
  } cases[] = {{"plain", 1000, 1000, 1152}, {"forked", 1000, 1536, 1536}, {"folder", 0, 0, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    const FolderItem item(dir / c.item);
    EXPECT_EQ(archive.CalcItemSize(item, ZipArchive::MacBinaryNever()), c.never);
    EXPECT_EQ(archive.CalcItemSize(item, ZipArchive::MacBinarySmart()), c.smart);
    EXPECT_EQ(archive.CalcItemSize(item, ZipArchive::MacBinaryAlways()), c.always);
    EXPECT_EQ(archive.CalcItemSize(item, 3), c.never);  // no MacBinary form past 2
  }
  fixtures::WriteFile(dir / "folder/sub/f", std::string(10, 'x'));
  fixtures::WriteFile(dir / "folder/g", std::string(20, 'x'));
  EXPECT_EQ(archive.CalcFolderSize(FolderItem(dir / "folder"), false, 0), 30);
  EXPECT_EQ(archive.CalcFolderSize(FolderItem(dir / "folder"), false, 2), 2 * 256);
  EXPECT_EQ(archive.CalcFolderSize(FolderItem(""), false, 0), -1);
  EXPECT_EQ(archive.ErrorMessage(), "no folder reference given");

  // 2 GiB is over the limit, counted or added; the file is a hole.
  const auto big = dir / "folder/big";
  fixtures::WriteFile(big, "");
  std::filesystem::resize_file(big, 0x7FFFFFFF);  // the most an entry holds
  EXPECT_EQ(archive.CalcItemSize(FolderItem(big), 0), 0x7FFFFFFF);
  std::filesystem::resize_file(big, 0x80000000ULL);
  EXPECT_LT(archive.CalcItemSize(FolderItem(big), 0), 0);
  EXPECT_EQ(archive.CalcFolderSize(FolderItem(dir / "folder"), false, 0), -1);
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  EXPECT_FALSE(archive.AddFolderContents(FolderItem(dir / "folder"), "", 0, false));
  EXPECT_EQ(archive.ErrorMessage(), "Item exceeds archive limit of 2GB");
  EXPECT_EQ(archive.EntryCount(), 0);  // big comes first and stops the walk
  // So much in a resource fork, counted without MacBinary.
  fixtures::WriteFile(dir / "._plain", fixtures::AppleDoubleHeader({{2, 38, 0x7FFFFFFF}}));
  std::filesystem::resize_file(dir / "._plain", 38 + 0x7FFFFFFFULL);
  EXPECT_EQ(archive.CalcItemSize(FolderItem(dir / "plain"), 3), 1000);
}

TEST(AddItems, MacBinaryAndUnixPermissionEntries) {
  TempDir dir;
  const auto file = dir / "Read Me";
  fixtures::WriteFile(file, "data fork");
  WriteFork(file, std::string(300, 'r'));
  ASSERT_TRUE(FolderItem(file).SetMacType("TEXT") && FolderItem(file).SetMacCreator("ttxt"));
  fixtures::WriteFile(dir / "tool", "#!/bin/sh\n");
  chmod((dir / "tool").c_str(), 0750);
  std::filesystem::create_directories(dir / "shared");
  chmod((dir / "shared").c_str(), 0755);

  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  ASSERT_EQ(archive.AddItemToRoot(FolderItem(file), ZipArchive::MacBinarySmart()), 1);
  archive.PreserveUnixPermissions(true);
  ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "tool"), ZipArchive::MacBinarySmart()), 2);
  ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "shared"), ZipArchive::MacBinarySmart()), 3);
  EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "gone"), 0), -38);
  EXPECT_EQ(archive.ErrorMessage(), "Opening the source data stream failed");
  std::string type, creator;
  platform::Text name;
  ASSERT_TRUE(archive.Entry(1)->ExtraFieldInCentralDir()->GetTypeCreatorName(type, creator, name));
  EXPECT_EQ(type + creator + name.bytes, "TEXTttxtRead Me");
  EXPECT_EQ(archive.Entry(1)->OSMadeBy(), archive.DefaultOSMadeBy());  // added before the option
  EXPECT_EQ(static_cast<std::uint32_t>(archive.Entry(2)->ExternalFileAttributes()),
            (0100750u << 16) | 1);
  EXPECT_TRUE(ClosedAndAccepted(archive));

  const std::string info = ZipInfo(dir / "a.zip");
  EXPECT_NE(info.find("-rwxr-x---  2.0 unx"), std::string::npos) << info;
  EXPECT_NE(info.find("drwxr-xr-x"), std::string::npos) << info;
  const std::string out = Unzipped(dir / "a.zip", "Read Me");
  ASSERT_EQ(out.size(), 128u + 128 + 384);
  EXPECT_EQ(out.substr(65, 8), "TEXTttxt");
  EXPECT_EQ(out.substr(128, 9), "data fork");
  EXPECT_EQ(out.substr(256, 300), std::string(300, 'r'));
}

TEST(AddItems, TheMonitorSkipsAndStops) {
  TempDir dir;
  std::filesystem::create_directories(dir / "t");
  for (const char* n : {"a", "b", "c", "d"}) fixtures::WriteFile(dir / "t" / n, n);
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  auto monitor = std::make_shared<RecordingMonitor>();
  archive.SetProgressMonitor(monitor);
  archive.PreserveUnixPermissions(true);  // not for what was not added

  // A failed file is left out when the monitor says go on...
  monitor->abortEntry = "b";
  EXPECT_TRUE(archive.AddFolderContents(FolderItem(dir / "t"), "", 0, false));
  EXPECT_EQ(Paths(archive), (V{"a", "c", "d"}));
  EXPECT_EQ(monitor->errors, (V{"b 0 Aborted"}));
  // ... and ends the walk when it says stop.
  monitor->stopOnError = true;
  EXPECT_FALSE(archive.AddFolderContents(FolderItem(dir / "t"), "again", 0, false));
  EXPECT_EQ(archive.ErrorMessage(), "Aborted");
  EXPECT_EQ(Paths(archive, 3), (V{"again/a"}));
  // Skipping a file ends the walk before it, and leaves the message alone.
  monitor->abortEntry.clear();
  monitor->skipAt = "c";
  EXPECT_FALSE(archive.AddFolderContents(FolderItem(dir / "t"), "skip", 0, false));
  EXPECT_EQ(archive.ErrorMessage(), "Aborted");
  EXPECT_EQ(Paths(archive, 4), (V{"skip/a", "skip/b"}));
  EXPECT_TRUE(ClosedAndAccepted(archive));

  ASSERT_TRUE(archive.Open(dir / "a.zip", false));
  EXPECT_FALSE(archive.AddFolderContents(FolderItem(""), "", 0, false));
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "t/a"), 0), 0);
}
