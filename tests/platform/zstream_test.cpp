// Gzip members through the compression stream: round trips, interplay with
// the gzip tool, and every way a member can lie about its contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fixtures/zip_builder.h"
#include "platform/checksums.h"
#include "platform/framework_exceptions.h"
#include "platform/zstream.h"

namespace {

using platform::ZStream;

// Serves a string in pieces of at most `piece` bytes.
class StringReader : public platform::IStreamReader {
 public:
  explicit StringReader(std::string bytes, std::size_t piece = 1 << 20)
      : bytes_(std::move(bytes)), piece_(piece) {}
  std::string Read(std::int32_t count) override {
    std::size_t n = std::min({static_cast<std::size_t>(count), piece_, bytes_.size() - at_});
    if (n == 0) error_ = -39;
    std::string out = bytes_.substr(at_, n);
    at_ += n;
    return out;
  }
  std::int32_t LastError() override { return error_; }

 private:
  std::string bytes_;
  std::size_t piece_, at_ = 0;
  std::int32_t error_ = 0;
};

class StringWriter : public platform::IStreamWriter {
 public:
  void Write(std::string_view data) override { bytes.append(data); }
  std::int32_t LastError() override { return 0; }
  std::string bytes;
};

std::string Gzip(const std::string& data) {
  StringWriter out;
  ZStream z(true, &out, nullptr);
  for (std::size_t at = 0; at < data.size(); at += 5000) z.Write(data.substr(at, 5000));
  z.Close();
  EXPECT_EQ(z.ErrorValue(), ZStream::kNoError);
  return out.bytes;
}

// Inflates the member in reads of `chunk` bytes until a short read, as the
// member decoder does; the error value seen last comes back in *error.
std::string Gunzip(const std::string& member, int chunk, std::int32_t* error,
                   std::size_t piece = 1 << 20) {
  StringReader in(member, piece);
  ZStream z(false, nullptr, &in);
  std::string out;
  for (;;) {
    std::string got = z.Read(chunk);
    out += got;
    if (static_cast<int>(got.size()) < chunk) break;
  }
  *error = z.ErrorValue();
  return out;
}

std::string Sample(std::size_t size, bool random) {
  std::mt19937 gen(static_cast<unsigned>(size));
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    s[i] = random ? static_cast<char>(gen()) : "Vantora II display "[i % 19];
  }
  return s;
}

TEST(ZStreamTest, RoundTripsOfManySizesInManyChunks) {
  struct Case {
    std::size_t size;
    bool random;
    int chunk;
    std::size_t piece;
  };
  for (const Case& c : {Case{0, false, 16, 1 << 20}, Case{1, true, 1, 1}, Case{100, false, 7, 3},
                        Case{70000, true, 4096, 1000}, Case{1 << 20, false, 16384, 1 << 20},
                        Case{300000, true, 1 << 20, 65536}}) {
    SCOPED_TRACE(c.size);
    const std::string data = Sample(c.size, c.random);
    const std::string member = Gzip(data);
    ASSERT_GE(member.size(), 18u);
    EXPECT_EQ(member.substr(0, 4), std::string("\x1f\x8b\x08\x00", 4));  // no optional fields
    std::int32_t error = 0;
    EXPECT_EQ(Gunzip(member, c.chunk, &error, c.piece), data);
    EXPECT_EQ(error, ZStream::kEndOfStream);
  }
}

TEST(ZStreamTest, TheReadOfTheLastByteAlreadyReportsTheEndOrABadTrailer) {
  const std::string data = Sample(50000, false);
  const std::string member = Gzip(data);
  StringReader in(member);
  ZStream z(false, nullptr, &in);
  EXPECT_EQ(z.Read(static_cast<int>(data.size())), data);
  EXPECT_EQ(z.ErrorValue(), ZStream::kEndOfStream);
  EXPECT_EQ(z.Read(10), "");
  EXPECT_EQ(z.ErrorValue(), ZStream::kEndOfStream);

  std::string badCrc = member;
  badCrc[badCrc.size() - 8] ^= 0x01;
  StringReader in2(badCrc);
  ZStream z2(false, nullptr, &in2);
  EXPECT_EQ(z2.Read(static_cast<int>(data.size())), data);
  EXPECT_EQ(z2.ErrorValue(), ZStream::kDataError);
}

