// The stand-ins the zip library stands on: file stream, byte blocks, text
// encodings and dates.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "fixtures/zip_builder.h"
#include "platform/apple_double.h"
#include "platform/binary_stream.h"
#include "platform/framework_exceptions.h"
#include "platform/mac_dates.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"

using namespace platform;

TEST(BinaryStreamTest, PositionsPastFourGibibytesLengthAndCutting) {
  fixtures::TempDir dir;
  auto s = BinaryStream::Create(platform::ItemAt(dir / "f.bin"));
  ASSERT_NE(s, nullptr);
  s->LittleEndian = true;
  const std::int64_t far = 0x100000010LL;  // beyond 32 bits
  s->SetPosition(far);
  s->WriteUInt32(0xA1B2C3D4u);
  EXPECT_EQ(s->Length(), far + 4);
  s->SetPosition(far);
  EXPECT_EQ(s->ReadUInt32(), 0xA1B2C3D4u);
  EXPECT_FALSE(s->ReadError());
  s->LittleEndian = false;
  s->SetPosition(far);
  EXPECT_EQ(s->ReadUInt16(), 0xD4C3);
  // A short read returns what is there and says so.
  s->SetPosition(far + 2);
  EXPECT_EQ(s->ReadUInt32(), 0xB2A10000u);
  EXPECT_TRUE(s->ReadError());
  EXPECT_TRUE(s->SetLength(3));
  EXPECT_EQ(s->Length(), 3);
  s->ClearErrors();
  s->SetPosition(0);
  EXPECT_EQ(s->Read(10), std::string(3, '\0'));
  EXPECT_TRUE(s->ReadError());

  auto readOnly = BinaryStream::Open(platform::ItemAt(dir / "f.bin"), false);
  ASSERT_NE(readOnly, nullptr);
  readOnly->Write("x");
  EXPECT_TRUE(readOnly->WriteError());
  EXPECT_FALSE(readOnly->SetLength(0));
  EXPECT_EQ(BinaryStream::Open(platform::ItemAt(dir / "missing"), false), nullptr);
  EXPECT_EQ(BinaryStream::Open(platform::ItemAt(dir.path()), false), nullptr);
}

