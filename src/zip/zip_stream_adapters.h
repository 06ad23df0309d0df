#pragma once
// The two adapters between the archive file and the compression stream.
// The reader hands the inflater one gzip member assembled on the fly: a
// prefix (the 10-byte gzip header), a member's compressed bytes read from
// the archive, then a suffix (the 8-byte trailer built from the member's
// CRC-32 and size). The writer passes the deflater's output on to the
// archive, dropping its leading gzip header and counting what it passes.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/binary_stream.h"
#include "platform/zstream.h"

namespace zip {

class ZipBinaryStreamReader : public platform::IStreamReader {
 public:
  // Reads `count` bytes from the stream's current position, which the caller
  // has set to the start of the member's data; never more than that.
  ZipBinaryStreamReader(platform::BinaryStream& stream, std::int64_t count, std::string prefix,
                        std::string suffix);

  std::int32_t LastError() override { return errCode; }
  std::string Read(std::int32_t count) override;
  std::int64_t Remaining() const { return leftToRead; }
  std::int32_t ErrorValue() { return LastError(); }

  static constexpr std::int32_t kEndOfData = -39;

 private:
  std::string fetch(std::int64_t count);

  platform::BinaryStream& theStream;
  std::int32_t errCode = 0;
  std::int64_t leftToRead;
  std::string prefixStr;
  std::string suffixStr;
  std::int64_t streamLen;
};

class ZipBinaryStreamWriter : public platform::IStreamWriter {
 public:
  // Writes at the stream's current position, after dropping the first
  // `discard` bytes it is given.
  ZipBinaryStreamWriter(platform::BinaryStream& stream, std::int64_t discard);

  std::int32_t LastError() override { return 0; }
  void Write(std::string_view data) override;
  std::int32_t ErrorValue() { return LastError(); }
  // The stream belongs to the archive, which closes it.
  void Close() {}
  std::int64_t BytesWritten() const { return written; }
  // Later writes fold every byte given, dropped ones included, into CRC().
  void EnableCRCCalculation() { calcCRC = true; }
  std::uint32_t CRC() const { return crc_; }

 private:
  platform::BinaryStream& binstream;
  std::int64_t discardLeadingBytes;
  std::int64_t written = 0;
  std::uint32_t crc_ = 0;
  bool calcCRC = false;
};

}  // namespace zip
