// Writing one entry from streams: the stored, deflated and MacBinary forms
// as independent readers see them, names and comments in every encoding,
// and the ways an entry can fail without leaving the archive unreadable.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "independent_readers.h"
#include "platform/framework_exceptions.h"
#include "zip/file_streams.h"
#include "zip_test_util.h"

using fixtures::Quote;
using fixtures::TempDir;
using platform::FolderItem;
using zip::FileReader;
using zip::ZipArchive;
using namespace ziptest;

namespace {

// Whether zlib cannot set up a deflater, as when memory is short: its set-up
// stands in for the test program and passes every other call on.
bool failDeflateInit = false;

std::string Noise(std::size_t size) {
  std::string out(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : out) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  return out;
}

// A reader over a file written with `bytes` in `dir`.
FileReader Source(const TempDir& dir, const std::string& name, const std::string& bytes) {
  fixtures::WriteFile(dir / name, bytes);
  return FileReader(FolderItem(dir / name));
}

}  // namespace

TEST(EntryWriter, StoredDeflatedAndMacBinaryEntriesReadBack) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  const std::string text = LinesOfText(100000), noise = Noise(5000), fork = LinesOfText(20000);
  FileReader textSource = Source(dir, "t", text), noiseSource = Source(dir, "n", noise);
  FileReader data = Source(dir, "d", fork), rsrc = Source(dir, "r", std::string(300, 'r'));
  FileReader never(FolderItem(dir / "missing"));
  const platform::Date date = platform::Date::FromFields(2021, 6, 15, 2, 3, 5);
  ASSERT_EQ(archive.AddItemByStreams(&textSource, 100000, nullptr, 0, nullptr, "/docs/t.txt",
                                     nullptr, date),
            1);
  ASSERT_EQ(AddData(archive, "noise.bin", &noiseSource, 5000), 2);
  ASSERT_EQ(AddData(archive, "empty", &never, 0), 3);  // length 0: the source is not opened
  platform::MemoryBlockRef header =
      archive.MakeMacBinaryHeader(20000, 300, "Read Me", "TEXT", "ttxt", date, date);
  ASSERT_EQ(archive.AddItemByStreams(&data, 20000, &rsrc, 300, header.get(), "Read Me",
                                     archive.MakeZipExtraField("TEXT", "ttxt", "Read Me"), date),
            4);

  const zip::ZipEntry& first = *archive.Entry(1);
  EXPECT_EQ(first.RawPath().bytes, "docs/t.txt");
  EXPECT_LT(first.CompressedSize(), 100000 / 2);
  EXPECT_EQ(first.z_Header()->UInt16Value(12), 4194);   // 2:03:05
  EXPECT_EQ(first.ExternalFileAttributes(), 1);         // UTF-8 names
  EXPECT_EQ(archive.Entry(2)->CompressionMethod(), 8);  // even when it grows
  EXPECT_EQ(archive.Entry(3)->CompressionMethod(), 0);
  EXPECT_TRUE(ClosedAndAccepted(archive));
  const auto path = dir / "a.zip";
  EXPECT_EQ(Unzipped(path, "docs/t.txt"), text);
  EXPECT_EQ(Unzipped(path, "noise.bin"), noise);
  EXPECT_EQ(Unzipped(path, "Read Me"), header->Bytes() + fork + std::string(96, '\0') +
                                           std::string(300, 'r') + std::string(84, '\0'));
}

