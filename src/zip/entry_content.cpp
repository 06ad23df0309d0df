// An entry's content on its way into the archive: the data fork alone, or a
// MacBinary header followed by both forks, each padded with zero bytes to a
// multiple of 128. It is read a chunk at a time and handed straight to the
// deflater, whose output goes to the archive behind the local header.
#include <algorithm>

#include "platform/zstream.h"
#include "zip/seq_data_streams.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"
#include "zip/zip_stream_adapters.h"

namespace zip {

namespace {

using namespace messages;
namespace mb = records::macbinary;

constexpr char kAborted[] = "Aborted";
constexpr char kStoreFailed[] = "Internal error (Store)";
constexpr char kRsrcNotOpened[] = "Opening the source rsrc stream failed";
constexpr std::int64_t kGzipHeader = 10;
constexpr std::int64_t kGzipTrailer = 8;

std::int64_t PadTo128(std::int64_t length) {
  return mb::Padded(length) - length;
}

// Hands one entry's content to the deflater, counts it and reports progress.
class ContentFeed {
 public:
  // The first read asks for `firstReadShortBy` bytes less than a chunk, so
  // that what was put before it and that read fill one chunk.
  ContentFeed(platform::ZStream& z, const ZipEntry& entry, std::int64_t size, std::int32_t chunk,
              std::int64_t firstReadShortBy, ZipProgressNotifier* monitor, bool& abort)
      : z_(z),
        entry_(entry),
        size_(size),
        chunk_(std::max(chunk, 1)),
        nextRead_(std::max<std::int64_t>(chunk_ - firstReadShortBy, 1)),
        monitor_(monitor),
        abort_(abort) {}

  std::int64_t Done() const { return done_; }
  void Put(std::string_view bytes) {
    z_.Write(bytes);
    done_ += static_cast<std::int64_t>(bytes.size());
  }
  void Zeros(std::int64_t count) {
    if (count > 0) Put(std::string(static_cast<std::size_t>(count), '\0'));
  }
  // Reads `length` bytes of `source` in chunks. A source that gives fewer
  // is asked for the rest all the same; the shortfall shows in Done().
  void Copy(SeqDataInputStream& source, std::int64_t length) {
    while (length > 0 && !abort_) {
      const std::int64_t ask = std::min(length, nextRead_);
      const std::string bytes = source.Read(static_cast<std::int32_t>(ask));
      z_.Write(bytes);
      done_ += static_cast<std::int64_t>(bytes.size());
      length -= ask;
      nextRead_ = chunk_;
      if (monitor_ && done_ < size_) {
        monitor_->zipProgress(entry_, static_cast<std::int32_t>(size_),
                              static_cast<std::int32_t>(done_), abort_);
      }
    }
  }

 private:
  platform::ZStream& z_;
  const ZipEntry& entry_;
  std::int64_t size_;
  std::int64_t chunk_;
  std::int64_t nextRead_;
  ZipProgressNotifier* monitor_;
  bool& abort_;
  std::int64_t done_ = 0;
};

// Opens, copies and closes one source; false when it would not open.
bool CopySource(ContentFeed& feed, SeqDataInputStream& source, std::int64_t length) {
  if (!source.Open()) return false;
  feed.Copy(source, length);
  source.Close();
  return true;
}

}  // namespace

std::int32_t ZipArchive::z_writeContent(const EntrySources& src, const ZipEntry& entry,
                                        std::int64_t size, std::int64_t dataStart,
                                        std::uint32_t& crc, std::int64_t& end) {
  platform::BinaryStream& s = *d->zipStream;
  const std::shared_ptr<ZipProgressNotifier> monitor = d->monitor;
  const auto total = static_cast<std::int32_t>(size);
  bool abort = false;
  if (monitor) monitor->zipProgress(entry, total, 0, abort);
  s.SetPosition(dataStart);
  ZipBinaryStreamWriter sink(s, kGzipHeader);
  std::int64_t done = 0;
  std::int32_t deflateError = platform::ZStream::kNoError;
  if (!abort) {
    platform::ZStream z(true, &sink, nullptr);
    ContentFeed feed(z, entry, size, d->copyChunkSize,
                     src.macBinary ? static_cast<std::int64_t>(mb::kSize) : 0, monitor.get(),
                     abort);
    if (src.macBinary) feed.Put(src.macBinary->StringValue(0, mb::kSize));
    if (src.data && !CopySource(feed, *src.data, src.dataLength)) {
      errmsg = kDataNotOpened;
      return kSourceNotOpened;
    }
    if (src.macBinary && !abort) {
      feed.Zeros(PadTo128(src.dataLength));
      if (src.rsrc && !CopySource(feed, *src.rsrc, src.rsrcLength)) {
        errmsg = kRsrcNotOpened;
        return kSourceNotOpened;
      }
      if (!abort) feed.Zeros(PadTo128(src.rsrcLength));
    }
    z.Close();
    deflateError = z.ErrorValue();
    done = feed.Done();
  }
  if (monitor) monitor->zipProgress(entry, total, total, abort);
  if (abort) {
    errmsg = kAborted;
    return 0;
  }
  if (done != size) {
    errmsg = kReadError;
    return kBytesDoNotAddUp;
  }
  // A deflater that failed, or closed without its trailer, wrote no entry
  // that could be read back: a fault of the library's own, not the disk's.
  if (deflateError < 0 || sink.BytesWritten() < kGzipTrailer) {
    errmsg = kStoreFailed;
    return kBytesDoNotAddUp;
  }
  // The deflater's trailer closes what the sink wrote: its first four bytes
  // are the CRC-32 of everything deflated.
  const std::int64_t p = s.Position();
  if (s.WriteError() || p != dataStart + sink.BytesWritten()) {
    errmsg = kWriteError;
    return kBytesDoNotAddUp;
  }
  s.SetPosition(p - kGzipTrailer);
  crc = s.ReadUInt32();
  if (s.ReadError()) {
    errmsg = kWriteError;
    return kBytesDoNotAddUp;
  }
  end = p - kGzipTrailer;
  return 1;
}

}  // namespace zip
