// The adapters between an archive file and the compression stream: the
// reader's three parts and its end, the writer's dropped header and CRC, and
// members of other tools and of our own inflated straight out of the file.
#include <gtest/gtest.h>

#include "platform/checksums.h"
#include "platform/zstream.h"
#include "zip/zip_stream_adapters.h"
#include "zip_test_util.h"

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
  const struct {
    const char* what;
    std::int64_t count;
    const char *prefix, *suffix;
    std::vector<Step> steps;
  } cases[] = {
      {"nothing", 0, "", "", {{5, "", -39}}},
      {"across every seam",
       4,
       "<<",
       ">>",
       {{3, "<<4", 0}, {4, "567>", 0}, {9, ">", 0}, {1, "", -39}}},
      {"short and then none", 3, "", "", {{10, "456", 0}, {10, "", -39}}},
      {"zero asks nothing", 2, "P", "S", {{0, "", 0}, {4, "P45S", 0}, {0, "", 0}, {-2, "", 0}}},
  };
  for (const auto& c : cases) {
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
  w.Write("MN");
  EXPECT_EQ(w.BytesWritten(), 4);
  EXPECT_EQ(w.CRC(), platform::Crc32("ABCDEFGHIJKLMN", 0));
  EXPECT_EQ(fixtures::ReadFile(dir_ / "data"), "KLMN456789abcdef");
  ZipBinaryStreamWriter exact(*s, 3);
  exact.Write("xyz");  // exactly the dropped bytes: nothing written
  EXPECT_EQ(exact.BytesWritten(), 0);
}

std::uint32_t LE(const std::string& bytes, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}

// Raw deflated data, written by the writer into a file after a stand-in
// local header or by other tools into an archive, inflates through the
// reader once the gzip framing is put around it.
TEST_F(AdapterTest, DeflatedMembersInflateThroughTheReader) {
  const std::string text = ziptest::LinesOfText(40000);
  fixtures::WriteFile(dir_ / "member.txt", text);
  const std::string cd = "cd " + fixtures::Quote(dir_.path()) + " && ";
  ASSERT_EQ(fixtures::Run(cd + "zip -q -X info.zip member.txt && python3 -c \"import zipfile; "
                               "zipfile.ZipFile('py.zip', 'w', zipfile.ZIP_DEFLATED)"
                               ".write('member.txt')\""),
            0);
  {
    auto out = BinaryStream::Create(dir_ / "ours");
    out->Write("HEAD");
    ZipBinaryStreamWriter w(*out, 10);
    platform::ZStream z(true, &w, nullptr);
    z.Write(text);
    z.Close();
  }
  const std::string ours = fixtures::ReadFile(dir_ / "ours");
  std::string trailer;
  fixtures::PutLE(trailer, platform::Crc32(text, 0), 4);
  fixtures::PutLE(trailer, text.size(), 4);
  EXPECT_EQ(ours.substr(ours.size() - 8), trailer);

  struct Member {
    const char* file;
    std::int64_t at, size;
    std::string trailer;
  };
  std::vector<Member> members = {{"ours", 4, static_cast<std::int64_t>(ours.size()) - 12, trailer}};
  for (const char* name : {"info.zip", "py.zip"}) {
    const std::string a = fixtures::ReadFile(dir_ / name);
    ASSERT_EQ(a[8], 8) << name;  // deflated
    members.push_back(
        {name, 30 + LE(a, 26, 2) + LE(a, 28, 2), LE(a, 18, 4), a.substr(14, 4) + a.substr(22, 4)});
  }
  for (const Member& m : members) {
    SCOPED_TRACE(m.file);
    auto s = BinaryStream::Open(dir_ / m.file, false);
    s->SetPosition(m.at);
    ZipBinaryStreamReader r(*s, m.size, std::string("\x1f\x8b\x08\0\0\0\0\0\0\x07", 10), m.trailer);
    platform::ZStream z(false, nullptr, &r);
    EXPECT_EQ(z.Read(static_cast<int>(text.size())), text);
    EXPECT_EQ(z.ErrorValue(), platform::ZStream::kEndOfStream);
  }
}

}  // namespace