TEST(EntryWriter, FailedEntriesLeaveTheArchiveWhole) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  FileReader kept = Source(dir, "k", LinesOfText(3000)), shortOne = Source(dir, "s", "short");
  FileReader missing(FolderItem(dir / "missing")), noise = Source(dir, "n", Noise(5000));
  FileReader undeflated = Source(dir, "u", "text");
  ASSERT_EQ(AddData(archive, "kept", &kept, 3000), 1);
  const std::int64_t start = archive.StartOfDirectory();
  platform::MemoryBlockRef header = archive.MakeMacBinaryHeader(5, 1, "m", "TEXT", "ttxt", {}, {});
  platform::MemoryBlockRef huge =
      archive.MakeMacBinaryHeader(0x7FFFFFF0, 0, "big", "TEXT", "ttxt", {}, {});
  const struct {
    const char* what;
    FileReader *data, *rsrc;
    std::int64_t dataLength, rsrcLength;
    platform::MemoryBlock* header;
    const char* name;
    std::int32_t result;
    const char* message;
  } cases[] = {
      {"empty name", &kept, nullptr, 3000, 0, nullptr, "", -50, "Name must not be empty"},
      {"no data source", &missing, nullptr, 1, 0, nullptr, "c", -38,
       "Opening the source data stream failed"},
      {"no resource source", &shortOne, &missing, 5, 1, header.get(), "m", -38,
       "Opening the source rsrc stream failed"},
      {"fewer bytes than announced", &shortOne, nullptr, 150, 0, nullptr, "s", -2,
       "Read error, the archived item may be corrupted"},
      {"2 GiB", &kept, nullptr, 0x80000000LL, 0, nullptr, "big", -50,
       "Item exceeds archive limit of 2GB"},
      {"2 GiB once padded", &kept, nullptr, 0x7FFFFFF0, 0, huge.get(), "big", -50,
       "Item exceeds archive limit of 2GB"},
      {"a disk that fills up", &noise, nullptr, 5000, 0, nullptr, "n", -2,
       "Write error, the archived item may be corrupted"},
      {"a deflater that cannot be set up", &undeflated, nullptr, 4, 0, nullptr, "u", -2,
       "Internal error (Store)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<FileSizeLimit> full;
    if (c.data == &noise) full.emplace(static_cast<rlim_t>(start) + 100);
    failDeflateInit = c.data == &undeflated;
    EXPECT_EQ(archive.AddItemByStreams(c.data, c.dataLength, c.rsrc, c.rsrcLength, c.header, c.name,
                                       nullptr, {}),
              c.result);
    failDeflateInit = false;
    EXPECT_EQ(archive.ErrorMessage(), c.message);
    EXPECT_EQ(archive.EntryCount(), 1);
    EXPECT_EQ(archive.StartOfDirectory(), start);
  }
  // Fork lengths other than the header's, or a fork without a header, are
  // a caller's mistake.
  EXPECT_THROW(archive.AddItemByStreams(&kept, 2, &shortOne, 1, header.get(), "m", nullptr, {}),
               platform::RuntimeException);
  EXPECT_THROW(archive.AddItemByStreams(&kept, 2, &shortOne, 1, nullptr, "m", nullptr, {}),
               platform::RuntimeException);
  EXPECT_TRUE(ClosedAndAccepted(archive));
  ASSERT_TRUE(archive.Open(dir / "a.zip", false));
  EXPECT_EQ(AddData(archive, "late", &kept, 3000), 0);
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
}

TEST(EntryWriter, ProgressAndAbortThroughTheMonitor) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  auto monitor = std::make_shared<RecordingMonitor>();
  archive.SetProgressMonitor(monitor);
  FileReader source = Source(dir, "t", LinesOfText(40000));
  ASSERT_EQ(AddData(archive, "t", &source, 40000), 1);
  using R = std::vector<std::pair<std::int32_t, std::int32_t>>;
  EXPECT_EQ(monitor->progress, (R{{40000, 0}, {40000, 16384}, {40000, 32768}, {40000, 40000}}));

  // Stopped at the first report: nothing is read, the last report still comes.
  monitor->progress.clear();
  monitor->abortEntry = "s";
  FileReader missing(FolderItem(dir / "missing"));
  EXPECT_EQ(AddData(archive, "s", &missing, 40000), 0);
  EXPECT_EQ(archive.ErrorMessage(), "Aborted");
  EXPECT_EQ(monitor->progress, (R{{40000, 0}, {40000, 40000}}));
  EXPECT_TRUE(ClosedAndAccepted(archive));
}

TEST(EntryWriter, NamesAndCommentsInEachEncodingAsInfoZipReadsThem) {
  const std::string name = "Grüße/naïve.txt", comment = "Ça va";
  const struct {
    const platform::TextEncoding* encoding;
    const char* iconv;
    int host;
  } cases[] = {{ZipArchive::EncodedAsUnicode(), "UTF-8", 3},
               {ZipArchive::EncodedAsDOSLatinUS(), "CP437", 3},
               {ZipArchive::EncodedAsWinLatin1(), "CP1252", 3},
               {ZipArchive::EncodedAsMacDefault(), "MACINTOSH", 3},
               // From DOS, Info-ZIP turns names from code page 437 into Latin-1.
               {ZipArchive::EncodedAsDOSLatinUS(), "LATIN1", 0}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.iconv);
    const auto path = dir / (std::string(c.iconv) + ".zip");
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(path, true, c.encoding));
    archive.SetDefaultOSMadeBy(c.host);  // on Unix, names are the bytes they are
    ASSERT_EQ(AddData(archive, name), 1);
    archive.Entry(1)->SetComment(comment);
    ASSERT_TRUE(archive.SetComment(archive.Data()->encodeForZip(comment)));
    EXPECT_TRUE(ClosedAndAccepted(archive));
    const std::string to = std::string(" | iconv -f ") + c.iconv + " -t UTF-8";
    std::string out;
    Capture("zipinfo -1 " + Quote(path) + to, out);
    EXPECT_EQ(out, name + "\n");
    if (c.host == 0) continue;
    Capture("unzip -z " + Quote(path) + " | tail -n 1" + to, out);
    EXPECT_EQ(out, comment + "\n");
    Capture("zipinfo -v " + Quote(path) + to + " | grep -A1 'file comment begins' | tail -n 1",
            out);
    EXPECT_EQ(out, comment + "\n");
  }
}

extern "C" int deflateInit2_(z_streamp strm, int level, int method, int windowBits, int memLevel,
                             int strategy, const char* version, int streamSize) {
  if (failDeflateInit) return Z_MEM_ERROR;
  using Real = int (*)(z_streamp, int, int, int, int, int, const char*, int);
  static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "deflateInit2_"));
  return real(strm, level, method, windowBits, memLevel, strategy, version, streamSize);
}
