// Archives that 7-Zip, bsdtar and Info-ZIP make of one folder tree extract
// with the library's loop to the tree that Info-ZIP's unzip makes of them:
// the same items, bytes and permission bits. Names that are no UTF-8 keep
// their bytes, so two of them never meet in one file. Methods past deflate
// and zip64 archives are refused as a newer format.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include "fixtures/zip_builder.h"
#include "independent_readers.h"
#include "zip/zip_archive.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace ziptest;

class OtherWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(src_ / "bin");
    fs::create_directories(src_ / "folder/empty");
    fixtures::WriteFile(src_ / "plain.txt", "plain text\n");
    fixtures::WriteFile(src_ / "empty", "");
    fixtures::WriteFile(src_ / "bin/run.sh", "#!/bin/sh\necho hi\n");
    fixtures::WriteFile(src_ / "folder/lines.txt", LinesOfText(200000));
    fixtures::WriteFile(src_ / "caf\xe9.txt", "first latin-1 name\n");
    fixtures::WriteFile(src_ / "caf\xe8.txt", "second latin-1 name\n");
    fs::permissions(src_ / "bin/run.sh", fs::perms(0755));
    fs::permissions(src_ / "plain.txt", fs::perms(0600));
  }

  int Sh(const std::string& line) {
    return fixtures::Run("cd " + fixtures::Quote(src_) + " && (" + line + ") >/dev/null 2>&1");
  }

  // Every item below `dir`: "/" for a folder, else a digest of the file's
  // bytes (a failure then prints short lines) and its permission bits.
  // Folders get theirs from the umask here.
  static std::map<std::string, std::string> Tree(const fs::path& dir) {
    std::map<std::string, std::string> items = Snapshot(dir);
    for (auto& [rel, what] : items) {
      if (what == "/") continue;
      what = std::to_string(what.size()) + " bytes, hash " +
             std::to_string(std::hash<std::string>{}(what)) + ", mode " +
             std::to_string(ModeOf(dir / rel) & 0777);
    }
    return items;
  }

  fixtures::TempDir dir_;
  fs::path src_ = dir_ / "src";
  fs::path archive_ = dir_ / "a.zip";
};

TEST_F(OtherWritersTest, ArchivesExtractAsUnzipExtractsThem) {
  for (const char* line : {
           "7z a -tzip -mm=Deflate ../a.zip .", "7z a -tzip -mm=Copy ../a.zip .",
           "bsdtar -a -cf ../a.zip .",
           "bsdtar --format zip --options zip:compression=store -cf ../a.zip .",
           "bsdtar --format zip -cf - . | cat > ../a.zip",  // data descriptors
           "zip -q -r -D ../a.zip .",                       // folders only implied
       }) {
    SCOPED_TRACE(line);
    ASSERT_EQ(Sh(line), 0);
    const fs::path ours = dir_ / "ours", theirs = dir_ / "theirs";
    fs::create_directories(ours);
    ASSERT_EQ(fixtures::Run("unzip -o -q " + fixtures::Quote(archive_) + " -d " +
                            fixtures::Quote(theirs)),
              0);
    zip::ZipArchive archive;
    ASSERT_TRUE(archive.Open(archive_, false)) << archive.ErrorMessage();
    for (const Extracted& e : ExtractAll(archive, ours)) EXPECT_EQ(e.message, "") << e.rawPath;
    EXPECT_TRUE(archive.Close());
    EXPECT_EQ(Tree(ours), Tree(theirs));
    EXPECT_EQ(fixtures::ReadFile(ours / "caf\xe8.txt"), "second latin-1 name\n");
    fs::remove_all(ours);
    fs::remove_all(theirs);
    fs::remove(archive_);
  }
}

TEST_F(OtherWritersTest, NewerMethodsAndZip64AreRefusedWhenOpened) {
  for (const char* line : {
           "7z a -tzip -mm=Deflate64 ../a.zip .", "7z a -tzip -mm=BZip2 ../a.zip .",
           "7z a -tzip -mm=LZMA ../a.zip .",
           "bsdtar --format zip --options zip:zip64 -cf ../a.zip .",
           "zip -q -r -fz ../a.zip .",  // the directory's place only in zip64 records
       }) {
    SCOPED_TRACE(line);
    ASSERT_EQ(Sh(line), 0);
    zip::ZipArchive archive;
    EXPECT_FALSE(archive.Open(archive_, false));
    EXPECT_EQ(archive.ErrorMessage(), kNewerFormat);
    fs::remove(archive_);
  }
}

}  // namespace
