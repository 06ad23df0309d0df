// The adapters between an archive file and the compression stream: the
// reader's three parts and its end, and the writer's dropped header and CRC.
// Both carry real members in the entry writer and extraction tests.
#include <gtest/gtest.h>

#include "fixtures/zip_builder.h"
#include "platform/checksums.h"
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
    auto s = BinaryStream::Open(platform::ItemAt(dir_ / "data"), true);
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

}  // namespace
