// TEMPORARY until the compression component lands: content is refused.
#include "platform/framework_exceptions.h"
#include "zip/zip_archive.h"

namespace zip {

std::int32_t ZipArchive::z_writeContent(const EntrySources&, const ZipEntry&, std::int64_t,
                                        std::int64_t, std::uint32_t&, std::int64_t&) {
  throw platform::RuntimeException("no compressor yet");
}

}  // namespace zip
