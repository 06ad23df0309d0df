#pragma once
// What the maker's server says about new builds, and where a new build is
// fetched from and saved to.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace update {

// The build stamp of this program: YYMMDD and one digit.
inline constexpr std::int32_t kBuildStamp = 1311011;
inline constexpr char kVersionPath[] = "/vantora2.ver";

// The tag (MMDD then YY) of a build newer than this one, when the answer to
// the version request announces one; none otherwise. An answer counts only
// with a 2xx status and a text that starts with exactly seven digits: an
// error page or stray text is never taken for a stamp.
std::optional<std::string> NewerBuildTag(int status, std::string_view content);

// Path of the archive of the build with `tag` on the server.
std::string DownloadPath(const std::string& tag);
// Name the archive is saved under in the program's folder.
std::string LocalArchiveName(const std::string& tag);

}  // namespace update
