// The first bytes of a member as a 128-byte MacBinary header: taken as they
// are from a MacBinary-encoded member, or built from the AppleDouble header
// of a "._" companion, so that both kinds of Mac file are put onto disk the
// same way.
#include <string>

#include "platform/apple_double.h"
#include "platform/mac_dates.h"
#include "zip/zip_entry.h"
#include "zip/zip_extra_field.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

constexpr char kBadAppleDouble[] = "Invalid or unsupported AppleDouble header";
namespace mb = records::macbinary;

// The first 16 bytes of a companion's Finder information (type, creator,
// flags, icon position, folder) are copied to the header from its type on;
// the low byte of the flags then sits where the header has a zero fill.
constexpr std::size_t kFinderInfoCopied = 16;
constexpr std::size_t kCopiedFlagsLow = mb::kFinderFlagsHigh + 1;

// The bytes of the Finder information that are used: up to the extended flags.
constexpr std::size_t kFinderInfoUsed = 26;

// The two entries a companion must have, in this order: Finder information
// of at least 32 bytes, then the resource fork.
bool UsableEntries(const std::vector<platform::AppleDoubleEntry>& e) {
  return e.size() == 2 && e[0].id == platform::kAppleDoubleFinderInfo &&
         e[0].length >= platform::kFinderInfoSize && e[1].id == platform::kAppleDoubleResourceFork;
}

}  // namespace

bool ZipEntry::z_unzipMBHdr(bool isAppleDouble, std::string_view firstRead,
                            platform::MemoryBlockRef& mbHdr, std::int64_t& rsrcStart) {
  auto block = std::make_shared<platform::MemoryBlock>(mb::kSize);
  block->LittleEndian = false;
  if (!isAppleDouble) {
    if (firstRead.size() < mb::kSize) return true;
    block->SetStringValue(0, firstRead.substr(0, mb::kSize));
    if (z_MBHdrLevel(*block) > 0) {
      mbHdr = block;
      // The resource fork follows the data fork, both padded to 128 bytes.
      rsrcStart =
          static_cast<std::int64_t>(mb::ResourceForkStart(block->UInt32Value(mb::kDataLength)));
    }
    return true;
  }
  mbHdr = block;
  // Only the entries' places are checked here; whether the resource fork
  // lies inside the member is for the decoder, which knows its size.
  const auto entries = platform::ParseAppleDoubleHeader(firstRead, 0xFFFFFFFFu);
  if (!entries || !UsableEntries(*entries)) return Fail(kBadAppleDouble);
  const std::size_t info = (*entries)[0].offset;
  const platform::AppleDoubleEntry& fork = (*entries)[1];
  // The Finder information must lie within the bytes read, and a fork must
  // not start inside them: those bytes are gone by the time it is read.
  if (info > firstRead.size() || firstRead.size() - info < kFinderInfoUsed ||
      (fork.length > 0 && fork.offset < firstRead.size())) {
    return Fail(kBadAppleDouble);
  }
  block->SetStringValue(mb::kType, firstRead.substr(info, kFinderInfoCopied));
  block->SetUInt8Value(mb::kScript,
                       static_cast<std::uint8_t>(firstRead[info + platform::finder_info::kScript]));
  block->SetUInt8Value(
      mb::kExtendedFlags,
      static_cast<std::uint8_t>(firstRead[info + platform::finder_info::kExtendedFlags]));
  block->SetUInt8Value(mb::kFinderFlagsLow, block->UInt8Value(kCopiedFlagsLow));
  block->SetUInt8Value(kCopiedFlagsLow, 0);
  std::int32_t accessTime = 0, modTime = 0;
  if (extra->GetUnixTimes(accessTime, modTime)) {
    // Kept to 32 bits as the header holds it; dates past 2040 wrap.
    const auto date = static_cast<std::uint32_t>(
        platform::UnixToMacSeconds(modTime, UTCOffsetInMinutes()) & 0xFFFFFFFFLL);
    block->SetUInt32Value(mb::kCreated, date);
    block->SetUInt32Value(mb::kModified, date);
  }
  rsrcStart = fork.offset;
  block->SetUInt32Value(mb::kResourceLength, fork.length);
  return true;
}

}  // namespace zip
