#include "update/version_check.h"

namespace update {

namespace {
constexpr std::size_t kStampDigits = 7;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
}  // namespace

std::optional<std::string> NewerBuildTag(int status, std::string_view content) {
  if (status < 200 || status > 299) return std::nullopt;
  if (content.size() < kStampDigits) return std::nullopt;
  for (std::size_t i = 0; i < kStampDigits; ++i) {
    if (!IsDigit(content[i])) return std::nullopt;
  }
  // An eighth digit makes it some other number, not a stamp.
  if (content.size() > kStampDigits && IsDigit(content[kStampDigits])) return std::nullopt;
  const std::string_view stamp = content.substr(0, kStampDigits);
  if (std::stol(std::string(stamp)) <= kBuildStamp) return std::nullopt;
  // YYMMDDB: the tag is MMDD followed by YY.
  return std::string(stamp.substr(2, 4)) + std::string(stamp.substr(0, 2));
}

std::string DownloadPath(const std::string& tag) {
  return "/software/Vantora%20II/Mac%20OS/Vantora%20II%20X%20" + tag + ".zip";
}

std::string LocalArchiveName(const std::string& tag) {
  return "VAII" + tag + ".zip";
}

}  // namespace update
