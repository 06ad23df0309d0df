// Decoding one member's data: its local header checked against the central
// record, stored bytes copied or deflated bytes inflated, and the result
// routed to a data-fork and a resource-fork stream, with a MacBinary header
// or an AppleDouble companion split off on request. Data is streamed a chunk
// at a time and never held whole.
#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "platform/checksums.h"
#include "platform/framework_exceptions.h"
#include "platform/zstream.h"
#include "zip/byte_reader.h"
#include "zip/extract_messages.h"
#include "zip/seq_data_streams.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_entry.h"
#include "zip/zip_progress_notifier.h"
#include "zip/zip_records.h"
#include "zip/zip_stream_adapters.h"

namespace zip {

namespace cr = records::central;
namespace lr = records::local;
using messages::kInternal;
using messages::kOpenRsrc;
using platform::MemoryBlockRef;
using platform::ZStream;

namespace {

constexpr char kClosed[] = "Archive is closed";
constexpr char kBadLocalHeader[] =
    "Invalid Local File Header signature (archive appears to be severely corrupted)";
constexpr char kAppleDoubleShort[] = "The AppleDouble header is too short (<82 bytes)";
constexpr char kMismatch[] = "File Headers mismatch";
constexpr char kEncrypted[] = "Unsupported format (encrypted)";
constexpr char kOpenData[] = "Opening destination file failed";
constexpr char kAborted[] = "Aborted";
constexpr char kCorrupted[] = "Data appears to be corrupted";
constexpr char kWriteError[] = "File write error (disk full?)";

// The gzip header the inflater is given in front of a member's raw deflate
// data: magic, method 8, no flags, no time, no extra flags, OS 7.
constexpr char kGzipHeader[] = "\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x07";
constexpr std::size_t kGzipHeaderSize = 10;

constexpr std::int64_t kAppleDoubleHeaderRead = 82;
constexpr std::int64_t kMacBinaryHeaderRead = records::macbinary::kSize;

std::string InflateError(std::int32_t value) {
  return "An error " + std::to_string(value) + " occured while deflation";
}

std::string GzipTrailer(std::uint32_t crc, std::uint32_t size) {
  std::string t;
  for (std::uint32_t v : {crc, size}) {
    for (int i = 0; i < 4; ++i) t.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return t;
}

}  // namespace

struct ZipEntry::LocalHeader {
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::int64_t compressed = 0;
  std::int64_t size = 0;
  std::int64_t dataStart = 0;
  // The archive file's length when the header was read.
  std::int64_t fileLength = 0;
};

struct ZipEntry::UnzipRun {
  enum class Pending { None, AppleDouble, MacBinary };

  SeqDataOutputStream* dataOut = nullptr;
  SeqDataOutputStream* rsrcOut = nullptr;
  bool headerOnly = false;
  bool decodeCompanion = false;
  Pending pending = Pending::None;
  std::uint32_t crc = 0;
  std::int64_t size = 0;
  std::unique_ptr<ZipBinaryStreamReader> reader;
  std::unique_ptr<ZStream> inflater;
  std::uint32_t storedCrc = 0;

