// Writing one entry from streams: the stored, deflated and MacBinary forms
// as independent readers see them, and every way an entry can fail without
// leaving the archive unreadable.
#include <gtest/gtest.h>

#include "independent_readers.h"
#include "platform/framework_exceptions.h"
#include "zip/seq_data_streams.h"
#include "zip_test_util.h"

using fixtures::Quote;
using fixtures::TempDir;
using zip::ZipArchive;
using namespace ziptest;

namespace {

// A source over bytes in memory that remembers what it was asked, and can
// refuse to open or give fewer bytes than it holds.
class StringSource : public zip::SeqDataInputStream {
 public:
  explicit StringSource(std::string bytes, bool opens = true)
      : bytes_(std::move(bytes)), opens_(opens) {}
  std::string Read(std::int32_t count) override {
    asked.push_back(count);
    std::string out = bytes_.substr(std::min(at_, bytes_.size()), static_cast<std::size_t>(count));
    at_ += out.size();
    return out;
  }
  bool Eof() override { return at_ >= bytes_.size(); }
  bool HadError() override { return false; }
  bool Open() override {
    ++opened;
    at_ = 0;
    return opens_;
  }
  void Close() override {}
  void GetErrorDescription(std::int32_t& code, std::string& text) override {
    code = 0;
    text.clear();
  }
  bool Skip(std::int32_t) override { return false; }
  void ClearError() override {}

  std::vector<std::int32_t> asked;
  int opened = 0;

 private:
  std::string bytes_;
  bool opens_;
  std::size_t at_ = 0;
};

// Records progress reports, and stops the entry at the report it is told to.
class Monitor : public zip::ZipProgressNotifier {
 public:
  void zipProgress(const zip::ZipEntry&, std::int32_t total, std::int32_t done,
                   bool& abort) override {
    reports.emplace_back(total, done);
    if (static_cast<int>(reports.size()) == abortAt) abort = true;
  }
  void ZipFileError(const platform::FolderItem&, std::int32_t, const std::string&, bool&) override {
  }
  void ZipFileStarting(const platform::FolderItem&, bool&) override {}
  std::vector<std::pair<std::int32_t, std::int32_t>> reports;
  int abortAt = 0;
};

std::string Text(std::size_t size) {
  std::string out;
  for (std::size_t i = 0; out.size() < size; ++i) out += std::to_string(i * 7919 % 1000) + " ";
  out.resize(size);
  return out;
}

std::string Noise(std::size_t size) {
  std::string out(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : out) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  return out;
}

}  // namespace

TEST(EntryWriter, StoredDeflatedAndMacBinaryEntriesReadBack) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  const std::string text = Text(100000), noise = Noise(5000);
  StringSource textSource(text), noiseSource(noise), none("never read");
  const platform::Date date = platform::Date::FromFields(2021, 6, 15, 2, 3, 5);
  ASSERT_EQ(archive.AddItemByStreams(&textSource, 100000, nullptr, 0, nullptr, "/docs/text.txt",
                                     nullptr, date),
            1);
  ASSERT_EQ(archive.AddItemByStreams(&noiseSource, 5000, nullptr, 0, nullptr, "noise.bin", nullptr,
                                     std::nullopt),
            2);
  ASSERT_EQ(archive.AddItemByStreams(&none, 0, nullptr, 0, nullptr, "empty", nullptr, {}), 3);
  EXPECT_EQ(none.opened, 0);

  const std::string fork = Text(20000);
  StringSource data(fork), rsrc(std::string(300, 'r'));
  platform::MemoryBlockRef header =
      archive.MakeMacBinaryHeader(20000, 300, "Read Me", "TEXT", "ttxt", date, date);
  ASSERT_EQ(archive.AddItemByStreams(&data, 20000, &rsrc, 300, header.get(), "Read Me",
                                     archive.MakeZipExtraField("TEXT", "ttxt", "Read Me"), date),
            4);
  // The header and the first read fill one chunk.
  EXPECT_EQ(data.asked, (std::vector<std::int32_t>{16384 - 128, 20000 - 16256}));

  const zip::ZipEntry& first = *archive.Entry(1);
  EXPECT_EQ(first.RawPath().bytes, "docs/text.txt");
  EXPECT_EQ(first.CompressionMethod(), 8);
  EXPECT_LT(first.CompressedSize(), 100000 / 2);
  EXPECT_EQ(first.z_Header()->UInt16Value(12), 4194);   // 2:03:05
  EXPECT_EQ(first.ExternalFileAttributes(), 1);         // UTF-8 names
  EXPECT_EQ(archive.Entry(2)->CompressionMethod(), 8);  // even when it grows
  EXPECT_EQ(archive.Entry(3)->CompressionMethod(), 0);
  EXPECT_EQ(archive.Entry(4)->Size(), 128 + 20096 + 384);
  ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();

  const auto path = dir / "a.zip";
  EXPECT_TRUE(ReadersAccept(path));
  EXPECT_EQ(Unzipped(path, "docs/text.txt"), text);
  EXPECT_EQ(Unzipped(path, "noise.bin"), noise);
  const std::string mb = Unzipped(path, "Read Me");
  ASSERT_EQ(mb.size(), 20608u);
  EXPECT_EQ(mb.substr(0, 128), header->Bytes());
  EXPECT_EQ(mb.substr(128, 20096), fork + std::string(96, '\0'));
  EXPECT_EQ(mb.substr(20224), std::string(300, 'r') + std::string(84, '\0'));
}

