#pragma once
// The on-disk records of a zip archive (version 2.0 subset), laid out once.
// Every integer is little-endian; the only big-endian item is the "ZPIT"
// signature inside the Mac extra field. Readers and writers take their
// offsets from here and nowhere else.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zip::records {

// Local file header: 30 bytes, then the name and the extra field.
namespace local {
inline constexpr std::uint32_t kSignature = 0x04034b50;
inline constexpr std::size_t kSize = 30;
inline constexpr std::size_t kSignatureAt = 0;
inline constexpr std::size_t kVersionNeeded = 4;
inline constexpr std::size_t kFlags = 6;
inline constexpr std::size_t kMethod = 8;
inline constexpr std::size_t kTime = 10;
inline constexpr std::size_t kDate = 12;
inline constexpr std::size_t kCrc32 = 14;
inline constexpr std::size_t kCompressedSize = 18;
inline constexpr std::size_t kUncompressedSize = 22;
inline constexpr std::size_t kNameLength = 26;
inline constexpr std::size_t kExtraLength = 28;
}  // namespace local

// Central directory record: 46 bytes, then the name, the extra field and the
// member comment.
namespace central {
inline constexpr std::uint32_t kSignature = 0x02014b50;
inline constexpr std::size_t kSize = 46;
inline constexpr std::size_t kSignatureAt = 0;
inline constexpr std::size_t kVersionMadeBy = 4;
inline constexpr std::size_t kHostSystem = 5;
inline constexpr std::size_t kVersionNeeded = 6;
inline constexpr std::size_t kFlags = 8;
inline constexpr std::size_t kMethod = 10;
inline constexpr std::size_t kTime = 12;
inline constexpr std::size_t kDate = 14;
inline constexpr std::size_t kCrc32 = 16;
inline constexpr std::size_t kCompressedSize = 20;
inline constexpr std::size_t kUncompressedSize = 24;
inline constexpr std::size_t kNameLength = 28;
inline constexpr std::size_t kExtraLength = 30;
inline constexpr std::size_t kCommentLength = 32;
inline constexpr std::size_t kDiskStart = 34;
inline constexpr std::size_t kInternalAttributes = 36;
inline constexpr std::size_t kExternalAttributes = 38;
inline constexpr std::size_t kLocalHeaderOffset = 42;
}  // namespace central

// End of central directory record: 22 bytes, then the archive comment.
namespace end {
inline constexpr std::uint32_t kSignature = 0x06054b50;
inline constexpr std::size_t kSize = 22;
inline constexpr std::size_t kSignatureAt = 0;
inline constexpr std::size_t kThisDisk = 4;
inline constexpr std::size_t kDirectoryDisk = 6;
inline constexpr std::size_t kEntriesOnDisk = 8;
inline constexpr std::size_t kEntriesTotal = 10;
inline constexpr std::size_t kDirectorySize = 12;
inline constexpr std::size_t kDirectoryOffset = 16;
inline constexpr std::size_t kCommentLength = 20;
// How far before the end of the file the record may start: its own 22
// bytes plus the longest comment, and a few bytes of slack.
inline constexpr std::int64_t kSearchSpan = 65560;
// The zip64 locator that stands right before the end record of an archive
// whose directory's place, size or count only zip64 records can hold.
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
inline constexpr std::size_t kZip64LocatorSize = 20;
}  // namespace end

// The zip64 end record (56 bytes, without extensible data) and the locator
// that points at it, written between the directory and the end record with
// the same count, size and place as the end record.
namespace zip64 {
inline constexpr std::uint32_t kEndSignature = 0x06064b50;
inline constexpr std::size_t kEndSize = 56;
inline constexpr std::size_t kEndSignatureAt = 0;
inline constexpr std::size_t kEndRecordSize = 4;  // 64-bit: the bytes after this field
inline constexpr std::size_t kEndVersionMadeBy = 12;
inline constexpr std::size_t kEndVersionNeeded = 14;
inline constexpr std::size_t kEndThisDisk = 16;
inline constexpr std::size_t kEndDirectoryDisk = 20;
inline constexpr std::size_t kEndEntriesOnDisk = 24;    // 64-bit
inline constexpr std::size_t kEndEntriesTotal = 32;     // 64-bit
inline constexpr std::size_t kEndDirectorySize = 40;    // 64-bit
inline constexpr std::size_t kEndDirectoryOffset = 48;  // 64-bit
inline constexpr std::uint16_t kVersion = 45;           // the version that knows zip64 records
inline constexpr std::size_t kLocatorSignatureAt = 0;
inline constexpr std::size_t kLocatorEndDisk = 4;
inline constexpr std::size_t kLocatorEndOffset = 8;  // 64-bit
inline constexpr std::size_t kLocatorTotalDisks = 16;
// The two together, as much as a directory may grow by them.
inline constexpr std::size_t kRecordsSize = kEndSize + end::kZip64LocatorSize;
}  // namespace zip64

