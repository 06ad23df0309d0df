// Opening real archives made by Info-ZIP's zip and Python's zipfile, and the
// life of an archive object: open, misuse, close, open again.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/framework_exceptions.h"
#include "platform/in_child.h"
#include "zip_test_util.h"

using fixtures::Quote;
using fixtures::Run;
using fixtures::TempDir;
using zip::ZipArchive;
using namespace ziptest;

namespace {

// A small tree to archive: dir/a.txt, dir/sub/b.txt (compressible), dir/empty/.
void MakeTree(const TempDir& dir) {
  std::filesystem::create_directories(dir / "dir/sub");
  std::filesystem::create_directories(dir / "dir/empty");
  fixtures::WriteFile(dir / "dir/a.txt", "hello\n");
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += std::to_string(i) + "\n";
  fixtures::WriteFile(dir / "dir/sub/b.txt", lines);
}

int Zip(const TempDir& dir, const std::string& arguments) {
  return Run("cd " + Quote(dir.path()) + " && ( " + arguments + " ) >/dev/null 2>&1");
}

int Python(const std::string& kind, const std::filesystem::path& out) {
  return Run("python3 " + Quote(fixtures::PythonArchiveScript()) + " " + kind + " " + Quote(out));
}

}  // namespace

TEST(OpenInfoZip, StoredDeflatedFoldersAndComments) {
  TempDir dir;
  MakeTree(dir);
  ASSERT_EQ(Zip(dir,
                "zip -r -X -0 stored.zip dir/a.txt && zip -r deflated.zip dir && "
                "printf 'the archive comment\\n' | zip -z deflated.zip"),
            0);
  ZipArchive stored;
  ASSERT_TRUE(stored.Open(dir / "stored.zip", false)) << stored.ErrorMessage();
  ASSERT_EQ(stored.EntryCount(), 1);
  EXPECT_EQ(RawPathOf(stored, 1), "dir/a.txt");
  EXPECT_EQ(stored.Entry(1)->CompressionMethod(), 0);
  EXPECT_EQ(stored.Entry(1)->Size(), 6);
  EXPECT_EQ(stored.Entry(1)->CompressedSize(), 6);
  EXPECT_TRUE(stored.Entry(1)->CanExtract());
  EXPECT_TRUE(stored.Entry(1)->ExtraFieldInCentralDir()->AsData().empty());  // -X

  ZipArchive deflated;
  ASSERT_TRUE(deflated.Open(dir / "deflated.zip", false)) << deflated.ErrorMessage();
  EXPECT_EQ(deflated.Comment(), "the archive comment");
  std::vector<std::string> paths;
  for (const auto& p : deflated.AllEntriesAsRawPaths()) paths.push_back(p.bytes);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"dir/", "dir/a.txt", "dir/empty/", "dir/sub/",
                                             "dir/sub/b.txt"}));
  int b = deflated.EntryIdxByRawPath("dir/sub/b.txt", 1);
  ASSERT_GT(b, 0);
  EXPECT_EQ(deflated.Entry(b)->CompressionMethod(), 8);
  EXPECT_EQ(deflated.Entry(b)->Size(), 8890);
  EXPECT_LT(deflated.Entry(b)->CompressedSize(), 8890);
  EXPECT_EQ(deflated.Entry(b)->OSMadeBy(), 3);  // Info-ZIP on Unix
  EXPECT_EQ((deflated.Entry(b)->ExternalFileAttributes() >> 16) & 0xF000, 0x8000);
  int folder = deflated.EntryIdxByRawPath("dir/sub/", 1);
  ASSERT_GT(folder, 0);
  EXPECT_TRUE(deflated.Entry(folder)->IsDirectory());
  EXPECT_FALSE(deflated.Entry(folder)->CanExtract());
  EXPECT_TRUE(deflated.Entry(folder)->Time().has_value());
  EXPECT_EQ(deflated.EntryIdxByRawPath("dir/sub", 1), 0);  // folders only with their "/"
}

