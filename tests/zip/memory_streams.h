#pragma once
// Member data from and into memory, for the fuzz entry points.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "zip/seq_data_streams.h"

namespace ziptest {

// Gives the bytes it was made with.
struct MemorySource : zip::SeqDataInputStream {
  explicit MemorySource(std::string data) : bytes(std::move(data)) {}
  std::string Read(std::int32_t count) override {
    std::string out = bytes.substr(at, static_cast<std::size_t>(count));
    at += out.size();
    return out;
  }
  bool Eof() override { return at >= bytes.size(); }
  bool HadError() override { return false; }
  bool Open() override { return true; }
  void Close() override {}
  void GetErrorDescription(std::int32_t&, std::string&) override {}
  bool Skip(std::int32_t) override { return false; }
  void ClearError() override {}
  std::string bytes;
  std::size_t at = 0;
};

// Collects what a member decodes to.
struct Collected : zip::SeqDataOutputStream {
  bool Write(std::string_view data) override { return bytes.append(data), true; }
  bool Open() override { return true; }
  bool Close() override { return true; }
  void GetErrorDescription(std::int32_t&, std::string&) override {}
  bool Skip(std::int32_t) override { return false; }
  void ClearError() override {}
  bool Flush() override { return true; }
  std::string bytes;
};

}  // namespace ziptest