// A stream opened for reading only serves small reads from the bytes it read
// ahead: every read, wherever it starts and whatever it crosses, gives the
// file's own bytes, and one that runs past the end says so.
TEST(BinaryStreamTest, ReadsServedFromTheBytesAheadAreTheFilesOwn) {
  fixtures::TempDir dir;
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  fixtures::WriteFile(dir / "f.bin", bytes);
  auto s = BinaryStream::Open(platform::ItemAt(dir / "f.bin"), false);
  ASSERT_NE(s, nullptr);
  const std::int64_t ahead = 64 * 1024;
  const struct {
    std::int64_t at;
    std::size_t count;
  } reads[] = {{0, 30},          {30, 5},           {ahead - 10, 10}, {ahead - 10, 11},
               {ahead - 10, 30}, {5, 10},           {ahead * 2, 0},   {ahead + 1, 70000},
               {199990, 10},     {199995, 10},      {200000, 4},      {150000, 64 * 1024},
               {1000, 3},        {ahead * 3 - 1, 2}};
  for (const auto& r : reads) {
    SCOPED_TRACE(r.at);
    s->ClearErrors();
    s->SetPosition(r.at);
    const std::size_t have = std::min<std::size_t>(
        r.count, bytes.size() - static_cast<std::size_t>(std::min<std::int64_t>(r.at, 200000)));
    EXPECT_EQ(s->Read(r.count), bytes.substr(static_cast<std::size_t>(r.at), have));
    EXPECT_EQ(s->ReadError(), have < r.count);
    EXPECT_EQ(s->Position(), r.at + static_cast<std::int64_t>(have));
  }
  EXPECT_EQ(s->Length(), 200000);
  s->Close();
  EXPECT_EQ(s->Read(4), "");
  EXPECT_EQ(s->Length(), 0);

  // Over a descriptor of the caller's, who may write through it, every read
  // goes to the file.
  const int fd = ::open((dir / "f.bin").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  auto over = BinaryStream::OnDescriptor(fd, false);
  EXPECT_EQ(over->Read(4), bytes.substr(0, 4));
  ASSERT_EQ(::pwrite(fd, "WXYZ", 4, 0), 4);
  over->SetPosition(0);
  EXPECT_EQ(over->Read(4), "WXYZ");
  ::close(fd);
}

TEST(MemoryBlockTest, BothByteOrdersAndBoundsChecked) {
  MemoryBlock b(8);
  b.SetUInt32Value(0, 0x01020304u);
  EXPECT_EQ(b.StringValue(0, 4), std::string("\x01\x02\x03\x04", 4));
  b.LittleEndian = true;
  EXPECT_EQ(b.UInt32Value(0), 0x04030201u);
  b.SetUInt16Value(4, 0xFFFE);
  EXPECT_EQ(b.Int16Value(4), -2);
  EXPECT_EQ(b.UInt8Value(4), 0xFE);
  EXPECT_THROW(b.UInt32Value(5), OutOfBoundsException);
  EXPECT_THROW(b.SetUInt16Value(7, 1), OutOfBoundsException);
  EXPECT_THROW(b.StringValue(8, 1), OutOfBoundsException);
  EXPECT_THROW(b.StringValue(static_cast<std::size_t>(-1), 2), OutOfBoundsException);
  EXPECT_NO_THROW(b.StringValue(8, 0));
  b.SetStringValue(6, std::string("\x01"
                                  "a",
                                  2));
  EXPECT_EQ(b.PStringValue(6), "a");
  MemoryBlock p =
      MemoryBlock::FromBytes(std::string("\x03"
                                         "abc",
                                         4));
  EXPECT_EQ(p.PStringValue(0), "abc");
  MemoryBlock lying =
      MemoryBlock::FromBytes(std::string("\x09"
                                         "abc",
                                         4));
  EXPECT_THROW(lying.PStringValue(0), OutOfBoundsException);
  EXPECT_THROW(MemoryBlock(static_cast<std::size_t>(-1)), OutOfMemoryException);
}

TEST(TextEncodingTest, CodePagesConvertAndReplaceWhatTheyLack) {
  const auto& utf8 = TextEncoding::UTF8();
  EXPECT_EQ(ConvertEncoding("\x82\x9c", TextEncoding::DOSLatinUS(), utf8), "é£");
  EXPECT_EQ(ConvertEncoding("\x80", TextEncoding::WindowsANSI(), utf8), "€");
  EXPECT_EQ(ConvertEncoding("\xa5", TextEncoding::MacRoman(), utf8), "•");
  EXPECT_EQ(ConvertEncoding("Ω€x", utf8, TextEncoding::DOSLatinUS()), "\xea?x");
  EXPECT_EQ(ConvertEncoding("a\xff"
                            "b",
                            utf8, TextEncoding::WindowsANSI()),
            "a?b");
  EXPECT_EQ(ConvertEncoding("", utf8, TextEncoding::MacRoman()), "");
  EXPECT_TRUE(IsValidUTF8("plain é 日本"));
  EXPECT_FALSE(IsValidUTF8("\xc0\xaf"));      // overlong "/"
  EXPECT_FALSE(IsValidUTF8("\xed\xa0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUTF8("\xe6\x97"));      // cut short
  EXPECT_EQ(GetTextEncoding(0x400, 0, 0), &TextEncoding::DOSLatinUS());
  EXPECT_EQ(GetTextEncoding(0x401, 0, 0), nullptr);
}

TEST(MacDatesTest, FieldsSecondsDosDatesAndUtcOffset) {
  EXPECT_EQ(Date::FromFields(1904, 1, 1, 0, 0, 0).TotalSeconds(), 0);
  EXPECT_EQ(Date::FromFields(1904, 1, 2, 0, 0, 1).TotalSeconds(), 86401);
  Date leap = Date::FromFields(2024, 2, 29, 23, 59, 59);
  EXPECT_EQ(Date::FromTotalSeconds(leap.TotalSeconds()), leap);
  EXPECT_EQ(Date::FromFields(2023, 0, 1, 0, 0, 0), Date::FromFields(2022, 12, 1, 0, 0, 0));
  EXPECT_EQ(Date::FromFields(2023, 3, 0, 0, 0, 62), Date::FromFields(2023, 2, 28, 0, 1, 2));
  EXPECT_EQ(Date::FromFields(2023, 1, 1, 24, 60, 0), Date::FromFields(2023, 1, 2, 1, 0, 0));

  std::uint16_t t = 0, d = 0;
  DateToDosDateTime(Date::FromFields(2021, 6, 15, 13, 45, 59), t, d);
  EXPECT_EQ(t, (13 << 11) | (45 << 5) | 29);
  EXPECT_EQ(d, (41 << 9) | (6 << 5) | 15);
  EXPECT_EQ(*DosDateTimeToDate(t, d), Date::FromFields(2021, 6, 15, 13, 45, 58));
  DateToDosDateTime(Date::FromFields(1975, 3, 4, 0, 0, 0), t, d);
  EXPECT_EQ(d, 4 + 3 * 32);
  // Seven bits of years: 2107 is the last, and later years stay there
  // rather than wrap round to 1980.
  DateToDosDateTime(Date::FromFields(2107, 12, 31, 0, 0, 0), t, d);
  EXPECT_EQ(d, (127 << 9) | (12 << 5) | 31);
  DateToDosDateTime(Date::FromFields(2108, 1, 2, 0, 0, 0), t, d);
  EXPECT_EQ(d, (127 << 9) | (1 << 5) | 2);
  EXPECT_FALSE(DosDateTimeToDate(0, 0).has_value());

  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "XXX-5:45", 1);
  tzset();
  EXPECT_EQ(UTCOffsetInMinutes(), 345);
  EXPECT_EQ(UnixToMacSeconds(0, 345), kMacEpochToUnixEpoch + 345 * 60);
  setenv("TZ", "YYY3:30", 1);
  tzset();
  EXPECT_EQ(UTCOffsetInMinutes(), -210);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(AppleDoubleTest, HeaderDescriptorsAreCheckedAgainstTheFile) {
  const std::string head = fixtures::AppleDoubleHeader({{kAppleDoubleFinderInfo, 38, 32}});
  std::string whole = head + std::string(32, 'f');
  auto entries = ParseAppleDoubleHeader(whole);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].offset, 38u);
  EXPECT_FALSE(ParseAppleDoubleHeader(whole.substr(0, 60)).has_value());  // entry cut off
  EXPECT_TRUE(ParseAppleDoubleHeader(whole.substr(0, 60), 70).has_value());
  EXPECT_FALSE(ParseAppleDoubleHeader(head.substr(0, 30)).has_value());  // descriptor cut off
  std::string wrongMagic = whole;
  wrongMagic[3] = 0x08;
  EXPECT_FALSE(ParseAppleDoubleHeader(wrongMagic).has_value());
  EXPECT_EQ(AppleDoubleSidecar("/a/b/file.txt"), std::filesystem::path("/a/b/._file.txt"));
  EXPECT_EQ(AppleDoubleSidecar("/a/b/folder/"), std::filesystem::path("/a/b/._folder"));

  // A sidecar on disk whose entry lies in its own descriptors is damage, and
  // gives no Finder information; an empty entry lies nowhere, even at 0 or
  // at the very end. Metadata entries are read whole up to 1 MiB; a larger
  // one is refused, not loaded.
  const std::string info = "TYPECRTR" + std::string(24, '\0');
  const auto finderInfoOf = [&](std::uint32_t length) {
    return fixtures::AppleDoubleHeader({{kAppleDoubleFinderInfo, 38, length}}) + info +
           std::string(length - info.size(), '\0');
  };
  const struct {
    std::string sidecar, typeCreator;
  } onDisk[] = {
      {fixtures::AppleDoubleHeader({{kAppleDoubleFinderInfo, 30, 32}}) + info, ""},
      {fixtures::AppleDoubleHeader(
           {{kAppleDoubleResourceFork, 0, 0}, {kAppleDoubleFinderInfo, 50, 32}}) +
           info,
       "TYPECRTR"},
      {fixtures::AppleDoubleHeader(
           {{kAppleDoubleFinderInfo, 50, 32}, {kAppleDoubleResourceFork, 82, 0}}) +
           info,
       "TYPECRTR"},
      {finderInfoOf(1u << 20), "TYPECRTR"},
      {finderInfoOf((1u << 20) + 1), ""},
  };
  fixtures::TempDir dir;
  fixtures::WriteFile(dir / "item", "data");
  for (const auto& c : onDisk) {
    fixtures::WriteFile(dir / "._item", c.sidecar);
    std::string type, creator;
    ReadMacTypeCreator(platform::ItemAt(dir / "item"), type, creator);
    EXPECT_EQ(type + creator, c.typeCreator) << "row " << &c - onDisk;
  }
}

TEST(AppleDoubleTest, FinderInformationNearTheFourGibibyteMarkIsNotReadOutOfBounds) {
  // A sidecar of 4 GiB (sparse) whose Finder information is said to lie in
  // its last 8 bytes: the descriptor is valid for the file, but those bytes
  // are not among the ones read.
  const std::string head = fixtures::AppleDoubleHeader({{kAppleDoubleFinderInfo, 0xFFFFFFF8u, 8}});
  fixtures::TempDir dir;
  fixtures::WriteFile(dir / "item", "data");
  fixtures::WriteFile(dir / "._item", head);
  std::filesystem::resize_file(dir / "._item", 0x100000000ull);
  std::string type = "x", creator = "y";
  EXPECT_NO_THROW(ReadMacTypeCreator(platform::ItemAt(dir / "item"), type, creator));
  EXPECT_EQ(type, "");
  EXPECT_EQ(creator, "");
}
