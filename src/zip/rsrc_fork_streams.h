#pragma once
// Sequential streams over a file's resource fork, which this system keeps in
// the file's AppleDouble sidecar. Errors are kept as Mac OS result codes
// (negative), so a caller sees the same numbers as the original's callers.
//
// The writer gathers the fork in a nameless scratch file and puts it into
// the sidecar in one rename at Close, keeping the file's other metadata; a
// failed write leaves the sidecar as it was. Until Close the old fork stays
// readable.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/apple_double.h"
#include "platform/folder_item.h"
#include "zip/seq_data_streams.h"

namespace zip {

namespace mac_result {
inline constexpr std::int32_t kShortTransfer = -1;
inline constexpr std::int32_t kDiskFull = -34;
inline constexpr std::int32_t kIOError = -36;
inline constexpr std::int32_t kEndOfFile = -39;
inline constexpr std::int32_t kBeforeStart = -40;
inline constexpr std::int32_t kFileNotFound = -43;
inline constexpr std::int32_t kWritePermission = -61;
}  // namespace mac_result

class RsrcForkReader : public SeqDataInputStream {
 public:
  explicit RsrcForkReader(platform::FolderItem f) : f(std::move(f)) {}
  ~RsrcForkReader() override { Close(); }

  std::string Read(std::int32_t count) override;
  bool Eof() override { return !IsOpen() || bytesRead >= length; }
  bool HadError() override { return errCode != 0; }
  // A file with no sidecar, or a "._" file that is not AppleDouble, has an
  // empty fork; a missing file fails with kFileNotFound.
  bool Open() override;
  void Close() override { fork.reset(); }
  void GetErrorDescription(std::int32_t& code, std::string& text) override;
  bool Skip(std::int32_t count) override;
  void ClearError() override { errCode = 0; }

 private:
  bool IsOpen() const { return fork != nullptr; }

  std::unique_ptr<platform::SidecarContents> fork;
  std::int32_t errCode = 0;
  std::int64_t length = 0;
  platform::FolderItem f;
  std::int64_t bytesRead = 0;
};

class RsrcForkWriter : public SeqDataOutputStream {
 public:
  // `placed` (may be null) is given the identity of the sidecar the fork is
  // put in, as it is written.
  explicit RsrcForkWriter(platform::FolderItem f, platform::Looked* placed = nullptr)
      : f(std::move(f)), sidecarWritten(placed) {}
  ~RsrcForkWriter() override { Close(); }

  bool Write(std::string_view data) override;
  // Starts an empty fork. The file must exist, and a "._" file beside it
  // that is not AppleDouble is refused (kWritePermission).
  bool Open() override;
  // Puts the fork in place, unless an error came first; then nothing changes.
  bool Close() override;
  void GetErrorDescription(std::int32_t& code, std::string& text) override;
  // Moves within the bytes written so far; past them is kEndOfFile.
  bool Skip(std::int32_t count) override;
  void ClearError() override { errCode = 0; }
  bool Flush() override;
  // How many bytes of fork it has been given since it was opened.
  std::int64_t Written() const { return length; }
  // errno's value when opening, writing or placing the fork failed in the
  // system; 0 else.
  int SystemError() const { return systemError; }

 private:
  std::int32_t errCode = 0;
  int systemError = 0;
  int scratch = -1;  // open exactly while this is not -1
  platform::FolderItem f;
  platform::Looked* sidecarWritten;
  std::int64_t position = 0;
  std::int64_t length = 0;
};

}  // namespace zip
