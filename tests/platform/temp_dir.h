#pragma once
// A fresh folder for a test's files, and a file's bytes read back whole.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace test_support {

// Made under /tmp when constructed, removed with all it holds when destroyed.
// Readable by everyone (0755), so a child that has given up root can reach
// into it.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    // Folders a test made read-only are opened up again so they can go.
    std::error_code ec;
    ::chmod(path_.c_str(), 0755);
    for (std::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace test_support
