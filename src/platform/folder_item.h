#pragma once
// A file or folder as the program hands one around. It is a path with the
// few questions the archive code asks of an item; keeping it a type of its
// own tells it apart from byte strings where an operation takes either.
#include <filesystem>
#include <string>
#include <system_error>

namespace platform {

class FolderItem {
 public:
  explicit FolderItem(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& Path() const { return path_; }
  std::string Name() const { return path_.filename().string(); }
  bool Exists() const {
    std::error_code ec;
    return std::filesystem::exists(path_, ec);
  }
  bool Directory() const {
    std::error_code ec;
    return std::filesystem::is_directory(path_, ec);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace platform
