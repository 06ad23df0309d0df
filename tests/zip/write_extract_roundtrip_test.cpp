// A folder tree written with the library and put back onto disk by its own
// extraction: every data fork, resource fork, Finder information, date and
// permission comes back as it was, and no item is added or lost on the way.
#include <gtest/gtest.h>

#include <random>

#include "zip/rsrc_fork_streams.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using platform::Date;
using platform::FolderItem;
using zip::ZipArchive;

// Bytes deflate cannot shrink.
std::string Noise(std::size_t size) {
  std::mt19937 gen(7);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

std::string RsrcFork(const fs::path& file) {
  zip::RsrcForkReader r{FolderItem(file)};
  return r.Open() ? r.Read(1 << 20) : "(no fork)";
}

bool IsSidecar(const fs::path& p) {
  return p.filename().string().rfind("._", 0) == 0;
}

// What the archive must carry of one file.
struct Look {
  std::string data, rsrc, finderInfo;
  std::int64_t created, modified;
  unsigned mode;
};

Look LookAt(const fs::path& file) {
  const FolderItem item(file);
  return {fixtures::ReadFile(file),
          RsrcFork(file),
          item.FinderInfo(),
          item.CreationDate().TotalSeconds(),
          item.ModificationDate().TotalSeconds(),
          ziptest::ModeOf(file) & 07777};
}

// Files with a resource fork travel as MacBinary, whose header holds their
// dates to the second; the others have the DOS time's two seconds.
void ExpectSameFile(const Look& in, const Look& out) {
  EXPECT_EQ(out.data, in.data);
  EXPECT_EQ(out.rsrc, in.rsrc);
  EXPECT_EQ(out.finderInfo, in.finderInfo);
  EXPECT_EQ(out.mode, in.mode);
  const std::int64_t slack = in.rsrc.empty() ? 1 : 0;
  EXPECT_LE(in.created - out.created, slack);
  EXPECT_GE(in.created - out.created, 0);
  EXPECT_LE(in.modified - out.modified, slack);
  EXPECT_GE(in.modified - out.modified, 0);
}

void WriteWithFork(const fs::path& file, const std::string& data, const std::string& fork) {
  fixtures::WriteFile(file, data);
  zip::RsrcForkWriter w{FolderItem(file)};
  ASSERT_TRUE(w.Open() && w.Write(fork) && w.Close());
}

void MakeTree(const fs::path& src) {
  fs::create_directories(src / "nested/deeper");
  fixtures::WriteFile(src / "plain.txt", "plain text\n");
  fixtures::WriteFile(src / "empty", "");

  // A name outside ASCII, which the MacBinary header holds in Mac Roman.
  const fs::path forked = src / "R\xC3\xA9sum\xC3\xA9";
  WriteWithFork(forked, "data fork", Noise(300));
  std::string info(platform::kFinderInfoSize, '\0');
  info.replace(0, 8, "TEXTttxt");
  info[platform::finder_info::kFlags] = 0x24;      // has bundle, custom icon
  info[platform::finder_info::kFlags + 1] = 0x0E;  // a colour label
  ASSERT_TRUE(FolderItem(forked).SetFinderInfo(info));
  ASSERT_TRUE(FolderItem(forked).SetCreationDate(Date::FromFields(2001, 9, 8, 7, 6, 5)));

  fixtures::WriteFile(src / "nested/typed", "type and creator only");
  ASSERT_TRUE(FolderItem(src / "nested/typed").SetMacType("ttro"));
  ASSERT_TRUE(FolderItem(src / "nested/typed").SetMacCreator("ttxt"));
  // No data fork, and a resource fork of more than one chunk.
  WriteWithFork(src / "nested/only fork", "", Noise(40000));
  fixtures::WriteFile(src / "nested/tool", "#!/bin/sh\n");
  fs::permissions(src / "nested/tool", fs::perms(0750));
  fixtures::WriteFile(src / "nested/deeper/secret", "s3cr3t");
  fs::permissions(src / "nested/deeper/secret", fs::perms(0600));
  fixtures::WriteFile(src / "nested/deeper/large",
                      ziptest::LinesOfText(300000) + Noise(200000) + ziptest::LinesOfText(1000));

  // Odd seconds, which the DOS time cannot hold.
  int second = 1;
  for (const auto& e : fs::recursive_directory_iterator(src)) {
    if (e.is_regular_file() && !IsSidecar(e.path())) {
      ASSERT_TRUE(FolderItem(e.path()).SetModificationDate(
          Date::FromFields(2015, 6, 7, 8, 9, second += 2)));
    }
  }
}

TEST(WriteExtractRoundTrip, ATreeComesBackWithItsMacMetadataAndModes) {
  fixtures::TempDir dir;
  const fs::path src = dir / "src", out = dir / "out";
  MakeTree(src);
  fs::create_directories(out);

  ZipArchive writer;
  ASSERT_TRUE(writer.Open(dir / "tree.zip", true)) << writer.ErrorMessage();
  writer.PreserveUnixPermissions(true);
  ASSERT_TRUE(writer.AddFolderContents(FolderItem(src), "", ZipArchive::MacBinarySmart(), false))
      << writer.ErrorMessage();
  ASSERT_TRUE(writer.Close()) << writer.ErrorMessage();

  ZipArchive reader;
  ASSERT_TRUE(reader.Open(dir / "tree.zip", false)) << reader.ErrorMessage();
  for (const ziptest::Extracted& e : ziptest::ExtractAll(reader, out)) {
    EXPECT_EQ(e.message, "") << e.rawPath;
  }
  reader.Close();

  // The same items by name, sidecars included: none left over, none missing.
  std::map<std::string, std::string> before = ziptest::Snapshot(src),
                                     after = ziptest::Snapshot(out);
  auto names = [](const std::map<std::string, std::string>& items) {
    std::vector<std::string> out;
    for (const auto& item : items) out.push_back(item.first);
    return out;
  };
  EXPECT_EQ(names(after), names(before));

  for (const auto& [name, bytes] : before) {
    if (bytes == "/" || IsSidecar(name)) continue;
    SCOPED_TRACE(name);
    if (after.count(name) != 0) ExpectSameFile(LookAt(src / name), LookAt(out / name));
  }
}

}  // namespace
