#include "zip/rsrc_fork_streams.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/framework_exceptions.h"

namespace zip {

using namespace mac_result;

bool RsrcForkReader::Open() {
  if (IsOpen()) return true;
  ClearError();
  length = bytesRead = 0;
  if (!f.Exists()) {
    errCode = kFileNotFound;
    return false;
  }
  auto contents = std::make_unique<platform::SidecarContents>();
  if (!platform::ReadSidecar(f.At(), *contents, nullptr)) {
    errCode = kIOError;
    return false;
  }
  length = static_cast<std::int64_t>(contents->forkLength);
  fork = std::move(contents);
  return true;
}

std::string RsrcForkReader::Read(std::int32_t count) {
  if (errCode != 0) return {};
  if (!IsOpen()) throw platform::RuntimeException();
  const std::int64_t n = std::min<std::int64_t>(count, length - bytesRead);
  if (n < 1) return {};
  std::string bytes =
      fork->ReadFork(static_cast<std::uint64_t>(bytesRead), static_cast<std::size_t>(n));
  if (static_cast<std::int64_t>(bytes.size()) != n) {
    errCode = kShortTransfer;
    return {};
  }
  bytesRead += n;
  return bytes;
}

bool RsrcForkReader::Skip(std::int32_t count) {
  if (errCode != 0) return false;
  if (!IsOpen()) throw platform::RuntimeException();
  if (length < bytesRead + count) {
    bytesRead = length;
    return false;
  }
  if (bytesRead + count < 0) {
    errCode = kBeforeStart;
    return false;
  }
  bytesRead += count;
  return true;
}

void RsrcForkReader::GetErrorDescription(std::int32_t& code, std::string& text) {
  code = errCode;
  text = errCode == 0 ? "" : "open or read error (" + std::to_string(errCode) + ")";
}

bool RsrcForkWriter::Open() {
  if (scratch != -1) return true;
  ClearError();
  systemError = 0;
  position = length = 0;
  if (!f.Exists()) {
    errCode = kFileNotFound;
    return false;
  }
  platform::SidecarContents contents;
  if (!platform::ReadSidecar(f.At(), contents, nullptr)) {
    errCode = kIOError;
    systemError = errno;
    return false;
  }
  if (contents.kind == platform::SidecarContents::Kind::Foreign) {
    errCode = kWritePermission;
    return false;
  }
  // Beside the file, in the folder it is anchored in when it is.
  if (f.Folder()) {
    scratch = platform::OpenScratchFile(".", f.Folder()->fd());
  } else {
    scratch = platform::OpenScratchFile(f.Path().parent_path());
  }
  if (scratch == -1) {
    errCode = kIOError;
    systemError = errno;
  }
  return scratch != -1;
}

bool RsrcForkWriter::Write(std::string_view data) {
  if (errCode != 0) return false;
  if (scratch == -1) throw platform::RuntimeException();
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(scratch, data.data() + done, data.size() - done,
                               static_cast<off_t>(position + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      errCode = n < 0 ? (errno == ENOSPC ? kDiskFull : kIOError) : kShortTransfer;
      if (n < 0) systemError = errno;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  position += static_cast<std::int64_t>(done);
  length = std::max(length, position);
  return true;
}

bool RsrcForkWriter::Skip(std::int32_t count) {
  if (errCode != 0) return false;
  if (scratch == -1) throw platform::RuntimeException();
  const std::int64_t target = position + count;
  if (target < 0 || target > length) {
    errCode = target < 0 ? kBeforeStart : kEndOfFile;
    return false;
  }
  position = target;
  return true;
}

bool RsrcForkWriter::Close() {
  if (scratch == -1) return errCode == 0;
  const bool placed = errCode == 0 && platform::WriteResourceFork(
                                          f.At(), scratch, static_cast<std::uint64_t>(length),
                                          nullptr, sidecarWritten);
  if (!placed && errCode == 0) systemError = errno;
  ::close(scratch);
  scratch = -1;
  return placed;
}

bool RsrcForkWriter::Flush() {
  if (scratch == -1) throw platform::RuntimeException();
  return errCode == 0;
}

void RsrcForkWriter::GetErrorDescription(std::int32_t& code, std::string& text) {
  code = errCode;
  text = errCode == 0 ? "" : "open or write error";
}

}  // namespace zip
