// Fuzz entry point: any bytes as an archive file, opened, and every field of
// every entry read. Built into the corpus replay test, and with clang's
// libFuzzer when VANTORA_FUZZ is on.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_archive.h"

namespace {

void ReadEveryField(zip::ZipArchive& archive) {
  const std::int32_t n = archive.EntryCount();
  volatile std::int64_t sink = 0;
  for (std::int32_t i = 1; i <= n; ++i) {
    zip::ZipEntryRef e = archive.Entry(i);
    sink = sink + e->Size() + e->CompressedSize() + e->CompressionMethod() + e->OSMadeBy() +
           e->ExternalFileAttributes() + e->IsEncrypted() + e->CanExtract() + e->IsTextFile();
    if (auto t = e->Time()) sink = sink + t->TotalSeconds();
    std::vector<std::string> path;
    e->GetPath(path);
    sink = sink + static_cast<std::int64_t>(e->Name().size() + e->RawPath().ToUTF8().size() +
                                            e->Comment().ToUTF8().size() + path.size());
    for (const zip::ZipExtraFieldRef& field : {e->ExtraFieldInCentralDir(), e->ExtraField()}) {
      if (!field) continue;
      std::string type, creator;
      platform::Text name;
      std::int32_t at = 0, mt = 0;
      sink = sink + field->GetTypeCreatorName(type, creator, name) + field->GetUnixTimes(at, mt);
    }
    sink = sink + archive.Data()->isFakeEntry(*e->z_Header(), -1);
    if (e->AppleDoubleEntry()) sink = sink + e->AppleDoubleEntry()->Size();
    sink = sink + archive.EntryIdxByRawPath(e->RawPath().bytes, 1);
  }
  sink = sink + static_cast<std::int64_t>(archive.AllEntriesAsRawPaths().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The bytes live in an anonymous memory file, reached through its /proc path.
  int fd = memfd_create("fuzz.zip", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  for (const platform::TextEncoding* encoding :
       {zip::ZipArchive::EncodedAsUnicode(), zip::ZipArchive::EncodedAsDOSLatinUS()}) {
    zip::ZipArchive archive;
    if (archive.Open(path, false, encoding)) {
      ReadEveryField(archive);
      archive.Close();
    }
  }
  close(fd);
  return 0;
}
