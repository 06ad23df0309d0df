#pragma once
// A file opened for reading, or for reading and writing, at any position.
// Positions and lengths are 64-bit, so files past 2 GiB and 4 GiB are
// addressed correctly. Numbers are read and written in the stream's byte
// order (big-endian unless LittleEndian is set).
//
// A read that finds fewer bytes than asked returns what it found (numbers
// count the missing bytes as 0) and sets the sticky ReadError flag; a write
// that fails sets WriteError. Callers that care test the flags.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/item_at.h"

namespace platform {

class BinaryStream {
 public:
  // Opens an existing file; nullptr when it is missing, not a regular file or
  // cannot be opened as asked. With followLink false, or for an item named
  // in an open folder, a symbolic link at the item itself is refused rather
  // than followed. A FIFO there never holds the caller.
  static std::unique_ptr<BinaryStream> Open(const ItemAt& item, bool writable,
                                            bool followLink = true);
  // Creates a new empty file (replacing one that is there) opened for
  // reading and writing; nullptr on failure.
  static std::unique_ptr<BinaryStream> Create(const ItemAt& item, bool followLink = true);
  // A stream over a file the caller has open; the caller closes it.
  static std::unique_ptr<BinaryStream> OnDescriptor(int fd, bool writable);

  ~BinaryStream();
  BinaryStream(const BinaryStream&) = delete;
  BinaryStream& operator=(const BinaryStream&) = delete;

  void Close();
  bool IsWritable() const { return writable_; }

  std::int64_t Position() const { return position_; }
  void SetPosition(std::int64_t position) { position_ = position < 0 ? 0 : position; }
  std::int64_t Length() const;
  // The file of the stream, looked at through its descriptor.
  bool Look(Looked& st) const;
  // Cuts the file at `length`, or extends it with zero bytes. False on failure.
  bool SetLength(std::int64_t length);
  bool EndOfFile() const { return position_ >= Length(); }

  // Up to `count` bytes from the position; fewer at the end of the file.
  std::string Read(std::size_t count);
  std::uint8_t ReadUInt8();
  std::uint16_t ReadUInt16();
  std::uint32_t ReadUInt32();
  std::int16_t ReadInt16() { return static_cast<std::int16_t>(ReadUInt16()); }
  std::int32_t ReadInt32() { return static_cast<std::int32_t>(ReadUInt32()); }

  void Write(std::string_view bytes);
  void WriteUInt8(std::uint8_t value);
  void WriteUInt16(std::uint16_t value);
  void WriteUInt32(std::uint32_t value);

  bool LittleEndian = false;
  bool ReadError() const { return readError_; }
  bool WriteError() const { return writeError_; }
  void ClearErrors() { readError_ = writeError_ = false; }

 private:
  BinaryStream(int fd, bool writable, bool owned = true)
      : fd_(fd), writable_(writable), owned_(owned) {}
  std::uint64_t ReadNumber(std::size_t width);
  std::size_t ReadAt(std::int64_t at, char* out, std::size_t count) const;
  // Nothing of this program changes the file while the stream reads it: it
  // is not written, and its descriptor is its own. Its bytes and length can
  // then be kept.
  bool Unchanging() const { return !writable_ && owned_; }

  static constexpr std::size_t kReadAhead = 64 * 1024;
  void WriteNumber(std::size_t width, std::uint64_t value);

  int fd_ = -1;
  bool writable_ = false;
  bool owned_ = true;
  std::int64_t position_ = 0;
  bool readError_ = false;
  bool writeError_ = false;
  // Bytes read ahead at `aheadAt_` (-1: none), and the length, kept while
  // the stream is Unchanging.
  std::string ahead_;
  std::int64_t aheadAt_ = -1;
  mutable std::int64_t length_ = -1;
};

}  // namespace platform
