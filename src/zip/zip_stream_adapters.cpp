#include "zip/zip_stream_adapters.h"

#include <algorithm>
#include <utility>

#include "platform/checksums.h"

namespace zip {

ZipBinaryStreamReader::ZipBinaryStreamReader(platform::BinaryStream& stream, std::int64_t count,
                                             std::string prefix, std::string suffix)
    : theStream(stream),
      leftToRead(static_cast<std::int64_t>(prefix.size()) + std::max<std::int64_t>(count, 0) +
                 static_cast<std::int64_t>(suffix.size())),
      prefixStr(std::move(prefix)),
      suffixStr(std::move(suffix)),
      streamLen(std::max<std::int64_t>(count, 0)) {}

std::string ZipBinaryStreamReader::Read(std::int32_t count) {
  if (count <= 0) return {};
  std::int64_t n = count;
  if (leftToRead < n) {
    n = leftToRead;
    if (n == 0) errCode = kEndOfData;
  }
  if (n <= 0) return {};
  leftToRead -= n;
  return fetch(n);
}

// Serves the three parts strictly in order, crossing their seams within one
// call. The stream part is read in one piece per call and counts as served
// even when the file gives fewer bytes, so no call reads past the member.
std::string ZipBinaryStreamReader::fetch(std::int64_t count) {
  std::string out;
  out.reserve(static_cast<std::size_t>(count));
  auto take = [&](std::string& part) {
    const std::size_t k = std::min(part.size(), static_cast<std::size_t>(count));
    out.append(part, 0, k);
    part.erase(0, k);
    count -= static_cast<std::int64_t>(k);
  };
  while (count > 0) {
    if (!prefixStr.empty()) {
      take(prefixStr);
    } else if (streamLen > 0) {
      const std::int64_t k = std::min(streamLen, count);
      streamLen -= k;
      count -= k;
      out += theStream.Read(static_cast<std::size_t>(k));
    } else if (!suffixStr.empty()) {
      take(suffixStr);
    } else {
      break;
    }
  }
  return out;
}

ZipBinaryStreamWriter::ZipBinaryStreamWriter(platform::BinaryStream& stream, std::int64_t discard)
    : binstream(stream), discardLeadingBytes(discard) {}

void ZipBinaryStreamWriter::Write(std::string_view data) {
  if (calcCRC) crc_ = platform::Crc32(data, crc_);
  const auto length = static_cast<std::int64_t>(data.size());
  if (discardLeadingBytes < 1) {
    binstream.Write(data);
    written += length;
  } else if (length < discardLeadingBytes) {
    discardLeadingBytes -= length;
  } else {
    binstream.Write(data.substr(static_cast<std::size_t>(discardLeadingBytes)));
    written += length - discardLeadingBytes;
    discardLeadingBytes = 0;
  }
}

}  // namespace zip
