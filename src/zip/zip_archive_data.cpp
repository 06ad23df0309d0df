#include "zip/zip_archive_data.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_set>

#include "zip/zip_entry.h"
#include "zip/zip_extra_field.h"
#include "zip/zip_records.h"

namespace zip {

using platform::TextEncoding;

ZipArchiveData::ZipArchiveData() {
  dosLatinUS = platform::GetTextEncoding(TextEncoding::kBaseDOSLatinUS, 0, 0);
  filenameEncoding = &findFileNameEncoding();
  setArchiveEncoding(&TextEncoding::UTF8());
  entries_1.resize(1);
}

void ZipArchiveData::ClearEntries() {
  entries_1.assign(1, nullptr);
  setAside.clear();
  directorySize_ = -1;
  destinations.Release();
  extracted_.clear();
}

namespace {

bool SidecarLike(const platform::ItemAt& file) {
  return std::filesystem::path(file.name).filename().string().rfind("._", 0) == 0;
}

}  // namespace

// Only a "._" file can stand where a sidecar goes, so only those are noted,
// and an extraction without them asks nothing more of the file system.
void ZipArchiveData::NoteExtracted(const platform::ItemAt& file, int fd) {
  struct stat st {};
  if (SidecarLike(file) && ::fstat(fd, &st) == 0) extracted_.insert(platform::ItemId::Of(st));
}

bool ZipArchiveData::WasExtracted(const platform::ItemAt& file) const {
  if (extracted_.empty()) return false;
  // One that cannot be looked at may be one of them, and is kept as such.
  struct stat st {};
  if (!file.Lstat(st)) return errno != ENOENT;
  return extracted_.count(platform::ItemId::Of(st)) > 0;
}

std::unique_ptr<platform::ZStream> ZipArchiveData::TakeInflater(platform::IStreamReader* reader) {
  std::unique_ptr<platform::ZStream> inflater = std::move(spareInflater_);
  if (!inflater) return std::make_unique<platform::ZStream>(false, nullptr, reader);
  inflater->Restart(reader);
  return inflater;
}

std::vector<ZipEntry*> ZipArchiveData::DirectoryEntries() const {
  std::vector<ZipEntry*> out;
  out.reserve(entries_1.size() - 1 + setAside.size());
  std::unordered_set<const ZipEntry*> companions;
  for (std::size_t i = 1; i < entries_1.size(); ++i) {
    out.push_back(entries_1[i].get());
    if (const ZipEntryRef& c = entries_1[i]->AppleDoubleEntry()) companions.insert(c.get());
  }
  // A companion goes with its data entry: once that is no longer listed, the
  // companion describes nothing in the archive.
  for (const ZipEntryRef& e : setAside) {
    if (!e->IsAppleDoubleEntry() || companions.count(e.get()) != 0) out.push_back(e.get());
  }
  return out;
}

bool ZipArchiveData::RoomForEntries(std::size_t more) const {
  const std::size_t listed = entries_1.size() - 1;
  if (listed + setAside.size() + more <= records::kMaxEntries) return true;
  return DirectoryEntries().size() + more <= records::kMaxEntries;
}

std::int64_t ZipArchiveData::TimesListed(const ZipEntry* e) const {
  const std::vector<ZipEntry*> listed = DirectoryEntries();
  return std::count(listed.begin(), listed.end(), e);
}

std::int64_t ZipArchiveData::DirectorySize() {
  if (directorySize_ < 0) {
    directorySize_ = 0;
    for (const ZipEntry* e : DirectoryEntries()) directorySize_ += RecordFields::Of(*e).Bytes();
  }
  return directorySize_;
}

void ZipArchiveData::GrowDirectory(std::int64_t recordBytes) {
  if (directorySize_ >= 0) directorySize_ += recordBytes;
}

std::string ZipArchiveData::cleanName(std::string_view name) const {
  std::string out(name);
  std::replace(out.begin(), out.end(), '/', '-');
  std::replace(out.begin(), out.end(), '\\', '-');
  return out;
}

std::string ZipArchiveData::encodeForZip(std::string_view text,
                                         const TextEncoding* textEncoding) const {
  const TextEncoding* from = textEncoding ? textEncoding : &TextEncoding::SystemDefault();
  // Text already in the archive's encoding is stored as it is, so a raw path
  // read from the archive finds its entry again, even when its bytes are not
  // valid in that encoding or (in a DOS archive) have no Windows ANSI form.
  if (from == archiveEncoding) return std::string(text);
  std::string bytes(text);
  // DOS Latin US archives get their text through Windows ANSI first, so
  // characters that code page 437 lacks are reduced the same way on every host.
  if (archiveEncoding->Base() == TextEncoding::kBaseDOSLatinUS) {
    bytes = platform::ConvertEncoding(bytes, *from, TextEncoding::WindowsANSI());
    from = &TextEncoding::WindowsANSI();
  }
  return platform::ConvertEncoding(bytes, *from, *archiveEncoding);
}

platform::Text ZipArchiveData::decodeFromZip(std::string_view stored) const {
  return platform::Text{std::string(stored), archiveEncoding};
}

void ZipArchiveData::setArchiveEncoding(const TextEncoding* encoding) {
  archiveEncoding = encoding ? encoding : filenameEncoding;
}

const TextEncoding& ZipArchiveData::findFileNameEncoding() {
  return TextEncoding::UTF8();
}

std::int32_t ZipArchiveData::lastInStr(std::string_view s, std::string_view find) {
  std::size_t at = s.rfind(find);
  return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at) + 1;
}

