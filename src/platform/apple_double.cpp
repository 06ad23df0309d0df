#include "platform/apple_double.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"

namespace platform {

namespace {

std::uint32_t BE(std::string_view bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

void PutBE(std::string& out, std::uint32_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

std::optional<std::vector<AppleDoubleEntry>> ParseAppleDoubleHeader(std::string_view bytes,
                                                                    std::uint64_t totalSize) {
  if (totalSize == 0) totalSize = bytes.size();
  if (bytes.size() < kAppleDoubleHeaderSize || BE(bytes, 0, 4) != kAppleDoubleMagic ||
      BE(bytes, 4, 4) != kAppleDoubleVersion2) {
    return std::nullopt;
  }
  const std::size_t count = BE(bytes, 24, 2);
  if (count > (bytes.size() - kAppleDoubleHeaderSize) / kAppleDoubleDescriptorSize) {
    return std::nullopt;
  }
  std::vector<AppleDoubleEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kAppleDoubleHeaderSize + i * kAppleDoubleDescriptorSize;
    AppleDoubleEntry e{BE(bytes, at, 4), BE(bytes, at + 4, 4), BE(bytes, at + 8, 4)};
    if (e.offset > totalSize || e.length > totalSize - e.offset) return std::nullopt;
    entries.push_back(e);
  }
  return entries;
}

std::filesystem::path AppleDoubleSidecar(const std::filesystem::path& item) {
  std::filesystem::path p = item;
  if (!p.has_filename()) p = p.parent_path();
  return p.parent_path() / ("._" + p.filename().string());
}

void ReadMacTypeCreator(const std::filesystem::path& item, std::string& type,
                        std::string& creator) {
  type.clear();
  creator.clear();
  std::error_code ec;
  if (std::filesystem::is_directory(item, ec)) return;
  const std::filesystem::path sidecar = AppleDoubleSidecar(item);
  const std::uintmax_t size = std::filesystem::file_size(sidecar, ec);
  if (ec) return;
  std::ifstream f(sidecar, std::ios::binary);
  if (!f) return;
  // The header and Finder information sit at the start; the resource fork,
  // which may be large, is not read.
  std::string head(4096, '\0');
  f.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(f.gcount()));
  auto entries = ParseAppleDoubleHeader(head, size);
  if (!entries) return;
  for (const AppleDoubleEntry& e : *entries) {
    // Compared without adding to the offset, which could wrap past 4 GiB.
    if (e.id == kAppleDoubleFinderInfo && e.length >= 8 && e.offset <= head.size() &&
        head.size() - e.offset >= 8) {
      type = head.substr(e.offset, 4);
      creator = head.substr(e.offset + 4, 4);
      return;
    }
  }
}

bool WriteMacTypeCreator(const std::filesystem::path& item, std::string_view type,
                         std::string_view creator, std::string* error) {
  if (type.size() != 4 || creator.size() != 4)
    return Fail(error, "Type and creator take 4 bytes each");
  const std::filesystem::path sidecar = AppleDoubleSidecar(item);
  // The entries already there, by id, with their bytes.
  std::vector<std::pair<std::uint32_t, std::string>> entries;
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(sidecar, ec))) {
    std::ifstream f(sidecar, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (!f && !f.eof()) return Fail(error, "Cannot read " + sidecar.filename().string());
    auto found = ParseAppleDoubleHeader(bytes);
    if (!found) return Fail(error, sidecar.filename().string() + " is not an AppleDouble file");
    for (const AppleDoubleEntry& e : *found)
      entries.emplace_back(e.id, bytes.substr(e.offset, e.length));
  }
  std::string* info = nullptr;
  for (auto& [id, data] : entries) {
    if (id == kAppleDoubleFinderInfo) info = &data;
  }
  if (info == nullptr) info = &entries.emplace_back(kAppleDoubleFinderInfo, std::string()).second;
  if (info->size() < kFinderInfoSize) info->resize(kFinderInfoSize, '\0');
  info->replace(0, 4, type);
  info->replace(4, 4, creator);

  std::string out;
  PutBE(out, kAppleDoubleMagic, 4);
  PutBE(out, kAppleDoubleVersion2, 4);
  out.append(16, '\0');
  PutBE(out, static_cast<std::uint32_t>(entries.size()), 2);
  std::size_t offset = kAppleDoubleHeaderSize + entries.size() * kAppleDoubleDescriptorSize;
  for (const auto& [id, data] : entries) {
    PutBE(out, id, 4);
    PutBE(out, static_cast<std::uint32_t>(offset), 4);
    PutBE(out, static_cast<std::uint32_t>(data.size()), 4);
    offset += data.size();
  }
  for (const auto& entry : entries) out += entry.second;
  return WriteFileAtomic(sidecar.string(), out, error);
}

}  // namespace platform