TEST(OpenInfoZip, PipedEncryptedAndTheFormatsItCannotRead) {
  TempDir dir;
  MakeTree(dir);
  ASSERT_EQ(Zip(dir, "zip - dir/sub/b.txt dir/a.txt | cat > piped.zip"), 0);
  ASSERT_EQ(Zip(dir, "zip -P secret enc.zip dir/a.txt"), 0);
  ASSERT_EQ(Zip(dir, "zip -Z bzip2 bz.zip dir/sub/b.txt"), 0);
  ASSERT_EQ(Zip(dir, "printf 'from stdin' | zip stdin.zip -"), 0);

  ZipArchive piped;
  ASSERT_TRUE(piped.Open(dir / "piped.zip", false)) << piped.ErrorMessage();
  ASSERT_EQ(piped.EntryCount(), 2);
  EXPECT_EQ(RawPathOf(piped, 2), "dir/a.txt");
  // Sizes in data descriptors: the central record has them and flag bit 3.
  auto header = piped.Entry(1)->z_Header();
  EXPECT_EQ(header->UInt16Value(8) & 8, 8);
  EXPECT_EQ(piped.Entry(1)->Size(), 8890);
  // Local and central flags agree, so this is no second name for shared data.
  EXPECT_FALSE(piped.Data()->isFakeEntry(*header, -1));

  ZipArchive enc;
  ASSERT_TRUE(enc.Open(dir / "enc.zip", false)) << enc.ErrorMessage();
  EXPECT_TRUE(enc.Entry(1)->IsEncrypted());
  EXPECT_FALSE(enc.Entry(1)->CanExtract());

  ZipArchive bz;
  EXPECT_FALSE(bz.Open(dir / "bz.zip", false));  // needs version 4.6
  EXPECT_EQ(bz.ErrorMessage(), kNewerFormat);
  ZipArchive in;
  EXPECT_FALSE(in.Open(dir / "stdin.zip", false));  // needs version 4.5
  EXPECT_EQ(in.ErrorMessage(), kNewerFormat);
  EXPECT_FALSE(in.IsOpen());
}

TEST(OpenPythonZipfile, Utf8NamesUnixModesEmptyAndZip64) {
  TempDir dir;
  ASSERT_EQ(Python("utf8", dir / "utf8.zip"), 0);
  ASSERT_EQ(Python("unixmodes", dir / "modes.zip"), 0);
  ASSERT_EQ(Python("empty", dir / "empty.zip"), 0);
  ASSERT_EQ(Python("zip64", dir / "zip64.zip"), 0);

  ZipArchive utf8;
  ASSERT_TRUE(utf8.Open(dir / "utf8.zip", false)) << utf8.ErrorMessage();
  ASSERT_EQ(utf8.EntryCount(), 3);
  EXPECT_EQ(RawPathOf(utf8, 2), "Grüße/naïve café.txt");
  EXPECT_EQ(utf8.Entry(2)->Name(), "naïve café.txt");
  EXPECT_EQ(utf8.Entry(2)->RawPath().encoding, &platform::TextEncoding::UTF8());
  EXPECT_EQ(utf8.EntryIdxByRawPath("日本語.txt", 1), 3);
  auto date = utf8.Entry(3)->Time();
  ASSERT_TRUE(date.has_value());
  EXPECT_EQ(*date, platform::Date::FromFields(2021, 6, 15, 13, 45, 58));

  ZipArchive modes;
  ASSERT_TRUE(modes.Open(dir / "modes.zip", false)) << modes.ErrorMessage();
  ASSERT_EQ(modes.EntryCount(), 3);
  EXPECT_EQ(modes.Entry(2)->OSMadeBy(), 3);
  EXPECT_EQ(static_cast<std::uint32_t>(modes.Entry(2)->ExternalFileAttributes()) >> 16, 0100755u);
  EXPECT_EQ(static_cast<std::uint32_t>(modes.Entry(3)->ExternalFileAttributes()) >> 16, 0100600u);

  // zipfile writes an empty archive as a lone end record: no local header first.
  ZipArchive empty;
  EXPECT_FALSE(empty.Open(dir / "empty.zip", false));
  EXPECT_EQ(empty.ErrorMessage(), kNotAZip);
  ZipArchive z64;
  EXPECT_FALSE(z64.Open(dir / "zip64.zip", false));
  EXPECT_EQ(z64.ErrorMessage(), kNewerFormat);
}

// The quote is nearer the end of the file, but its directory is no
// directory: the archive's own end record is taken, so a writable open and
// Close with no change write the archive as it was.
TEST(OpenPythonZipfile, ACommentQuotingAnEndRecord) {
  TempDir dir;
  ASSERT_EQ(Python("quoted_end", dir / "quoted.zip"), 0);
  const std::string bytes = fixtures::ReadFile(dir / "quoted.zip");
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "quoted.zip", true)) << archive.ErrorMessage();
  ASSERT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(RawPathOf(archive, 2), "second.txt");
  EXPECT_EQ(archive.Comment(), std::string("PK\5\6", 4) + std::string(18, '\0'));
  EXPECT_TRUE(archive.Close());
  EXPECT_EQ(fixtures::ReadFile(dir / "quoted.zip"), bytes);
}