std::int32_t ZipArchiveData::lookup(std::string_view encName, std::int32_t start) const {
  for (std::int32_t i = std::max(start, 1); i <= EntryCount(); ++i) {
    if (entries_1[static_cast<std::size_t>(i)]->z_origEncodedName() == encName) return i;
  }
  return 0;
}

ZipArchiveData::NameIndex ZipArchiveData::MakeNameIndex(const std::vector<ZipEntryRef>& entries) {
  NameIndex index;
  index.reserve(entries.size());
  for (std::size_t i = 1; i < entries.size(); ++i) {
    std::string_view key = entries[i]->z_origEncodedName();
    if (!key.empty() && key.back() == '/') key.remove_suffix(1);
    index.insert_or_assign(key, entries[i].get());  // a later entry replaces an earlier one
  }
  return index;
}

void ZipArchiveData::checkDirectory(NameIndex& index) {
  static constexpr std::string_view kMacOSX = "__MACOSX/";
  std::vector<ZipEntryRef> removed;  // collected last to first
  for (std::size_t i = entries_1.size(); i-- > 1;) {
    ZipEntryRef e = entries_1[i];
    if (!e->ExtraFieldInCentralDir()->IsUnixType1Only() || !e->z_hasDittoName()) continue;
    std::string name = e->z_origEncodedName();
    if (name.compare(0, kMacOSX.size(), kMacOSX) == 0) {
      std::string rest = name.substr(kMacOSX.size());
      if (rest.empty() || rest.back() == '/') {
        removed.push_back(e);
        entries_1.erase(entries_1.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      name = rest;
    }
    std::int32_t k = lastInStr("/" + name, "/._");
    if (k == 0) continue;
    std::size_t cut = static_cast<std::size_t>(k) - 1;
    std::string dataName = name.substr(0, cut) + name.substr(cut + 2);
    auto found = index.find(dataName);
    if (found == index.end()) continue;
    ZipEntry* data = found->second;
    index.erase(found);
    removed.push_back(e);
    entries_1.erase(entries_1.begin() + static_cast<std::ptrdiff_t>(i));
    data->z_setAppleDoubleEntry(e);
    dittoFormat = true;
  }
  setAside.insert(setAside.end(), removed.rbegin(), removed.rend());
}

bool ZipArchiveData::isFakeEntry(const platform::MemoryBlock& header, std::int32_t localFlags) {
  std::uint16_t cf = header.UInt16Value(records::central::kFlags);
  if ((cf & records::kFlagDataDescriptor) == 0) return false;
  if (localFlags == -1) {
    if (!zipStream) return false;
    zipStream->SetPosition(
        static_cast<std::int64_t>(header.UInt32Value(records::central::kLocalHeaderOffset)) +
        records::local::kFlags);
    // Read unsigned: a flag word with bit 15 set must not turn negative and
    // so never compare equal.
    localFlags = zipStream->ReadUInt16();
  }
  return (cf & 0xFFF7) == localFlags;
}

}  // namespace zip
