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
    at_ += n;
    return bytes_.substr(at_ - n, n);
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
  std::string out, got;
  do {
    out += got = z.Read(chunk);
  } while (static_cast<int>(got.size()) == chunk);
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

// Members of ours and of the gzip tool, read in many chunk sizes from
// input in many piece sizes; the tool reads ours.
TEST(ZStreamTest, RoundTripsWithTheGzipTool) {
  struct Case {
    std::size_t size;
    bool random;
    int chunk;
    std::size_t piece;
  };
  fixtures::TempDir dir;
  const std::string plain = fixtures::Quote(dir / "plain"), gz = fixtures::Quote(dir / "gz");
  for (const Case& c : {Case{0, false, 16, 1 << 20}, Case{1, true, 1, 1}, Case{100, false, 7, 3},
                        Case{70000, true, 4096, 1000}, Case{1 << 20, false, 16384, 1 << 20},
                        Case{300000, true, 1 << 20, 65536}}) {
    SCOPED_TRACE(c.size);
    const std::string data = Sample(c.size, c.random);
    const std::string ours = Gzip(data);
    // The zip adapters take a fixed 10-byte header without optional fields.
    EXPECT_EQ(ours.substr(0, 4), std::string("\x1f\x8b\x08\x00", 4));
    fixtures::WriteFile(dir / "plain", data);
    ASSERT_EQ(fixtures::Run("gzip -c -n " + plain + " > " + gz), 0);
    for (const std::string& member : {ours, fixtures::ReadFile(dir / "gz")}) {
      std::int32_t error = 0;
      EXPECT_EQ(Gunzip(member, c.chunk, &error, c.piece), data);
      EXPECT_EQ(error, ZStream::kEndOfStream);
    }
    fixtures::WriteFile(dir / "gz", ours);
    ASSERT_EQ(fixtures::Run("gzip -dc " + gz + " > " + plain), 0);
    EXPECT_EQ(fixtures::ReadFile(dir / "plain"), data);
  }
}

// A reader that asks for exactly the size a member claims learns from that
// read whether it ended well, with no read past the end.
TEST(ZStreamTest, MembersThatLieAreCaughtByTheReadOfTheLastByte) {
  const std::string data = Sample(40000, true), member = Gzip(data);
  auto flipped = [&](std::size_t fromEnd) {
    std::string m = member;
    m[m.size() - fromEnd] ^= 0x40;
    return m;
  };
  const struct {
    const char* what;
    std::string member;
    std::int32_t error;
  } cases[] = {
      {"true", member, ZStream::kEndOfStream},
      {"wrong CRC-32", flipped(6), ZStream::kDataError},
      {"wrong length", flipped(3), ZStream::kDataError},
      {"trailer cut short", member.substr(0, member.size() - 4), ZStream::kTruncated},
      {"no trailer", member.substr(0, member.size() - 8), ZStream::kTruncated},
      {"data cut in half", member.substr(0, member.size() / 2), ZStream::kTruncated},
      {"garbage data", member.substr(0, 10) + std::string(200, '\xff'), ZStream::kDataError},
      {"not gzip", "PK\x03\x04 plainly not a gzip member", ZStream::kDataError},
      {"nothing at all", "", ZStream::kTruncated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StringReader in(c.member);
    ZStream z(false, nullptr, &in);
    const std::string got = z.Read(static_cast<int>(data.size()));
    EXPECT_EQ(got, data.substr(0, got.size()));
    EXPECT_EQ(z.ErrorValue(), c.error);
  }
}

TEST(ZStreamTest, MisuseRaises) {
  StringWriter out;
  StringReader in("");
  EXPECT_THROW(ZStream(true, &out, nullptr).Read(1), platform::RuntimeException);
  EXPECT_THROW(ZStream(false, nullptr, &in).Write("x"), platform::RuntimeException);
  EXPECT_THROW(ZStream(false, nullptr, nullptr), platform::NilObjectException);
}

TEST(ChecksumsTest, CheckValuesAndContinuation) {
  EXPECT_EQ(platform::Crc32("6789", platform::Crc32("12345", 0)), 0xCBF43926u);
  platform::MemoryBlock block = platform::MemoryBlock::FromBytes("xx123456789");
  EXPECT_EQ(platform::Crc16_MemoryBlock(block, 2, 9, 0), 0x31C3);  // CRC-16/XMODEM
  EXPECT_EQ(platform::Crc16_MemoryBlock(block, 7, 4, platform::Crc16_MemoryBlock(block, 2, 5, 0)),
            0x31C3);
  EXPECT_THROW(platform::Crc16_MemoryBlock(block, 2, 10, 0), platform::OutOfBoundsException);
}

}  // namespace
