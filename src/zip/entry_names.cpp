// Raw paths: building them from path components and file references, turning
// them into stored names, and finding entries by them.
#include "platform/framework_exceptions.h"
#include "zip/zip_archive.h"

namespace zip {

namespace {

// A path in one comparable form: absolute, normalised, no trailing separator.
std::filesystem::path Normal(const std::filesystem::path& p) {
  std::error_code ec;
  std::filesystem::path n = std::filesystem::weakly_canonical(std::filesystem::absolute(p), ec);
  if (ec) n = std::filesystem::absolute(p).lexically_normal();
  if (!n.has_filename() && n.has_relative_path()) n = n.parent_path();
  return n;
}

}  // namespace

std::string ZipArchive::RawPath(const std::vector<std::string>& components) const {
  std::string out;
  for (const std::string& c : components) out += "/" + d->cleanName(c);
  return out.empty() ? out : out.substr(1);
}

bool ZipArchive::z_sameFolderItem(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a.empty() || b.empty()) return false;
  return Normal(a) == Normal(b);
}

std::string ZipArchive::RawPath(const std::filesystem::path& folder,
                                const std::filesystem::path& item) const {
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) return {};
  std::vector<std::string> chain;
  std::filesystem::path cur = item.empty() ? item : Normal(item);
  while (!z_sameFolderItem(cur, folder)) {
    if (cur.empty()) return {};
    std::filesystem::path parent = cur.parent_path();
    if (z_sameFolderItem(parent, cur)) return {};  // reached the root
    chain.push_back(cur.filename().string());
    cur = parent;
  }
  return RawPath(std::vector<std::string>(chain.rbegin(), chain.rend()));
}

std::string ZipArchive::z_pathToEncName(std::string_view rawPath,
                                        const platform::TextEncoding* encoding) const {
  std::string_view name = rawPath;
  if (name.empty()) {
    name = "/";
  } else if (name != "/" && name.front() == '/') {
    name.remove_prefix(1);
  }
  return d->encodeForZip(name, encoding);
}

std::int32_t ZipArchive::EntryIdxByRawPath(std::string_view rawPath, std::int32_t start,
                                           const platform::TextEncoding* encoding) const {
  if (!entriesRead) throw platform::RuntimeException();
  if (start < 1 || start > EntryCount() + 1) throw platform::OutOfBoundsException();
  return d->lookup(z_pathToEncName(rawPath, encoding), start);
}

std::vector<platform::Text> ZipArchive::AllEntriesAsRawPaths() const {
  std::vector<platform::Text> out;
  out.reserve(d->entries_1.size());
  for (std::size_t i = 1; i < d->entries_1.size(); ++i) out.push_back(d->entries_1[i]->RawPath());
  return out;
}

}  // namespace zip
