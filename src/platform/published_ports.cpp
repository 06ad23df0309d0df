#include "platform/published_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

bool OwnedByMe(const struct stat& st) {
  return st.st_uid == ::geteuid();
}

bool WritableByOthers(const struct stat& st) {
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool PrivateFolder(const struct stat& st) {
  return S_ISDIR(st.st_mode) && OwnedByMe(st) && !WritableByOthers(st);
}

// The path itself, not what a link there points to.
bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && PrivateFolder(st);
}

// A link's own mode bits mean nothing (always rwx for all); only a link's
// owner could have chosen where it leads.
bool Trusted(int dirFd, const char* name) {
  struct stat entry {};
  if (::fstatat(dirFd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!OwnedByMe(entry)) return false;
  return S_ISLNK(entry.st_mode) || !WritableByOthers(entry);
}

// Links whose device is gone (a simulator that was killed) are left out:
// they could never be opened.
bool LeadsToDevice(int dirFd, const char* name) {
  struct stat target {};
  return ::fstatat(dirFd, name, &target, 0) == 0 && S_ISCHR(target.st_mode);
}

}  // namespace

std::string DefaultPublishedPortDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime)) {
    return std::string(runtime) + "/vantora-ports";
  }
  return "/tmp/vantora-ports-" + std::to_string(::geteuid());
}

std::vector<PublishedPort> PublishedPorts(const std::string& dir) {
  std::vector<PublishedPort> found;
  // Checked through the open folder itself, so what is listed is the folder
  // that passed the check; O_NOFOLLOW refuses a link in the folder's place.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return found;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !PrivateFolder(st)) {
    ::close(fd);
    return found;
  }
  DIR* listing = ::fdopendir(fd);
  if (!listing) {
    ::close(fd);
    return found;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!Trusted(fd, name) || !LeadsToDevice(fd, name)) continue;
    found.push_back({name, dir + "/" + name});
  }
  ::closedir(listing);
  std::sort(found.begin(), found.end(),
            [](const PublishedPort& a, const PublishedPort& b) { return a.Name < b.Name; });
  return found;
}

bool MakePublishedPortDir(const std::string& dir, std::string* error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  // Under /tmp anyone may have made the folder first; it is used only when it
  // turns out to be this user's alone.
  if (!IsPrivateFolder(dir)) {
    if (error) *error = "it is not a folder of this user's alone (its owner or its permissions)";
    return false;
  }
  return true;
}

}  // namespace platform
