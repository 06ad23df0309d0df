#include "zip/zip_archive.h"

#include <new>
#include <system_error>

#include "platform/apple_double.h"
#include "platform/framework_exceptions.h"
#include "zip/zip_records.h"

namespace zip {

using platform::TextEncoding;

ZipArchive::ZipArchive() {
  z_setup();
}

void ZipArchive::z_setup() {
  d = std::make_shared<ZipArchiveData>();
  d->archive = this;
  d->copyChunkSize = 16384;
  sizeLimit_ = records::kMaxOffset;
  maxIntPlus1 = 2147483648.0;
}

ZipArchive::~ZipArchive() {
  const bool created = IsOpen() && justCreated;
  const std::filesystem::path file = d->theFile;
  bool closed = false;
  try {
    closed = Close();
  } catch (...) {
  }
  // A directory that could not be written now never will be. The entries
  // hold the shared state; let go of them so it can go too.
  d->zipStream.reset();
  d->ClearEntries();
  d->archive = nullptr;
  if (!closed && created) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
  }
}

bool ZipArchive::Open(const std::filesystem::path& file, bool writable) {
  return Open(file, writable, EncodedAsUnicode());
}

bool ZipArchive::Open(const std::filesystem::path& file, bool writable,
                      const TextEncoding* encoding) {
  errmsg.clear();
  const bool wasOpen = entriesRead;
  try {
    if (wasOpen) throw platform::RuntimeException();
    const bool result = OpenSteps(file, writable, encoding);
    // Only an archive that may be written needs to know, and finding out
    // reads every local header: a read-only open is spared that.
    entriesReachIntoDir = writable && result && z_localHeadersReachIntoDir();
    // A directory that could not be written again as it stands (another
    // writer's, too near the size limit) keeps the archive read-only too.
    writeMode =
        writable && result && !centralDirCorrupted && !entriesReachIntoDir && !z_changeProblem({});
    if (writeMode) d->dirty = true;
    return result;
  } catch (const std::exception& e) {
    // An archive that was already open stays as it was. Anything this call
    // opened is closed again, whatever went wrong.
    if (!wasOpen) {
      d->zipStream.reset();
      d->ClearEntries();
      entriesRead = false;
      justCreated = false;
    }
    const bool runtime = dynamic_cast<const platform::RuntimeException*>(&e) != nullptr ||
                         dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    if (!runtime) throw;
    errmsg = "Unexpected error (exception)";
    return false;
  }
}

void ZipArchive::ResetForOpen() {
  // Nothing of an earlier file may show through in this one.
  comment_.clear();
  startOfDirInArchive = 0;
  centralDirCorrupted = false;
  endRecordUnsure = false;
  entriesReachIntoDir = false;
  justCreated = false;
  marked = false;
  markEntries = 0;
  markDirStart = 0;
  writeMode = false;
  d->ClearEntries();
  d->dirty = false;
  d->dittoFormat = false;
}

bool ZipArchive::OpenSteps(const std::filesystem::path& file, bool writable,
                           const TextEncoding* encoding) {
  ResetForOpen();
  if (file.empty()) {
    errmsg = "No file specified";
    return false;
  }
  d->theFile = file;
  d->setArchiveEncoding(encoding);
  std::error_code ec;
  if (writable && !std::filesystem::exists(file, ec)) {
    d->zipStream = platform::BinaryStream::Create(platform::ItemAt(file));
    if (!d->zipStream) {
      errmsg = "Creating the archive file failed";
      return false;
    }
    d->zipStream->LittleEndian = true;
    entriesRead = true;
    justCreated = true;
    return true;
  }
  d->zipStream = platform::BinaryStream::Open(platform::ItemAt(file), writable);
  if (!d->zipStream) {
    errmsg = "Opening the archive file failed";
    return false;
  }
  d->zipStream->LittleEndian = true;
  z_readDirectory();
  if (!entriesRead) {
    // A failed read leaves no entries behind for a later open to show.
    d->zipStream.reset();
    d->ClearEntries();
  }
  return entriesRead;
}

ZipEntryRef ZipArchive::Entry(std::int32_t index) const {
  if (!entriesRead) throw platform::RuntimeException();
  if (index < 1 || index > EntryCount()) throw platform::OutOfBoundsException();
  return d->entries_1[static_cast<std::size_t>(index)];
}

std::int32_t ZipArchive::EntryCount() const {
  if (!entriesRead) throw platform::RuntimeException();
  return d->EntryCount();
}

bool ZipArchive::GetUnixPermissions(const std::filesystem::path& file, std::int32_t& perm) const {
  // An entry holds what a link points at, so it takes that item's mode too;
  // the link's own mode would turn the entry into a link for other tools.
  platform::FolderItem item(file);
  if (item.Alias()) {
    std::error_code ec;
    item = platform::FolderItem(std::filesystem::canonical(file, ec));
    if (ec) return false;
  }
  const std::optional<FSRef> ref = d->makeFSRef(item);
  std::int32_t mode = 0;
  if (!ref || d->getUnixPermissionsFromFile(*ref, mode) != 0) return false;
  perm = mode;
  return true;
}

const TextEncoding* ZipArchive::EncodedAsWinLatin1() {
  return platform::GetTextEncoding(TextEncoding::kBaseWindowsLatin1, 0, 0);
}
const TextEncoding* ZipArchive::EncodedAsUnicode() {
  return &TextEncoding::UTF8();
}
const TextEncoding* ZipArchive::EncodedAsMacDefault() {
  return &TextEncoding::MacRoman();
}
const TextEncoding* ZipArchive::EncodedAsDOSLatinUS() {
  return platform::GetTextEncoding(TextEncoding::kBaseDOSLatinUS, 0, 0);
}

ZipExtraFieldRef ZipArchive::MakeZipExtraField(std::string_view block) const {
  return std::make_shared<ZipExtraField>(d, block);
}

ZipExtraFieldRef ZipArchive::MakeZipExtraField(std::string_view type, std::string_view creator,
                                               std::string_view name) const {
  return MakeZipExtraField(MakeMacExtraBlock(*d, type, creator, name));
}

ZipExtraFieldRef ZipArchive::MakeZipExtraField(const platform::FolderItem& item) const {
  return MakeZipExtraField(item, item.Name());
}

ZipExtraFieldRef ZipArchive::MakeZipExtraField(const platform::FolderItem& item,
                                               std::string_view name) const {
  if (name.empty() && item.Directory()) return nullptr;
  std::string type, creator;
  platform::ReadMacTypeCreator(item.At(), type, creator);
  return MakeZipExtraField(type, creator, name);
}

}  // namespace zip