// The highest "version needed to extract" this reader accepts (2.0).
inline constexpr std::uint16_t kMaxVersionNeeded = 20;
// What this system writes as "version made by" and "version needed".
inline constexpr std::uint8_t kVersionWritten = 20;

// Limits of the 16- and 32-bit fields. A name, extra field or comment longer
// than a 16-bit length, more records than a 16-bit count, or an offset past a
// 32-bit one cannot be written at all: cutting the value would corrupt the
// archive, so the writers refuse before the first byte.
inline constexpr std::size_t kMaxField16 = 0xFFFF;
inline constexpr std::size_t kMaxEntries = 0xFFFF;
inline constexpr std::int64_t kMaxOffset = 0xFFFFFFFFLL;
// Sizes are handled as signed 32-bit values, so an entry's content stays
// below 2^31 bytes.
inline constexpr std::int64_t kMaxEntrySize = 0x7FFFFFFFLL;

// General purpose flag bits.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;

// Extra field block: records of {u16 id, u16 data size, data}.
namespace extra {
inline constexpr std::size_t kRecordHeader = 4;
inline constexpr std::uint16_t kMacLongId = 0x2605;   // "ZPIT" with a name
inline constexpr std::uint16_t kMacShortId = 0x2705;  // "ZPIT" without a name
inline constexpr char kMacSignature[] = "ZPIT";       // big-endian 0x5A504954
inline constexpr std::size_t kMacSignatureAt = 4;
inline constexpr std::size_t kMacMinData = 12;
inline constexpr std::size_t kMacNameAt = 8;  // long form: length byte, then the name
inline constexpr std::uint16_t kUnixType1Id = 0x5855;
inline constexpr std::size_t kUnixType1Size = 12;  // the whole block: id, size 8, two times
inline constexpr std::size_t kUnixAccessTime = 4;
inline constexpr std::size_t kUnixModTime = 8;
}  // namespace extra

// MacBinary III header: 128 bytes, big-endian, ahead of the data fork and
// the resource fork, each of them padded to a multiple of 128 bytes.
namespace macbinary {
inline constexpr std::size_t kSize = 128;
inline constexpr std::size_t kOldVersion = 0;  // must be 0
inline constexpr std::size_t kNameLength = 1;  // 1 to 63
inline constexpr std::size_t kName = 2;
inline constexpr std::size_t kMaxName = 63;
inline constexpr std::size_t kType = 65;
inline constexpr std::size_t kCreator = 69;
inline constexpr std::size_t kFinderFlagsHigh = 73;
inline constexpr std::size_t kProtected = 81;
inline constexpr std::size_t kZeroFill = 82;  // must be 0
inline constexpr std::size_t kDataLength = 83;
inline constexpr std::size_t kResourceLength = 87;
inline constexpr std::size_t kCreated = 91;
inline constexpr std::size_t kModified = 95;
inline constexpr std::size_t kFinderFlagsLow = 101;
inline constexpr std::size_t kSignature = 102;
inline constexpr std::uint32_t kSignatureValue = 0x6D42494E;  // "mBIN"
inline constexpr std::size_t kScript = 106;
inline constexpr std::size_t kExtendedFlags = 107;
inline constexpr std::size_t kWriterVersion = 122;
inline constexpr std::size_t kReaderVersion = 123;
inline constexpr std::uint8_t kVersionWritten = 130;
inline constexpr std::uint8_t kVersionNeeded = 129;
inline constexpr std::size_t kCrc = 124;       // CRC-16 of bytes 0 to 123
inline constexpr std::size_t kReserved = 126;  // must be 0

// A fork's length padded with zero bytes to a multiple of 128, as the
// MacBinary form stores it.
constexpr std::int64_t Padded(std::int64_t length) {
  return (length + 127) & ~std::int64_t{127};
}
// The length of a whole MacBinary stream: header and both padded forks.
constexpr std::int64_t StreamLength(std::int64_t dataLength, std::int64_t rsrcLength) {
  return static_cast<std::int64_t>(kSize) + Padded(dataLength) + Padded(rsrcLength);
}

// Where the resource fork starts in a MacBinary stream: after the header
// and the data fork padded to a multiple of 128 bytes.
constexpr std::uint64_t ResourceForkStart(std::uint32_t dataLength) {
  return kSize + ((static_cast<std::uint64_t>(dataLength) + 127) & ~std::uint64_t{127});
}
}  // namespace macbinary

// The little-endian 32-bit number at `at` in `bytes`, which holds 4 bytes
// from there.
inline std::uint32_t LE32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}

}  // namespace zip::records
