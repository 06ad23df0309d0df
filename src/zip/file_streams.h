#pragma once
// Sequential streams over a file's data fork. The reader reads from the
// start; the writer creates the file or empties the one there and appends,
// and its Close tells whether the file holds every byte it was given.
// Reading, skipping or writing a stream that is not open raises
// RuntimeException.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/binary_stream.h"
#include "platform/folder_item.h"
#include "zip/seq_data_streams.h"

namespace zip {

class FileReader : public SeqDataInputStream {
 public:
  explicit FileReader(platform::FolderItem f) : f(std::move(f)) {}
  ~FileReader() override { Close(); }

  std::string Read(std::int32_t count) override;
  bool Eof() override { return !bs || bs->EndOfFile(); }
  bool HadError() override { return error; }
  bool Open() override;
  void Close() override { bs.reset(); }
  void GetErrorDescription(std::int32_t& code, std::string& text) override;
  // A skip past the end stops at the end and fails.
  bool Skip(std::int32_t count) override;
  void ClearError() override { error = false; }

 private:
  platform::FolderItem f;
  bool error = false;
  std::unique_ptr<platform::BinaryStream> bs;
};

class FileWriter : public SeqDataOutputStream {
 public:
  explicit FileWriter(platform::FolderItem f) : f(std::move(f)) {}
  // A writer on `f` already open and empty, as a newly made file is.
  FileWriter(platform::FolderItem f, std::unique_ptr<platform::BinaryStream> opened)
      : f(std::move(f)), bs(std::move(opened)) {}
  ~FileWriter() override { Close(); }

  bool Write(std::string_view data) override;
  // Never writes through a link at the file.
  bool Open() override;
  bool Close() override;
  void GetErrorDescription(std::int32_t& code, std::string& text) override;
  bool Skip(std::int32_t count) override;
  void ClearError() override { error = false; }
  bool Flush() override;

 private:
  bool LengthAsWritten();

  platform::FolderItem f;
  bool error = false;
  std::unique_ptr<platform::BinaryStream> bs;
  // The bytes the file should hold: all writes and skips, over every opening.
  std::int64_t written = 0;
};

}  // namespace zip
