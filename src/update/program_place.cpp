#include "update/program_place.h"

#include <string>

namespace update {

namespace fs = std::filesystem;

ProgramPlace LocateProgram(const fs::path& executableDir) {
  const fs::path dir = executableDir.lexically_normal();
  const fs::path named = dir.has_filename() ? dir : dir.parent_path();
  const std::string name = named.filename().string();
  const std::string suffix = ".app";
  if (name.size() > suffix.size() && name.ends_with(suffix)) {
    return {named.parent_path(), named};
  }
  return {named, {}};
}

bool IsRunningBundle(const fs::path& item, const ProgramPlace& place) {
  if (place.Bundle.empty()) return false;
  std::error_code ec;
  return fs::equivalent(item, place.Bundle, ec);
}

fs::path ExecutableOf(const fs::path& item) {
  std::error_code ec;
  if (fs::is_directory(item, ec)) return item / kBundleExecutable;
  return item;
}

}  // namespace update
