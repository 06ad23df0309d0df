#pragma once
// Readers look for a zip64 locator in the 20 bytes right before the end
// record and take those bytes for one when they begin with its signature
// ("PK\6\7"). Those bytes are the last 20 of the last central record, so a
// record whose tail spells the signature there, through its comment, extra
// field, name or even its attributes and offset, makes the archive read as a
// zip64 one whose records are missing. The writers ask this before letting a
// record end that way.
#include <string_view>

#include "platform/memory_block.h"
#include "zip/zip_entry.h"

namespace zip {

// Whether a central record with this fixed part, name, extra field and
// comment would begin a zip64 locator if it were the last one. The lengths
// are taken from the parts, as the directory writer fills them in.
bool EndsLikeZip64Locator(const platform::MemoryBlock& record, std::string_view name,
                          std::string_view extra, std::string_view comment);
// The same for an entry's record as it stands.
bool EndsLikeZip64Locator(const ZipEntry& e);

}  // namespace zip
