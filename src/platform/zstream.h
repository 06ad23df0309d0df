#pragma once
// Deflate and inflate of gzip members (RFC 1952) over zlib, streamed through
// a reader or a writer: only one chunk of input and one of output is held at
// any time, whatever the member's size.
//
// Inflating reads the whole member (10-byte header, raw deflate data, 8-byte
// trailer) from an IStreamReader; zlib checks the trailer's CRC-32 and length
// against what it inflated. Deflating writes a 10-byte header with no
// optional fields, the raw deflate data and the trailer to an IStreamWriter.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Where a stream's compressed input comes from.
class IStreamReader {
 public:
  virtual ~IStreamReader() = default;
  // Up to `count` further bytes; the empty string once the data is used up.
  virtual std::string Read(std::int32_t count) = 0;
  // 0, or -39 once the data is used up.
  virtual std::int32_t LastError() = 0;
};

// Where a stream's compressed output goes.
class IStreamWriter {
 public:
  virtual ~IStreamWriter() = default;
  virtual void Write(std::string_view data) = 0;
  virtual std::int32_t LastError() = 0;
};

class ZStream {
 public:
  // What ErrorValue says. Negative values are zlib's own codes.
  static constexpr std::int32_t kNoError = 0;
  static constexpr std::int32_t kEndOfStream = 1;   // inflated to the end, trailer checked
  static constexpr std::int32_t kDataError = -3;    // corrupt data, or a wrong CRC-32 or length
  static constexpr std::int32_t kMemoryError = -4;  // zlib could not allocate its state
  static constexpr std::int32_t kTruncated = -5;    // the input ended before the stream did

  // Deflating: (true, writer, nullptr). Inflating: (false, nullptr, reader).
  // The reader or writer must outlive the stream; a missing one raises
  // NilObjectException.
  ZStream(bool write, IStreamWriter* writer, IStreamReader* reader);
  ~ZStream();
  ZStream(const ZStream&) = delete;
  ZStream& operator=(const ZStream&) = delete;

  // Inflating: begins a new stream from `reader`, as a new ZStream would,
  // keeping what zlib allocated for the last one. A stream that failed to
  // start stays failed.
  void Restart(IStreamReader* reader);

  // Inflating: the next `count` inflated bytes, fewer only where the stream
  // ends or fails. After filling the request the stream reads on as far as
  // it can without producing output, so the Read that returns a member's
  // last byte already reports kEndOfStream, or kDataError for a trailer that
  // does not match. A Read past the end returns the empty string and keeps
  // the value; a further byte where the caller expected the end means the
  // member is longer than it was said to be.
  std::string Read(std::int32_t count);
  // Deflating: compresses `data` into the writer.
  void Write(std::string_view data);
  // Deflating: flushes the rest of the data and the trailer into the writer.
  // Further calls do nothing.
  void Close();

  // kNoError, kEndOfStream, or the first failure (negative); a failure stays.
  std::int32_t ErrorValue() const { return errorValue_; }

 private:
  struct State;
  void Inflate(bool lookingAhead);
  bool Refill();
  void Deflate(int flush);

  std::unique_ptr<State> z_;
  bool writing_;
  IStreamWriter* writer_;
  IStreamReader* reader_;
  std::int32_t errorValue_ = kNoError;
  bool inputDry_ = false;
  bool closed_ = false;
};

}  // namespace platform
