#include "platform/binary_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

std::unique_ptr<BinaryStream> BinaryStream::Open(const ItemAt& item, bool writable,
                                                 bool followLink) {
  const int noFollow = followLink && !item.Anchored() ? 0 : O_NOFOLLOW;
  int fd = ::openat(item.folder, item.name.c_str(),
                    (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
  if (fd < 0) return nullptr;
  Looked st{};
  if (!LookThrough(fd, st) || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<BinaryStream>(new BinaryStream(fd, writable));
}

std::unique_ptr<BinaryStream> BinaryStream::Create(const ItemAt& item, bool followLink) {
  const int noFollow = followLink && !item.Anchored() ? 0 : O_NOFOLLOW;
  int fd =
      ::openat(item.folder, item.name.c_str(),
               O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow, 0644);
  if (fd < 0) return nullptr;
  Looked st{};
  if (!LookThrough(fd, st) || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<BinaryStream>(new BinaryStream(fd, true));
}

std::unique_ptr<BinaryStream> BinaryStream::OnDescriptor(int fd, bool writable) {
  if (fd < 0) return nullptr;
  return std::unique_ptr<BinaryStream>(new BinaryStream(fd, writable, false));
}

BinaryStream::~BinaryStream() {
  Close();
}

void BinaryStream::Close() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  ahead_.clear();
  aheadAt_ = length_ = -1;
}

std::int64_t BinaryStream::Length() const {
  // A stream that is not written is taken to keep its length, as its bytes
  // read ahead are taken to stay.
  if (Unchanging() && length_ >= 0) return length_;
  Looked st{};
  if (!Look(st)) return 0;
  if (Unchanging()) length_ = static_cast<std::int64_t>(st.st_size);
  return static_cast<std::int64_t>(st.st_size);
}

bool BinaryStream::Look(Looked& st) const {
  return fd_ >= 0 && LookThrough(fd_, st);
}

bool BinaryStream::SetLength(std::int64_t length) {
  if (fd_ < 0 || !writable_ || length < 0) return false;
  return ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

// Up to `count` bytes at `at` into `out`; fewer where the file ends or fails.
std::size_t BinaryStream::ReadAt(std::int64_t at, char* out, std::size_t count) const {
  std::size_t got = 0;
  while (fd_ >= 0 && got < count) {
    ssize_t n =
        ::pread(fd_, out + got, count - got, static_cast<off_t>(at) + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

std::string BinaryStream::Read(std::size_t count) {
  std::string out;
  std::size_t got = 0;
  if (Unchanging() && count < kReadAhead) {
    // Small reads of a file opened for reading only (the headers and small
    // members of an archive, one after another) are served from one read
    // of the bytes ahead.
    const bool inside = aheadAt_ >= 0 && position_ >= aheadAt_ &&
                        position_ - aheadAt_ <= static_cast<std::int64_t>(ahead_.size()) &&
                        count <= ahead_.size() - static_cast<std::size_t>(position_ - aheadAt_);
    if (!inside) {
      ahead_.resize(kReadAhead);
      ahead_.resize(ReadAt(position_, ahead_.data(), kReadAhead));
      aheadAt_ = position_;
    }
    const auto from = static_cast<std::size_t>(position_ - aheadAt_);
    got = std::min(count, ahead_.size() - std::min(from, ahead_.size()));
    out.assign(ahead_, from, got);
  } else {
    out.resize(count);
    got = ReadAt(position_, out.data(), count);
    out.resize(got);
  }
  if (got < count) readError_ = true;
  position_ += static_cast<std::int64_t>(got);
  return out;
}

std::uint64_t BinaryStream::ReadNumber(std::size_t width) {
  std::string bytes = Read(width);
  bytes.resize(width, '\0');
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    std::size_t at = LittleEndian ? width - 1 - i : i;
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at]);
  }
  return value;
}

std::uint8_t BinaryStream::ReadUInt8() {
  return static_cast<std::uint8_t>(ReadNumber(1));
}
std::uint16_t BinaryStream::ReadUInt16() {
  return static_cast<std::uint16_t>(ReadNumber(2));
}
std::uint32_t BinaryStream::ReadUInt32() {
  return static_cast<std::uint32_t>(ReadNumber(4));
}

void BinaryStream::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (fd_ >= 0 && writable_ && done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(position_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done < bytes.size()) writeError_ = true;
  position_ += static_cast<std::int64_t>(done);
}

void BinaryStream::WriteNumber(std::size_t width, std::uint64_t value) {
  std::string bytes(width, '\0');
  for (std::size_t i = 0; i < width; ++i) {
    std::size_t at = LittleEndian ? i : width - 1 - i;
    bytes[at] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  Write(bytes);
}

void BinaryStream::WriteUInt8(std::uint8_t value) {
  WriteNumber(1, value);
}
void BinaryStream::WriteUInt16(std::uint16_t value) {
  WriteNumber(2, value);
}
void BinaryStream::WriteUInt32(std::uint32_t value) {
  WriteNumber(4, value);
}

}  // namespace platform
