#pragma once
// Writing a user's file so that a failure at any point (full disk, pulled
// stick, crash) leaves the previous file exactly as it was: the new bytes go
// to a temporary file in the same folder, are flushed to the disk, and only
// then take the old file's name in one rename.
#include <fcntl.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Replaces (or creates) the file at path with bytes. A file that already
// exists keeps its permissions, and one whose permissions forbid this user to
// write it (write-protected) is refused as a failure; a symbolic link is
// followed, so the file it points at is replaced. Returns false with a reason in *error (may be
// null) when anything failed; the old file is then untouched and no temporary file is left behind.
bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::string* error);

// The same, with the new contents written by `fill` into the open temporary
// file (at its start, in order); `fill` returns false with errno's value in
// *err when a write failed.
bool WriteFileAtomic(const std::string& path, const std::function<bool(int fd, int* err)>& fill,
                     std::string* error);

// The same for the file `name` in the open folder `folder` (a descriptor, or
// AT_FDCWD for the working folder), where every step goes through that
// folder: a `name` of several components is looked up there once, and the
// folder it leads to is then held. A link at the file's own name is never
// followed: it is replaced, as any other item that is no folder would be.
bool WriteFileAtomicAt(int folder, const std::string& name,
                       const std::function<bool(int fd, int* err)>& fill, std::string* error);

// A file in `folder` (a path taken in the open folder `at`) for bytes that
// are wanted only while it is open: it has no name, so nothing is left behind
// whatever happens. Its descriptor, or -1.
int OpenScratchFile(const std::filesystem::path& folder, int at = AT_FDCWD);

// Creates a new file in `folder` under a hidden name of a fixed length
// (".vantora-", 16 random letters, `suffix`), never through a link, with
// `mode` as open() takes it. Its descriptor, open for reading and writing,
// with its name in *name; -1 with errno's value.
int CreateTemporaryFile(int folder, const char* suffix, mode_t mode, std::string* name);

// Writes all of `bytes` to `fd` at its position; false with errno in *err.
bool WriteAll(int fd, std::string_view bytes, int* err);

}  // namespace platform
