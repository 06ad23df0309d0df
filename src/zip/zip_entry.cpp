#include "zip/zip_entry.h"

#include "platform/framework_exceptions.h"
#include "zip/write_messages.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_records.h"

namespace zip {

namespace cr = records::central;

ZipEntry::ZipEntry(std::shared_ptr<ZipArchiveData> d_, platform::MemoryBlockRef header_,
                   std::string zipEncName_, ZipExtraFieldRef extra_, std::string zipEncComment_)
    : zipEncName(std::move(zipEncName_)),
      header(std::move(header_)),
      extra(std::move(extra_)),
      d(std::move(d_)),
      zipEncComment(std::move(zipEncComment_)) {
  sysEncName = d->decodeFromZip(zipEncName);
  sysEncComment = d->decodeFromZip(zipEncComment);
  if (!extra) {
    extra = std::make_shared<ZipExtraField>(d, std::string_view());
    extra->Lock();
  }
  z_checkRawPath();
  if (!header) header = std::make_shared<platform::MemoryBlock>(cr::kSize);
  header->LittleEndian = true;
}

std::int32_t ZipEntry::CompressedSize() const {
  return header->Int32Value(cr::kCompressedSize);
}
std::int32_t ZipEntry::Size() const {
  return header->Int32Value(cr::kUncompressedSize);
}
std::int32_t ZipEntry::CompressionMethod() const {
  return header->UInt16Value(cr::kMethod);
}

bool ZipEntry::IsEncrypted() const {
  return (header->UInt16Value(cr::kFlags) & records::kFlagEncrypted) != 0;
}

bool ZipEntry::CanExtract() const {
  std::int32_t method = CompressionMethod();
  if (method != 0 && method != 8) return false;
  if (IsEncrypted()) return false;
  return !IsDirectory();
}

std::optional<platform::Date> ZipEntry::Time() const {
  return platform::DosDateTimeToDate(header->UInt16Value(cr::kTime),
                                     header->UInt16Value(cr::kDate));
}

bool ZipEntry::IsTextFile() const {
  return (header->UInt16Value(cr::kInternalAttributes) & 1) != 0;
}

void ZipEntry::SetTextFileFlag(bool on) {
  d->AdmitChange({});  // fixed-size fields change no length
  std::uint16_t v = header->UInt16Value(cr::kInternalAttributes);
  header->SetUInt16Value(cr::kInternalAttributes,
                         static_cast<std::uint16_t>(on ? (v | 1) : (v & ~1u)));
}

std::int32_t ZipEntry::OSMadeBy() const {
  return header->UInt8Value(cr::kHostSystem);
}

void ZipEntry::SetOSMadeBy(std::int32_t host) {
  d->AdmitChange({});
  header->SetUInt8Value(cr::kHostSystem, static_cast<std::uint8_t>(host & 0xFF));
}

std::int32_t ZipEntry::ExternalFileAttributes() const {
  return header->Int32Value(cr::kExternalAttributes);
}

void ZipEntry::SetExternalFileAttributes(std::int32_t attributes) {
  d->AdmitChange({});
  header->SetInt32Value(cr::kExternalAttributes, attributes);
}

const ZipExtraFieldRef& ZipEntry::ExtraFieldInCentralDir() const {
  if (!extra->IsLocked()) throw platform::RuntimeException();
  return extra;
}

// What the directory cannot hold is refused here rather than when it is
// written: by then an added entry may have written over the old directory,
// which would leave the archive without one.
bool ZipEntry::z_admitRecord(std::size_t extraLength, std::size_t commentLength) {
  const RecordFields now = RecordFields::Of(*this);
  const RecordFields after{now.name, extraLength, commentLength};
  const std::int64_t growth = after.Bytes() - now.Bytes();
  const std::int64_t times = growth == 0 ? 0 : d->TimesListed(this);
  if (const char* problem = d->AdmitChange({.recordBytes = growth * times, .fields = after})) {
    return Fail(problem);
  }
  d->GrowDirectory(growth * times);
  return true;
}

bool ZipEntry::SetExtraFieldInCentralDir(ZipExtraFieldRef field) {
  if (!field) field = std::make_shared<ZipExtraField>(d, std::string_view());
  const std::size_t length = field->AsData().size();
  if (!z_admitRecord(length, zipEncComment.size())) return false;
  field->Lock();
  extra = std::move(field);
  header->SetUInt16Value(cr::kExtraLength, static_cast<std::uint16_t>(length));
  return true;
}

ZipExtraFieldRef ZipEntry::ExtraField() {
  platform::BinaryStream* s = d->zipStream.get();
  if (!s) {
    errmsg = "Archive is closed";
    return nullptr;
  }
  const std::int64_t saved = s->Position();
  s->SetPosition(header->UInt32Value(cr::kLocalHeaderOffset));
  s->ClearErrors();
  std::string fixed = s->Read(records::local::kSize);
  platform::MemoryBlock local = platform::MemoryBlock::FromBytes(fixed);
  local.LittleEndian = true;
  if (fixed.size() < records::local::kSize ||
      local.UInt32Value(records::local::kSignatureAt) != records::local::kSignature) {
    s->SetPosition(saved);
    errmsg = "Invalid Local File Header signature (archive appears to be severely corrupted)";
    return nullptr;
  }
  s->SetPosition(s->Position() + local.UInt16Value(records::local::kNameLength));
  // A block cut short by the end of the file yields only the bytes that are there.
  std::string block = s->Read(local.UInt16Value(records::local::kExtraLength));
  auto field = std::make_shared<ZipExtraField>(d, block);
  field->Lock();
  s->SetPosition(saved);
  return field;
}

void ZipEntry::z_setAppleDoubleEntry(ZipEntryRef companion) {
  companion->thisIsTheAppleDoubleEntry = true;
  appleDoubleEntry = std::move(companion);
}

// -- names

void ZipEntry::z_checkRawPath() {
  path.clear();
  isFolder = false;
  std::string component;
  const std::string& name = sysEncName.bytes;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == ':') {
      // A colon is the Mac's folder separator; it cannot stand in a file name.
      component += '-';
    } else if (c == '/') {
      if (i + 1 == name.size()) isFolder = true;
      if (component != ".") path.push_back(component);
      component.clear();
    } else {
      component += c;
    }
  }
  if (!component.empty()) path.push_back(component);
  if (component.compare(0, 2, "._") == 0) {
    hasDittoName = true;
  } else if (!path.empty() && path.front() == "__MACOSX") {
    hasDittoName = true;
  }
}

bool ZipEntry::SetComment(std::string_view text, const platform::TextEncoding* encoding) {
  std::string stored = d->encodeForZip(text, encoding);
  if (!z_admitRecord(extra->AsData().size(), stored.size())) return false;
  sysEncComment = platform::Text{std::string(text), encoding};
  zipEncComment = std::move(stored);
  return true;
}

bool ZipEntry::SameRawPath(std::string_view rawPath, const platform::TextEncoding* encoding) const {
  return d->encodeForZip(rawPath, encoding) == zipEncName;
}

}  // namespace zip
