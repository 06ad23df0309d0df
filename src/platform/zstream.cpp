#include "platform/zstream.h"

#include <zlib.h>

#include <algorithm>

#include "platform/framework_exceptions.h"

namespace platform {

namespace {

constexpr std::int32_t kChunk = 16384;
constexpr int kGzipWindowBits = 15 + 16;  // 32 KiB window, gzip framing

}  // namespace

struct ZStream::State {
  z_stream s{};
  bool initialised = false;
  std::string input;   // the chunk that next_in points into
  std::string output;  // deflating only: the chunk compressed into
  char spare = 0;      // an output target of no room, for reading ahead
};

ZStream::ZStream(bool write, IStreamWriter* writer, IStreamReader* reader)
    : z_(std::make_unique<State>()), writing_(write), writer_(writer), reader_(reader) {
  if (write ? writer == nullptr : reader == nullptr) throw NilObjectException();
  const int rc = write ? ::deflateInit2(&z_->s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                                        8, Z_DEFAULT_STRATEGY)
                       : ::inflateInit2(&z_->s, kGzipWindowBits);
  if (rc == Z_OK) {
    z_->initialised = true;
  } else {
    errorValue_ = rc == Z_MEM_ERROR ? kMemoryError : kDataError;
  }
}

void ZStream::Restart(IStreamReader* reader) {
  if (writing_) throw RuntimeException();
  if (reader == nullptr) throw NilObjectException();
  reader_ = reader;
  if (!z_->initialised) return;
  errorValue_ = ::inflateReset(&z_->s) == Z_OK ? kNoError : kDataError;
  z_->input.clear();
  z_->s.next_in = nullptr;
  z_->s.avail_in = 0;
  inputDry_ = false;
  closed_ = false;
}

ZStream::~ZStream() {
  if (!z_->initialised) return;
  if (writing_) {
    ::deflateEnd(&z_->s);
  } else {
    ::inflateEnd(&z_->s);
  }
}

std::string ZStream::Read(std::int32_t count) {
  if (writing_) throw RuntimeException();
  if (count <= 0 || errorValue_ != kNoError) return {};
  std::string out(static_cast<std::size_t>(count), '\0');
  z_->s.next_out = reinterpret_cast<Bytef*>(out.data());
  z_->s.avail_out = static_cast<uInt>(count);
  Inflate(false);
  out.resize(static_cast<std::size_t>(count) - z_->s.avail_out);
  if (errorValue_ == kNoError) {
    z_->s.next_out = reinterpret_cast<Bytef*>(&z_->spare);
    z_->s.avail_out = 0;
    Inflate(true);
  }
  return out;
}

bool ZStream::Refill() {
  if (inputDry_) return false;
  z_->input = reader_->Read(kChunk);
  if (z_->input.empty()) {
    inputDry_ = true;
    return false;
  }
  z_->s.next_in = reinterpret_cast<Bytef*>(z_->input.data());
  z_->s.avail_in = static_cast<uInt>(z_->input.size());
  return true;
}

// Inflates until the output room is full (or, reading ahead, until no more
// input can be taken without output room), the stream ends or fails.
void ZStream::Inflate(bool lookingAhead) {
  z_stream& s = z_->s;
  for (;;) {
    if (s.avail_in == 0) Refill();
    const uInt inBefore = s.avail_in, outBefore = s.avail_out;
    const int rc = ::inflate(&s, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      errorValue_ = kEndOfStream;
      return;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      errorValue_ = rc == Z_MEM_ERROR ? kMemoryError : kDataError;
      return;
    }
    if (s.avail_out == 0 && !lookingAhead) return;
    if (s.avail_in == inBefore && s.avail_out == outBefore) {
      // No progress: either every byte of input is gone before the end of
      // the stream, or (reading ahead) the stream holds more output than
      // was asked for, which the next Read will hand out.
      if (s.avail_in == 0 && inputDry_) errorValue_ = kTruncated;
      return;
    }
  }
}

void ZStream::Write(std::string_view data) {
  if (!writing_) throw RuntimeException();
  if (closed_ || errorValue_ != kNoError) return;
  while (!data.empty() && errorValue_ == kNoError) {
    const std::size_t n = std::min<std::size_t>(data.size(), 1u << 30);
    z_->s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z_->s.avail_in = static_cast<uInt>(n);
    Deflate(Z_NO_FLUSH);
    data.remove_prefix(n);
  }
}

void ZStream::Close() {
  if (!writing_ || closed_) return;
  closed_ = true;
  if (errorValue_ != kNoError) return;
  z_->s.next_in = nullptr;
  z_->s.avail_in = 0;
  Deflate(Z_FINISH);
}

void ZStream::Deflate(int flush) {
  z_stream& s = z_->s;
  int rc = Z_OK;
  do {
    if (z_->output.empty()) z_->output.resize(kChunk);
    s.next_out = reinterpret_cast<Bytef*>(z_->output.data());
    s.avail_out = static_cast<uInt>(z_->output.size());
    rc = ::deflate(&s, flush);
    if (rc == Z_STREAM_ERROR) {
      errorValue_ = kDataError;
      return;
    }
    const std::size_t have = z_->output.size() - s.avail_out;
    if (have > 0) writer_->Write(std::string_view(z_->output.data(), have));
  } while (s.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
}

}  // namespace platform