  MemoryBlockRef mbHdr;
  bool produced = false;
  std::int64_t dataLeft = 0, rsrcLeft = 0, rsrcStart = 0;
  std::int64_t remaining = 0, done = 0;
  SeqDataOutputStream* output = nullptr;
  bool switched = false;
  std::int64_t chunk = 0, adjustment = 0;
  bool failed = false, writeError = false, abort = false;
  bool headerExit = false, rsrcOpenFailed = false;
};

bool ZipEntry::Fail(std::string message) {
  errmsg = std::move(message);
  return false;
}

// Reads the local header at the central record's offset. The header, its
// name and extra field must lie inside the file.
bool ZipEntry::z_readLocalHeader(LocalHeader& local) {
  platform::BinaryStream& s = *d->zipStream;
  const std::int64_t at = header->UInt32Value(cr::kLocalHeaderOffset);
  const std::int64_t fileLength = local.fileLength = s.Length();
  s.ClearErrors();
  s.SetPosition(at);
  const std::string fixed = at < fileLength ? s.Read(lr::kSize) : std::string();
  ByteReader r(fixed);
  const std::uint32_t signature = r.U32();
  r.Skip(2);  // version needed: read and ignored
  local.flags = r.U16();
  local.method = r.U16();
  r.Skip(4);  // time and date
  local.crc = r.U32();
  local.compressed = r.U32();
  local.size = r.U32();
  const std::uint16_t nameLength = r.U16();
  const std::uint16_t extraLength = r.U16();
  local.dataStart = at + static_cast<std::int64_t>(lr::kSize) + nameLength + extraLength;
  if (!r.ok() || signature != lr::kSignature || local.dataStart > fileLength) {
    return Fail(kBadLocalHeader);
  }
  return true;
}

bool ZipEntry::z_checkLocalHeader(const LocalHeader& local) {
  const bool mismatch =
      local.method != header->UInt16Value(cr::kMethod) ||
      local.crc != header->UInt32Value(cr::kCrc32) ||
      local.compressed != header->UInt32Value(cr::kCompressedSize) ||
      local.size != header->UInt32Value(cr::kUncompressedSize) ||
      (local.flags != header->UInt16Value(cr::kFlags) && !d->isFakeEntry(*header, local.flags));
  if (mismatch) return Fail(kMismatch);
  if (local.flags & records::kFlagEncrypted) return Fail(kEncrypted);
  // The member's data must lie inside the file; what is missing could only
  // be read as a short member.
  if (local.dataStart + local.compressed > local.fileLength) return Fail(kCorrupted);
  return true;
}

// How many bytes the next pass reads, and where they go. False leaves the
// loop (a failed close or open of a fork).
bool ZipEntry::z_unzipPassLength(UnzipRun& run, std::int64_t& n) {
  const std::int64_t most = run.chunk + run.adjustment;
  if (!run.produced) {
    n = std::min(most, run.remaining);
  } else if (run.dataLeft > 0) {
    n = std::min(most, run.dataLeft);
    run.dataLeft -= n;
  } else if (run.done < run.rsrcStart) {
    // The padding between the forks is dropped, a chunk at a time.
    n = std::min(run.chunk, run.rsrcStart - run.done);
    run.output = nullptr;
  } else if (run.rsrcLeft > 0) {
    if (!run.switched) {
      if (run.dataOut && !run.dataOut->Close()) {
        run.writeError = true;
        return false;
      }
      if (run.rsrcOut && !run.rsrcOut->Open()) {
        run.rsrcOpenFailed = true;
        return Fail(kOpenRsrc);
      }
      run.output = run.rsrcOut;
      run.switched = true;
    }
    n = std::min(most, run.rsrcLeft);
    run.rsrcLeft -= n;
  } else {
    run.output = nullptr;
    n = std::min(most, run.remaining);
  }
  return true;
}

// Reads the next `n` bytes of the member; False when fewer came or the
// inflater failed.
bool ZipEntry::z_unzipRead(UnzipRun& run, std::int64_t n, std::string& bytes) {
  if (run.inflater) {
    bytes = run.inflater->Read(static_cast<std::int32_t>(n));
    const std::int32_t value = run.inflater->ErrorValue();
    if (value != ZStream::kNoError && value != ZStream::kEndOfStream) {
      run.failed = true;
      return Fail(InflateError(value));
    }
  } else {
    bytes = d->zipStream->Read(static_cast<std::size_t>(n));
    run.storedCrc = platform::Crc32(bytes, run.storedCrc);
  }
  run.done += static_cast<std::int64_t>(bytes.size());
  return static_cast<std::int64_t>(bytes.size()) == n;
}

void ZipEntry::z_unzipLoop(UnzipRun& run) {
  using Pending = UnzipRun::Pending;
  while (run.remaining > 0 && !run.abort) {
    std::int64_t n = 0;
    if (!z_unzipPassLength(run, n)) return;
    run.adjustment = 0;
    if (run.pending == Pending::AppleDouble) {
      n = kAppleDoubleHeaderRead;
      run.adjustment = -kAppleDoubleHeaderRead;
    } else if (run.pending == Pending::MacBinary) {
      n = kMacBinaryHeaderRead;
      run.adjustment = -kMacBinaryHeaderRead;
    }
    // Nothing beyond the declared size is ever read or written.
    n = std::min(n, run.remaining);
    std::string bytes;
    if (!z_unzipRead(run, n, bytes)) return;
    bool isHeader = false;
    if (run.pending != Pending::None) {
      const bool appleDouble = run.pending == Pending::AppleDouble;
      run.pending = Pending::None;
      if (!z_unzipMBHdr(appleDouble, bytes, run.mbHdr, run.rsrcStart)) {
        run.failed = true;
        return;
      }
      if (run.mbHdr) {
        isHeader = run.produced = true;
        run.dataLeft = run.mbHdr->UInt32Value(records::macbinary::kDataLength);
        run.rsrcLeft = run.mbHdr->UInt32Value(records::macbinary::kResourceLength);
        if (run.size < run.rsrcStart + run.rsrcLeft) return;
      }
    }
    if (run.headerOnly) {
      run.headerExit = true;
      return;
    }
    if (run.output && !isHeader && !run.output->Write(bytes)) {
      run.writeError = true;
      return;
    }
    run.remaining -= n;
    if (d->monitor && run.remaining > 0) {
      d->monitor->zipProgress(*this, static_cast<std::int32_t>(run.size),
                              static_cast<std::int32_t>(run.size - run.remaining), run.abort);
    }
  }
}

// Once the declared size has been read, the member must end there: stored
// bytes must match the CRC-32, and the inflater must reach the end of its
// stream, where it checks the trailer.
void ZipEntry::z_unzipCheckEnd(UnzipRun& run) {
  if (run.failed || run.abort || run.headerExit || run.writeError || run.remaining > 0) return;
  if (!run.inflater) {
    if (run.storedCrc != run.crc) {
      run.failed = true;
      Fail(kCorrupted);
    }
    return;
  }
  if (run.inflater->ErrorValue() == ZStream::kEndOfStream) return;
  const std::string more = run.inflater->Read(1);
  const std::int32_t value = run.inflater->ErrorValue();
  if (!more.empty() || value == ZStream::kNoError) {
    run.failed = true;  // longer than it was said to be
    Fail(kCorrupted);
  } else if (value != ZStream::kEndOfStream) {
    run.failed = true;
    Fail(InflateError(value));
  }
}

bool ZipEntry::z_unzipOutcome(UnzipRun& run, MemoryBlockRef& mbHdr) {
  if (d->monitor && !run.headerOnly) {
    d->monitor->zipProgress(*this, static_cast<std::int32_t>(run.size),
                            static_cast<std::int32_t>(run.size), run.abort);
  }
  if (run.rsrcOut && !run.rsrcOut->Close()) run.writeError = true;
  if (run.dataOut && !run.dataOut->Close()) run.writeError = true;
  mbHdr = run.mbHdr;
  // A companion's own companion ("._._name") is not followed: a chain of them
  // would nest one decoding in another as deep as the archive likes.
  if (!run.failed && run.decodeCompanion && appleDoubleEntry && !thisIsTheAppleDoubleEntry) {
    if (!appleDoubleEntry->z_unzip(nullptr, run.rsrcOut, true, run.headerOnly, mbHdr)) {
      errmsg = appleDoubleEntry->ErrorMessage();
      run.failed = true;
    } else if (mbHdr) {
      mbHdr->SetUInt32Value(records::macbinary::kDataLength, static_cast<std::uint32_t>(run.size));
    }
  }
  if (run.failed) return false;
  if (run.abort) return Fail(kAborted);
  if (!run.writeError && !run.headerExit && run.done != run.size) return Fail(kCorrupted);
  if (run.writeError) return Fail(kWriteError);
  return true;
}

bool ZipEntry::z_unzip(SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut,
                       bool decodeMacBinary, bool headerOnly, MemoryBlockRef& mbHdr) {
  using Pending = UnzipRun::Pending;
  mbHdr.reset();
  if (!d->zipStream) return Fail(kClosed);
  LocalHeader local;
  if (!z_readLocalHeader(local)) return false;
  if (local.flags & records::kFlagDataDescriptor) {
    local.crc = header->UInt32Value(cr::kCrc32);
    local.compressed = header->UInt32Value(cr::kCompressedSize);
    local.size = header->UInt32Value(cr::kUncompressedSize);
  }
  UnzipRun run;
  if (thisIsTheAppleDoubleEntry) {
    run.pending = Pending::AppleDouble;
    if (local.size < kAppleDoubleHeaderRead) return headerOnly || Fail(kAppleDoubleShort);
  } else if (decodeMacBinary && !appleDoubleEntry) {
    if (local.size >= kMacBinaryHeaderRead) {
      run.pending = Pending::MacBinary;
    } else if (headerOnly) {
      return true;
    }
  }
  if (!z_checkLocalHeader(local)) return false;
  d->zipStream->SetPosition(local.dataStart);
  if (local.method == 8) {
    run.reader = std::make_unique<ZipBinaryStreamReader>(
        *d->zipStream, local.compressed, std::string(kGzipHeader, kGzipHeaderSize),
        GzipTrailer(local.crc, static_cast<std::uint32_t>(local.size)));
    run.inflater = d->TakeInflater(run.reader.get());
    if (run.inflater->ErrorValue() != 0) return Fail(InflateError(run.inflater->ErrorValue()));
  } else if (local.method != 0) {
    return Fail("Unsupported compression method (" + std::to_string(local.method) + ")");
  }
  run.dataOut = dataOut;
  run.rsrcOut = rsrcOut;
  run.headerOnly = headerOnly;
  run.decodeCompanion = decodeMacBinary;
  run.crc = local.crc;
  run.size = run.remaining = local.size;
  if (dataOut && !headerOnly) {
    if (!dataOut->Open()) return Fail(kOpenData);
    run.output = dataOut;
  }
  run.chunk = std::max<std::int64_t>(2048, d->copyChunkSize);
  if (d->monitor && !headerOnly) {
    d->monitor->zipProgress(*this, static_cast<std::int32_t>(run.size), 0, run.abort);
  }
  z_unzipLoop(run);
  if (run.rsrcOpenFailed) return false;
  z_unzipCheckEnd(run);
  const bool ok = z_unzipOutcome(run, mbHdr);
  if (run.inflater) d->KeepInflater(std::move(run.inflater));
  return ok;
}

bool ZipEntry::Extract(bool decodeMacBinary, SeqDataOutputStream* dataOut,
                       SeqDataOutputStream* rsrcOut, MemoryBlockRef& mbHdr) {
  mbHdr.reset();
  try {
    if (!dataOut && !rsrcOut && !decodeMacBinary) throw platform::RuntimeException();
    MemoryBlockRef h;
    const bool ok = z_unzip(dataOut, rsrcOut, decodeMacBinary, isFolder, h);
    mbHdr = h;
    return ok;
  } catch (const platform::RuntimeException&) {
    return Fail(kInternal);
  } catch (const std::bad_alloc&) {
    return Fail(kInternal);
  }
}

bool ZipEntry::Verify() {
  try {
    MemoryBlockRef h;
    return z_unzip(nullptr, nullptr, false, false, h);
  } catch (const platform::RuntimeException&) {
    return Fail(kInternal);
  } catch (const std::bad_alloc&) {
    return Fail(kInternal);
  }
}

bool ZipEntry::GetMacBinaryHeader(MemoryBlockRef& mbHdr) {
  mbHdr.reset();
  MemoryBlockRef h;
  if (!z_unzip(nullptr, nullptr, true, true, h)) return false;
  errmsg.clear();
  mbHdr = h;
  return mbHdr != nullptr;
}

}  // namespace zip