TEST(ArchiveLifecycle, SecondOpenIsRefusedAndLeavesTheFirstInUse) {
  TempDir dir;
  fixtures::RawArchive a;
  a.members.push_back(fixtures::Member("one", "1"));
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build()));
  a.members.push_back(fixtures::Member("two", "2"));
  fixtures::WriteFile(dir / "other.zip", a.Build());
  EXPECT_FALSE(archive.Open(dir / "other.zip", false));
  EXPECT_EQ(archive.ErrorMessage(), "Unexpected error (exception)");
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(RawPathOf(archive, 1), "one");
  EXPECT_NE(archive.Entry(1)->ExtraField(), nullptr);  // the stream still works

  EXPECT_TRUE(archive.Close());
  EXPECT_TRUE(archive.Close());  // nothing left to close
  EXPECT_FALSE(archive.IsOpen());
  ASSERT_TRUE(archive.Open(dir / "other.zip", false)) << archive.ErrorMessage();
  EXPECT_EQ(archive.EntryCount(), 2);
}

TEST(ArchiveLifecycle, EntryIndexAndClosedArchiveMisuseRaise) {
  ZipArchive archive;
  EXPECT_THROW(archive.EntryCount(), platform::RuntimeException);
  EXPECT_THROW(archive.Entry(1), platform::RuntimeException);
  EXPECT_THROW(archive.EntryIdxByRawPath("x", 1), platform::RuntimeException);
  EXPECT_TRUE(archive.AllEntriesAsRawPaths().empty());

  TempDir dir;
  fixtures::RawArchive a;
  a.members.push_back(fixtures::Member("only"));
  ASSERT_TRUE(OpenBytes(archive, dir, a.Build()));
  EXPECT_THROW(archive.Entry(0), platform::OutOfBoundsException);
  EXPECT_THROW(archive.Entry(2), platform::OutOfBoundsException);
  EXPECT_THROW(archive.EntryIdxByRawPath("only", 0), platform::OutOfBoundsException);
  EXPECT_THROW(archive.EntryIdxByRawPath("only", 3), platform::OutOfBoundsException);
  EXPECT_EQ(archive.EntryIdxByRawPath("only", 2), 0);
  EXPECT_EQ(archive.EntryIdxByRawPath("/only", 1), 1);  // one leading "/" is dropped
}

TEST(ArchiveLifecycle, EveryOpenStartsClean) {
  TempDir dir;
  // First file: a comment, more records than counted, and a ditto pair.
  fixtures::RawArchive first;
  first.comment = "first comment";
  first.members.push_back(fixtures::Member("f"));
  first.members.push_back(fixtures::Member("._f", "", fixtures::UnixType1Block(1, 2)));
  first.entriesOnDisk = 1;
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, first.Build(), true, "first.zip"));
  EXPECT_TRUE(archive.CentralDirectoryCorrupted());
  EXPECT_TRUE(archive.UsesAppleDittoFormat());
  archive.Close();

  // A failed open after it shows nothing of it.
  fixtures::RawArchive broken;
  broken.members.push_back(fixtures::Member("ok"));
  broken.members.push_back(fixtures::With(fixtures::Member("new"),
                                          [&](fixtures::RawMember& m) { m.versionNeeded = 45; }));
  EXPECT_FALSE(OpenBytes(archive, dir, broken.Build(), false, "broken.zip"));
  EXPECT_EQ(archive.Comment(), "");
  EXPECT_TRUE(archive.Data()->entries_1.size() == 1 && archive.Data()->setAside.empty());

  // A sound second file opens writable, with nothing of the first.
  fixtures::RawArchive second;
  second.members.push_back(fixtures::Member("s", "s"));
  ASSERT_TRUE(OpenBytes(archive, dir, second.Build(), true, "second.zip"));
  EXPECT_EQ(archive.Comment(), "");
  EXPECT_FALSE(archive.CentralDirectoryCorrupted());
  EXPECT_FALSE(archive.UsesAppleDittoFormat());
  EXPECT_TRUE(archive.IsWritable());
  EXPECT_EQ(archive.EntryCount(), 1);
}

