#pragma once
// AppleDouble (version 2) headers: the Mac metadata of an item kept apart
// from its data, in a "._name" file beside it on this system and as "._"
// members in archives made on a Mac. The header is big-endian: magic,
// version, 16 filler bytes, an entry count, then one {id, offset, length}
// descriptor per entry.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr std::uint32_t kAppleDoubleVersion2 = 0x00020000;
inline constexpr std::size_t kAppleDoubleHeaderSize = 26;
inline constexpr std::size_t kAppleDoubleDescriptorSize = 12;
inline constexpr std::uint32_t kAppleDoubleResourceFork = 2;
inline constexpr std::uint32_t kAppleDoubleFinderInfo = 9;
inline constexpr std::size_t kFinderInfoSize = 32;

struct AppleDoubleEntry {
  std::uint32_t id = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

// The entry descriptors of an AppleDouble header; none when the bytes are
// not one, when a descriptor lies outside them, or when an entry lies outside
// the whole file (`totalSize`; the bytes given, when that is 0).
std::optional<std::vector<AppleDoubleEntry>> ParseAppleDoubleHeader(std::string_view bytes,
                                                                    std::uint64_t totalSize = 0);

// The name of the sidecar that holds an item's Mac metadata.
std::filesystem::path AppleDoubleSidecar(const std::filesystem::path& item);

// A file's Mac type and creator (4 bytes each, as stored) from its sidecar.
// Empty strings when the item has no sidecar, the sidecar is no AppleDouble
// file, carries no Finder information, or the item is a folder (whose
// Finder information holds no type or creator).
void ReadMacTypeCreator(const std::filesystem::path& item, std::string& type, std::string& creator);

// Gives a file its Mac type and creator (4 bytes each) in its sidecar,
// creating the sidecar or keeping every other entry of the one there (the
// rest of the Finder information, a resource fork). A "._" file that is not
// AppleDouble is never overwritten. The sidecar is written atomically.
// False with the reason in *error (may be null) when it was not written.
bool WriteMacTypeCreator(const std::filesystem::path& item, std::string_view type,
                         std::string_view creator, std::string* error);

}  // namespace platform
