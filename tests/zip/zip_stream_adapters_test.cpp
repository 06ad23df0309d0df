// The adapters between an archive file and the compression stream: the
// reader's three parts and its end, the writer's dropped header and CRC, and
// members inflated straight out of archives that other tools wrote.
#include <gtest/gtest.h>

#include "fixtures/zip_builder.h"
#include "platform/checksums.h"
#include "platform/zstream.h"
#include "zip/zip_stream_adapters.h"

namespace {

using platform::BinaryStream;
using zip::ZipBinaryStreamReader;
using zip::ZipBinaryStreamWriter;

class AdapterTest : public ::testing::Test {
 protected:
  // A file holding "0123456789abcdef", positioned at `at`.
  std::unique_ptr<BinaryStream> Stream(std::int64_t at) {
    fixtures::WriteFile(dir_ / "data", "0123456789abcdef");
    auto s = BinaryStream::Open(dir_ / "data", true);
    s->SetPosition(at);
    return s;
  }
  fixtures::TempDir dir_;
};

TEST_F(AdapterTest, ReaderServesPrefixStreamSuffixOnceAndThenSaysSo) {
  struct Step {
    int count;
    const char* bytes;
    std::int32_t error;
  };
  struct Case {
    const char* what;
    std::int64_t count;
    const char* prefix;
    const char* suffix;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"nothing", 0, "", "", {{5, "", -39}}},
      {"across every seam",
       4,
       "<<",
       ">>",
       {{3, "<<4", 0}, {4, "567>", 0}, {9, ">", 0}, {1, "", -39}}},
      {"short and then none", 3, "", "", {{10, "456", 0}, {10, "", -39}}},
      {"zero asks nothing", 2, "P", "S", {{0, "", 0}, {4, "P45S", 0}, {0, "", 0}, {-2, "", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = Stream(4);
    ZipBinaryStreamReader r(*s, c.count, c.prefix, c.suffix);
    for (const Step& step : c.steps) {
      EXPECT_EQ(r.Read(step.count), step.bytes);
      EXPECT_EQ(r.LastError(), step.error);
      EXPECT_EQ(r.ErrorValue(), step.error);
    }
    EXPECT_EQ(r.Remaining(), 0);
    EXPECT_LE(s->Position(), 4 + c.count);  // never past the member
  }
}

TEST_F(AdapterTest, WriterDropsLeadingBytesAndKeepsTheCrcOfAll) {
  auto s = Stream(0);
  ZipBinaryStreamWriter w(*s, 10);
  w.EnableCRCCalculation();
  w.Write("ABCD");
  w.Write("EFGHIJKL");
  EXPECT_EQ(w.BytesWritten(), 2);
  EXPECT_EQ(s->Position(), 2);
  w.Write("MN");
  EXPECT_EQ(w.BytesWritten(), 4);
  EXPECT_EQ(w.CRC(), platform::Crc32("ABCDEFGHIJKLMN", 0));
  EXPECT_EQ(w.LastError(), 0);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "data"), "KLMN456789abcdef");

  ZipBinaryStreamWriter exact(*s, 3);
  exact.Write("xyz");  // exactly the dropped bytes: nothing written
  EXPECT_EQ(exact.BytesWritten(), 0);
  EXPECT_EQ(exact.CRC(), 0u);  // not enabled
}

// The offset of a member's data: after its local header, name and extra field.
std::int64_t DataOffset(const std::string& archive, std::size_t localHeader) {
  auto le16 = [&](std::size_t at) {
    return static_cast<std::uint8_t>(archive[at]) | static_cast<std::uint8_t>(archive[at + 1]) << 8;
  };
  return static_cast<std::int64_t>(localHeader + 30 + le16(localHeader + 26) +
                                   le16(localHeader + 28));
}

TEST_F(AdapterTest, DeflatedMembersOfOtherToolsInflateThroughTheReader) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  fixtures::WriteFile(dir_ / "member.txt", text);
  const std::string cd = "cd " + fixtures::Quote(dir_.path()) + " && ";
  const std::pair<std::string, std::string> tools[] = {
      {"info.zip", cd + "zip -q -X info.zip member.txt"},
      {"py.zip", cd + "python3 -c \"import zipfile; zipfile.ZipFile('py.zip', 'w', "
                      "zipfile.ZIP_DEFLATED).write('member.txt')\""},
  };
  for (const auto& [name, tool] : tools) {
    ASSERT_EQ(fixtures::Run(tool), 0) << name;
    const std::string archive = fixtures::ReadFile(dir_ / name);
    ASSERT_EQ(archive[8], 8) << name;                                           // deflated
    const std::string trailer = archive.substr(14, 4) + archive.substr(22, 4);  // CRC, size
    std::uint32_t compressed = 0;
    for (int i = 3; i >= 0; --i)
      compressed = compressed << 8 | static_cast<std::uint8_t>(archive[18 + i]);

    auto s = BinaryStream::Open(dir_ / name, false);
    s->SetPosition(DataOffset(archive, 0));
    ZipBinaryStreamReader reader(*s, compressed, std::string("\x1f\x8b\x08\0\0\0\0\0\0\x07", 10),
                                 trailer);
    platform::ZStream z(false, nullptr, &reader);
    EXPECT_EQ(z.Read(static_cast<int>(text.size())), text) << name;
    EXPECT_EQ(z.ErrorValue(), platform::ZStream::kEndOfStream) << name;
  }
}

TEST_F(AdapterTest, DeflatingThroughTheWriterLeavesRawDataAndTheTrailer) {
  const std::string text(100000, 'v');
  auto s = BinaryStream::Create(dir_ / "out");
  s->Write("HEAD");  // a local header would stand here
  ZipBinaryStreamWriter w(*s, 10);
  {
    platform::ZStream z(true, &w, nullptr);
    z.Write(text);
    z.Close();
  }
  const std::string written = fixtures::ReadFile(dir_ / "out");
  ASSERT_EQ(static_cast<std::int64_t>(written.size()), 4 + w.BytesWritten());
  const std::string trailer = written.substr(written.size() - 8);
  std::string expected;
  fixtures::PutLE(expected, platform::Crc32(text, 0), 4);
  fixtures::PutLE(expected, text.size(), 4);
  EXPECT_EQ(trailer, expected);

  // Read back as the member decoder would: raw data with the framing restored.
  s->SetPosition(4);
  ZipBinaryStreamReader r(*s, w.BytesWritten() - 8, std::string("\x1f\x8b\x08\0\0\0\0\0\0\x07", 10),
                          trailer);
  platform::ZStream z(false, nullptr, &r);
  EXPECT_EQ(z.Read(static_cast<int>(text.size())), text);
  EXPECT_EQ(z.ErrorValue(), platform::ZStream::kEndOfStream);
}

}  // namespace
