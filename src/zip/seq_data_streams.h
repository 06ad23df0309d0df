#pragma once
// The sequential byte source and sink through which member data passes, so
// that one code path serves a file's data fork and its resource fork.
// (`Eof` stands for the framework's EOF, a name C++ keeps for a macro.)
#include <cstdint>
#include <string>
#include <string_view>

namespace zip {

class SeqDataInputStream {
 public:
  virtual ~SeqDataInputStream() = default;
  virtual std::string Read(std::int32_t count) = 0;
  virtual bool Eof() = 0;
  virtual bool HadError() = 0;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual void GetErrorDescription(std::int32_t& code, std::string& text) = 0;
  virtual bool Skip(std::int32_t count) = 0;
  virtual void ClearError() = 0;
};

class SeqDataOutputStream {
 public:
  virtual ~SeqDataOutputStream() = default;
  virtual bool Write(std::string_view data) = 0;
  virtual bool Open() = 0;
  virtual bool Close() = 0;
  virtual void GetErrorDescription(std::int32_t& code, std::string& text) = 0;
  virtual bool Skip(std::int32_t count) = 0;
  virtual void ClearError() = 0;
  virtual bool Flush() = 0;
};

}  // namespace zip
