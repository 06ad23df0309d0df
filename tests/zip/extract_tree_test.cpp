// Archives made by Info-ZIP and by Python's zipfile from one folder tree,
// stored, deflated and streamed with data descriptors, extract to that tree:
// the same bytes, permission bits and modification times, folders (in place
// of a link that stood there) with their dates, whatever was written into
// them after their members, and links as regular files holding their text.
// Encrypted and bzip2 members, and a folder member onto a write-protected
// folder or onto a file, are refused with their messages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace ziptest;

// 2021-06-15 13:45:58 local time: even seconds, as DOS times hold them.
constexpr char kStamp[] = "202106151345.58";

class ExtractTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(src_ / "bin");
    fs::create_directories(src_ / "folder/sub");
    fixtures::WriteFile(src_ / "plain.txt", "plain text\n");
    fixtures::WriteFile(src_ / "empty", "");
    fixtures::WriteFile(src_ / "bin/run.sh", "#!/bin/sh\necho hi\n");
    fixtures::WriteFile(src_ / "bin/secret", "s3cr3t");
    std::string big;
    for (std::uint32_t x = 1; big.size() < 300000; x = x * 1103515245 + 12345) {
      big.push_back(static_cast<char>(x >> 24));
    }
    fixtures::WriteFile(src_ / "big.bin", big);
    fs::permissions(src_ / "bin/run.sh", fs::perms(0755));
    fs::permissions(src_ / "bin/secret", fs::perms(0600));
    fs::create_symlink("plain.txt", src_ / "link");
    ASSERT_EQ(Sh("find . -exec touch -h -t " + std::string(kStamp) + " {} +"), 0);
  }

  int Sh(const std::string& line) {
    return fixtures::Run("cd " + fixtures::Quote(src_) + " && (" + line + ") >/dev/null 2>&1");
  }

  // Opens the archive made by `line` (which writes ../a.zip) and extracts it.
  std::vector<Extracted> Extract(const std::string& line, zip::ZipArchive& archive) {
    EXPECT_EQ(Sh(line), 0) << line;
    EXPECT_TRUE(archive.Open(dir_ / "a.zip", false)) << archive.ErrorMessage();
    fs::create_directories(out_);
    return archive.IsOpen() ? ExtractAll(archive, out_) : std::vector<Extracted>{};
  }

  fixtures::TempDir dir_;
  fs::path src_ = dir_ / "src";
  fs::path out_ = dir_ / "out";
};

TEST_F(ExtractTreeTest, ArchivesOfOtherToolsExtractToTheTreeTheyWereMadeFrom) {
  const std::string py = "python3 " + fixtures::Quote(fixtures::PythonArchiveScript());
  // Info-ZIP cannot store a link into a pipe, so its streamed archive has none.
  struct Case {
    std::string line;
    bool links;
  };
  // A link stands where a folder of the tree goes: the folder replaces it,
  // and what it led to stays as it was.
  fs::create_directories(dir_ / "elsewhere");
  fixtures::WriteFile(dir_ / "elsewhere/x", "outside");
  for (const Case& c :
       {Case{"zip -q -r -y ../a.zip .", true}, Case{"zip -q -r -y -0 ../a.zip .", true},
        Case{"zip -q -r - . -x link | cat > ../a.zip", false}, Case{py + " tree ../a.zip .", true},
        Case{py + " streamed ../a.zip .", true}}) {
    SCOPED_TRACE(c.line);
    fs::create_directories(out_);
    fs::create_directory_symlink(dir_ / "elsewhere", out_ / "folder");
    zip::ZipArchive archive;
    for (const Extracted& e : Extract(c.line, archive)) EXPECT_EQ(e.message, "") << e.rawPath;
    // Folders get their dates once the extraction is done with them, at the
    // latest when the archive is closed.
    archive.Close();
    for (const fs::directory_entry& item : fs::recursive_directory_iterator(src_)) {
      const fs::path rel = item.path().lexically_relative(src_);
      if (item.is_symlink() && !c.links) continue;
      const fs::path got = out_ / rel;
      SCOPED_TRACE(rel.string());
      if (item.is_symlink()) {
        EXPECT_TRUE(S_ISREG(ModeOf(got)));
        EXPECT_EQ(fixtures::ReadFile(got), "plain.txt");
      } else if (item.is_directory()) {
        EXPECT_TRUE(S_ISDIR(ModeOf(got)));
        EXPECT_EQ(fs::last_write_time(got), fs::last_write_time(item.path()));
      } else {
        EXPECT_EQ(fixtures::ReadFile(got), fixtures::ReadFile(item.path()));
        EXPECT_EQ(ModeOf(got) & 07777, ModeOf(item.path()) & 07777);
        EXPECT_EQ(fs::last_write_time(got), fs::last_write_time(item.path()));
      }
    }
    fs::remove_all(out_);
    fs::remove(dir_ / "a.zip");
  }
  EXPECT_EQ(Snapshot(dir_ / "elsewhere"), (std::map<std::string, std::string>{{"x", "outside"}}));
}