TEST(EntryWriter, FailedEntriesLeaveTheArchiveWhole) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  StringSource kept(Text(3000));
  ASSERT_EQ(archive.AddItemByStreams(&kept, 3000, nullptr, 0, nullptr, "kept", nullptr, {}), 1);
  const std::int64_t start = archive.StartOfDirectory();

  StringSource closed("x", false), shortOne(Text(100)), rsrc("rr");
  platform::MemoryBlockRef header = archive.MakeMacBinaryHeader(1, 2, "m", "TEXT", "ttxt", {}, {});
  const struct {
    const char* what;
    std::function<std::int32_t()> add;
    std::int32_t result;
    const char* message;
  } cases[] = {
      {"empty name",
       [&] { return archive.AddItemByStreams(&kept, 3000, nullptr, 0, nullptr, "", nullptr, {}); },
       -50, "Name must not be empty"},
      {"data source will not open",
       [&] { return archive.AddItemByStreams(&closed, 1, nullptr, 0, nullptr, "c", nullptr, {}); },
       -38, "Opening the source data stream failed"},
      {"resource source will not open",
       [&] {
         StringSource data("d"), noRsrc("rr", false);
         return archive.AddItemByStreams(&data, 1, &noRsrc, 2, header.get(), "m", nullptr, {});
       },
       -38, "Opening the source rsrc stream failed"},
      {"source gives fewer bytes than announced",
       [&] {
         return archive.AddItemByStreams(&shortOne, 150, nullptr, 0, nullptr, "s", nullptr, {});
       },
       -2, "Read error, the archived item may be corrupted"},
      {"content of 2 GiB",
       [&] {
         return archive.AddItemByStreams(&kept, 0x80000000LL, nullptr, 0, nullptr, "big", nullptr,
                                         {});
       },
       -50, "Item exceeds archive limit of 2GB"},
      {"content of 2 GiB once padded",
       [&] {
         auto h = archive.MakeMacBinaryHeader(0x7FFFFFF0, 0, "big", "TEXT", "ttxt", {}, {});
         return archive.AddItemByStreams(&kept, 0x7FFFFFF0, nullptr, 0, h.get(), "big", nullptr,
                                         {});
       },
       -50, "Item exceeds archive limit of 2GB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.add(), c.result);
    EXPECT_EQ(archive.ErrorMessage(), c.message);
    EXPECT_EQ(archive.EntryCount(), 1);
    EXPECT_EQ(archive.StartOfDirectory(), start);
  }
  {
    // A disk that fills up under the entry.
    FileSizeLimit full(static_cast<rlim_t>(start) + 100);
    StringSource noise(Noise(5000));
    EXPECT_EQ(archive.AddItemByStreams(&noise, 5000, nullptr, 0, nullptr, "n", nullptr, {}), -2);
  }
  EXPECT_EQ(archive.ErrorMessage(), "Write error, the archived item may be corrupted");
  EXPECT_EQ(archive.EntryCount(), 1);
  // Fork lengths that are not those of the header are a caller's mistake.
  StringSource d2("dd");
  EXPECT_THROW(archive.AddItemByStreams(&d2, 2, &rsrc, 2, header.get(), "m", nullptr, {}),
               platform::RuntimeException);
  EXPECT_THROW(archive.AddItemByStreams(&d2, 2, &rsrc, 2, nullptr, "m", nullptr, {}),
               platform::RuntimeException);
  ASSERT_TRUE(archive.Close());
  EXPECT_TRUE(ReadersAccept(dir / "a.zip"));
  ASSERT_TRUE(archive.Open(dir / "a.zip", false));
  EXPECT_EQ(archive.EntryCount(), 1);
  StringSource late("x");
  EXPECT_EQ(archive.AddItemByStreams(&late, 1, nullptr, 0, nullptr, "late", nullptr, {}), 0);
  EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
}