TEST(ArchiveLifecycle, FilesThatCannotBeOpened) {
  TempDir dir;
  ZipArchive archive;
  EXPECT_FALSE(archive.Open(std::filesystem::path(), false));
  EXPECT_EQ(archive.ErrorMessage(), "No file specified");
  EXPECT_FALSE(archive.Open(dir / "missing.zip", false));
  EXPECT_EQ(archive.ErrorMessage(), "Opening the archive file failed");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.zip"));
  EXPECT_FALSE(archive.Open(dir.path(), false));  // a folder
  EXPECT_EQ(archive.ErrorMessage(), "Opening the archive file failed");
  EXPECT_FALSE(archive.Open(dir / "no-folder" / "new.zip", true));
  EXPECT_EQ(archive.ErrorMessage(), "Creating the archive file failed");
  fixtures::WriteFile(dir / "empty.zip", "");
  EXPECT_FALSE(archive.Open(dir / "empty.zip", false));
  EXPECT_EQ(archive.ErrorMessage(), kNotAZip);
  // A FIFO is refused at once, never waited on for a writer.
  ASSERT_EQ(::mkfifo((dir / "fifo.zip").c_str(), 0600), 0);
  EXPECT_EQ(test_support::InChildWithin(std::chrono::seconds(20),
                                        [&] {
                                          return !archive.Open(dir / "fifo.zip", false) &&
                                                 archive.ErrorMessage() ==
                                                     "Opening the archive file failed";
                                        }),
            true);
  if (geteuid() != 0) {  // root may write anything
    fixtures::WriteFile(dir / "locked.zip", "PK");
    chmod((dir / "locked.zip").c_str(), 0444);
    EXPECT_FALSE(archive.Open(dir / "locked.zip", true));
    EXPECT_EQ(archive.ErrorMessage(), "Opening the archive file failed");
  }
}

TEST(ArchiveLifecycle, WritableOpenOfAMissingFileCreatesIt) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "new.zip", true)) << archive.ErrorMessage();
  EXPECT_TRUE(std::filesystem::exists(dir / "new.zip"));
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_TRUE(archive.IsWritable());
  EXPECT_EQ(archive.EntryCount(), 0);
  EXPECT_EQ(archive.StartOfDirectory(), 0);
}

TEST(ArchiveLifecycle, CloseWritesTheDirectoryOfAWritableArchive) {
  TempDir dir;
  fixtures::RawArchive a;
  a.members.push_back(fixtures::Member("one", "1"));
  const std::string bytes = a.Build();

  // Opened writable and left as it was read: the same directory again.
  ZipArchive archive;
  ASSERT_TRUE(OpenBytes(archive, dir, bytes, true));
  EXPECT_TRUE(archive.Close());
  EXPECT_EQ(archive.ErrorMessage(), "");
  EXPECT_EQ(fixtures::ReadFile(dir / "test.zip"), bytes);

  // A changed entry is saved.
  ASSERT_TRUE(archive.Open(dir / "test.zip", true));
  archive.Entry(1)->SetComment("note");
  EXPECT_TRUE(archive.Close());
  EXPECT_FALSE(archive.IsOpen());
  ASSERT_TRUE(archive.Open(dir / "test.zip", false));
  EXPECT_EQ(archive.Entry(1)->Comment().bytes, "note");
  // Read-only, a change cannot be saved, and Close says so.
  archive.Entry(1)->SetComment("other");
  EXPECT_FALSE(archive.Close());
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
  EXPECT_TRUE(archive.Close());  // nothing left to close
}

TEST(ArchiveOptions, DefaultsAndSetters) {
  ZipArchive archive;
  EXPECT_EQ(archive.DefaultOSMadeBy(), 0);
  archive.SetDefaultOSMadeBy(200);
  EXPECT_EQ(archive.DefaultOSMadeBy(), 200);
  EXPECT_FALSE(archive.PreservingUnixPermissions());
  archive.PreserveUnixPermissions(true);
  EXPECT_TRUE(archive.PreservingUnixPermissions());
  EXPECT_EQ(archive.Data()->copyChunkSize, 16384);
  EXPECT_EQ(ZipArchive::Version(), 1.3);

  TempDir dir;
  fixtures::WriteFile(dir / "f", "x");
  chmod((dir / "f").c_str(), 0640);
  std::int32_t perm = -1;
  EXPECT_TRUE(archive.GetUnixPermissions(dir / "f", perm));
  EXPECT_EQ(perm, 0100640);
  // A link gives the mode of what it points at, which is what gets stored.
  std::filesystem::create_symlink("f", dir / "link");
  perm = -1;
  EXPECT_TRUE(archive.GetUnixPermissions(dir / "link", perm));
  EXPECT_EQ(perm, 0100640);
  std::filesystem::create_symlink("gone", dir / "broken");
  perm = 7;
  EXPECT_FALSE(archive.GetUnixPermissions(dir / "gone", perm));
  EXPECT_FALSE(archive.GetUnixPermissions(dir / "broken", perm));
  EXPECT_FALSE(archive.GetUnixPermissions("", perm));
  EXPECT_EQ(perm, 7);
}