TEST_F(ExtractTreeTest, ARootNamedFromTheWorkingFolderIsMadeWithTheTreeBelowIt) {
  zip::ZipArchive archive;
  ASSERT_EQ(Sh("zip -q -r ../a.zip ."), 0);
  ASSERT_TRUE(archive.Open(dir_ / "a.zip", false)) << archive.ErrorMessage();
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  const std::vector<Extracted> got = ExtractAll(archive, "new");
  fs::current_path(cwd);
  for (const Extracted& e : got) EXPECT_EQ(e.message, "") << e.rawPath;
  EXPECT_EQ(fixtures::ReadFile(dir_ / "new/bin/run.sh"), fixtures::ReadFile(src_ / "bin/run.sh"));
  // Only the root itself is made: below a missing folder every member fails.
  for (const Extracted& e : ExtractAll(archive, dir_ / "missing/new")) {
    EXPECT_EQ(e.message, e.rawPath.ends_with("/") ? kFolderCreation : kCreateFailed) << e.rawPath;
  }
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(ExtractTreeTest, EncryptedBzip2AndFolderMembersOntoWhatTheyMayNotReplaceAreRefused) {
  zip::ZipArchive encrypted;
  const std::vector<Extracted> got = Extract("zip -q -P secret ../a.zip plain.txt", encrypted);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].message, kEncrypted);
  EXPECT_TRUE(fs::is_empty(out_));

  // zipfile marks bzip2 members as needing version 4.6, past what is read.
  zip::ZipArchive bzip2;
  ASSERT_EQ(Sh("python3 " + fixtures::Quote(fixtures::PythonArchiveScript()) + " bzip2 ../b.zip"),
            0);
  EXPECT_FALSE(bzip2.Open(dir_ / "b.zip", false));
  EXPECT_EQ(bzip2.ErrorMessage(), kNewerFormat);

  // A folder member onto a write-protected folder, or onto a file: what
  // stands there stays as it was.
  fs::remove(dir_ / "a.zip");
  ASSERT_EQ(Sh("zip -q -r ../a.zip folder"), 0);
  const struct {
    std::function<void()> make;
    std::string message;
  } onto[] = {
      {[&] { fs::permissions(out_ / "folder/sub", fs::perms(0555)); },
       "Destination file is write protected"},
      {[&] {
         fs::remove(out_ / "folder/sub");
         fixtures::WriteFile(out_ / "folder/sub", "a file");
       },
       kFolderOverFile},
  };
  for (const auto& c : onto) {
    SCOPED_TRACE(c.message);
    fs::remove_all(out_);
    fs::create_directories(out_ / "folder/sub");
    c.make();
    const auto before = Snapshot(out_);
    const unsigned mode = ModeOf(out_ / "folder/sub");
    zip::ZipArchive folders;
    ASSERT_TRUE(folders.Open(dir_ / "a.zip", false)) << folders.ErrorMessage();
    const std::vector<Extracted> extracted = ExtractAll(folders, out_);
    ASSERT_EQ(extracted.size(), 2u);
    EXPECT_EQ(extracted[1].rawPath + ": " + extracted[1].message, "folder/sub/: " + c.message);
    EXPECT_EQ(Snapshot(out_), before);
    EXPECT_EQ(ModeOf(out_ / "folder/sub"), mode);
  }
}

}  // namespace