TEST(EntryWriter, ProgressAndAbortThroughTheMonitor) {
  TempDir dir;
  ZipArchive archive;
  ASSERT_TRUE(archive.Open(dir / "a.zip", true));
  auto monitor = std::make_shared<Monitor>();
  archive.SetProgressMonitor(monitor);
  EXPECT_EQ(archive.ProgressMonitor(), monitor);
  StringSource source(Text(40000));
  ASSERT_EQ(archive.AddItemByStreams(&source, 40000, nullptr, 0, nullptr, "t", nullptr, {}), 1);
  using R = std::vector<std::pair<std::int32_t, std::int32_t>>;
  EXPECT_EQ(monitor->reports, (R{{40000, 0}, {40000, 16384}, {40000, 32768}, {40000, 40000}}));

  monitor->reports.clear();
  monitor->abortAt = 1;
  StringSource stopped(Text(40000));
  EXPECT_EQ(archive.AddItemByStreams(&stopped, 40000, nullptr, 0, nullptr, "s", nullptr, {}), 0);
  EXPECT_EQ(archive.ErrorMessage(), "Aborted");
  EXPECT_TRUE(stopped.asked.empty());
  EXPECT_EQ(monitor->reports, (R{{40000, 0}, {40000, 40000}}));
  EXPECT_EQ(archive.EntryCount(), 1);
  archive.SetProgressMonitor(nullptr);
  ASSERT_TRUE(archive.Close());
  EXPECT_TRUE(ReadersAccept(dir / "a.zip"));
}

TEST(EntryWriter, NamesAndCommentsInEachEncodingAsInfoZipReadsThem) {
  const std::string name =
      "Gr\xc3\xbc\xc3\x9f"
      "e/na\xc3\xafve.txt";  // UTF-8
  const std::string comment =
      "\xc3\x87"
      "a va";
  const struct {
    const platform::TextEncoding* encoding;
    const char* iconv;
  } cases[] = {{ZipArchive::EncodedAsUnicode(), "UTF-8"},
               {ZipArchive::EncodedAsDOSLatinUS(), "CP437"},
               {ZipArchive::EncodedAsWinLatin1(), "CP1252"},
               {ZipArchive::EncodedAsMacDefault(), "MACINTOSH"}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.iconv);
    const auto path = dir / (std::string(c.iconv) + ".zip");
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(path, true, c.encoding));
    // Made on Unix, so Info-ZIP takes the names as the bytes they are.
    archive.SetDefaultOSMadeBy(3);
    StringSource data("x");
    ASSERT_EQ(archive.AddItemByStreams(&data, 1, nullptr, 0, nullptr, name, nullptr, {}), 1);
    archive.Entry(1)->SetComment(comment);
    ASSERT_TRUE(archive.SetComment(archive.Data()->encodeForZip(comment)));
    ASSERT_TRUE(archive.Close());
    EXPECT_TRUE(ReadersAccept(path));
    const std::string to = std::string(" | iconv -f ") + c.iconv + " -t UTF-8";
    std::string out;
    Capture("zipinfo -1 " + Quote(path) + to, out);
    EXPECT_EQ(out, name + "\n");
    Capture("unzip -z " + Quote(path) + " | tail -n 1" + to, out);
    EXPECT_EQ(out, comment + "\n");
    Capture("zipinfo -v " + Quote(path) + to + " | grep -A1 'file comment begins' | tail -n 1",
            out);
    EXPECT_EQ(out, comment + "\n");
  }
  // From DOS, Info-ZIP turns the names from code page 437 into Latin-1.
  ZipArchive dos;
  ASSERT_TRUE(dos.Open(dir / "dos.zip", true, ZipArchive::EncodedAsDOSLatinUS()));
  StringSource data("x");
  ASSERT_EQ(dos.AddItemByStreams(&data, 1, nullptr, 0, nullptr, name, nullptr, {}), 1);
  ASSERT_TRUE(dos.Close());
  std::string out;
  Capture("zipinfo -1 " + Quote(dir / "dos.zip") + " | iconv -f LATIN1 -t UTF-8", out);
  EXPECT_EQ(out, name + "\n");
}