TEST(ZStreamTest, MembersThatLieAreCaught) {
  const std::string data = Sample(40000, true);
  const std::string member = Gzip(data);
  auto flipped = [&](std::size_t fromEnd) {
    std::string m = member;
    m[m.size() - fromEnd] ^= 0x40;
    return m;
  };
  struct Case {
    const char* what;
    std::string member;
    std::int32_t error;
  };
  const Case cases[] = {
      {"wrong CRC-32", flipped(6), ZStream::kDataError},
      {"wrong length", flipped(3), ZStream::kDataError},
      {"trailer cut short", member.substr(0, member.size() - 4), ZStream::kTruncated},
      {"no trailer", member.substr(0, member.size() - 8), ZStream::kTruncated},
      {"data cut in half", member.substr(0, member.size() / 2), ZStream::kTruncated},
      {"garbage data", member.substr(0, 10) + std::string(200, '\xff'), ZStream::kDataError},
      {"not gzip", "PK\x03\x04 plainly not a gzip member", ZStream::kDataError},
      {"nothing at all", "", ZStream::kTruncated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::int32_t error = 0;
    Gunzip(c.member, 4096, &error);
    EXPECT_EQ(error, c.error);
  }
}

TEST(ZStreamTest, AMemberLongerThanExpectedShowsItsExtraBytes) {
  const std::string member = Gzip(Sample(1000, false));
  StringReader in(member);
  ZStream z(false, nullptr, &in);
  EXPECT_EQ(z.Read(600).size(), 600u);
  EXPECT_EQ(z.ErrorValue(), ZStream::kNoError);  // more is still to come
  EXPECT_EQ(z.Read(1).size(), 1u);
}

TEST(ZStreamTest, WorksWithTheGzipTool) {
  fixtures::TempDir dir;
  const std::string data = Sample(200000, true) + Sample(200000, false);
  fixtures::WriteFile(dir / "plain", data);
  ASSERT_EQ(fixtures::Run("gzip -c -n " + fixtures::Quote(dir / "plain") + " > " +
                          fixtures::Quote(dir / "theirs.gz")),
            0);
  std::int32_t error = 0;
  EXPECT_EQ(Gunzip(fixtures::ReadFile(dir / "theirs.gz"), 8192, &error), data);
  EXPECT_EQ(error, ZStream::kEndOfStream);

  fixtures::WriteFile(dir / "ours.gz", Gzip(data));
  ASSERT_EQ(fixtures::Run("gzip -t " + fixtures::Quote(dir / "ours.gz")), 0);
  ASSERT_EQ(fixtures::Run("gzip -dc " + fixtures::Quote(dir / "ours.gz") + " > " +
                          fixtures::Quote(dir / "back")),
            0);
  EXPECT_EQ(fixtures::ReadFile(dir / "back"), data);
}

TEST(ZStreamTest, MisuseRaises) {
  StringWriter out;
  StringReader in("");
  ZStream deflating(true, &out, nullptr);
  EXPECT_THROW(deflating.Read(1), platform::RuntimeException);
  ZStream inflating(false, nullptr, &in);
  EXPECT_THROW(inflating.Write("x"), platform::RuntimeException);
  EXPECT_THROW(ZStream(false, nullptr, nullptr), platform::NilObjectException);
}

TEST(ChecksumsTest, CheckValuesAndContinuation) {
  EXPECT_EQ(platform::Crc32("123456789", 0), 0xCBF43926u);
  EXPECT_EQ(platform::Crc32("6789", platform::Crc32("12345", 0)), 0xCBF43926u);
  EXPECT_EQ(platform::Crc32("", 0), 0u);

  platform::MemoryBlock block = platform::MemoryBlock::FromBytes("xx123456789");
  EXPECT_EQ(platform::Crc16_MemoryBlock(block, 2, 9, 0), 0x31C3);
  EXPECT_EQ(platform::Crc16_MemoryBlock(block, 7, 4, platform::Crc16_MemoryBlock(block, 2, 5, 0)),
            0x31C3);
  EXPECT_EQ(platform::Crc16_MemoryBlock(block, 0, 0, 0), 0);
  EXPECT_THROW(platform::Crc16_MemoryBlock(block, 2, 10, 0), platform::OutOfBoundsException);
}

}  // namespace
