// Changes of an open archive that only touch its in-memory directory:
// removing and replacing entries, the archive comment, a second name for an
// entry's data, and the mark that additions can be rolled back to. The next
// directory write makes them permanent.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/framework_exceptions.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

using namespace messages;
namespace cr = records::central;

// Its record points at data in another file, and its changes would be
// weighed by the other archive.
constexpr char kOtherArchive[] = "Entry belongs to another archive";
constexpr char kDuplicateFailed[] = "An unexpected error occured while adding a duplicate item";
constexpr char kEndSignatureInComment[] =
    "Comment must not contain the end of central directory signature ('PK\\5\\6')";

// Readers find the end record by searching back from the end of the file for
// its signature, so a signature in the comment behind it would be taken for
// the record itself. The comment's two length bytes stand right before it in
// the file and can begin one too.
bool HoldsEndSignature(std::string_view comment) {
  constexpr std::uint32_t value = records::end::kSignature;
  constexpr char signature[] = {
      static_cast<char>(value & 0xFF), static_cast<char>(value >> 8 & 0xFF),
      static_cast<char>(value >> 16 & 0xFF), static_cast<char>(value >> 24 & 0xFF)};
  const auto length = static_cast<std::uint16_t>(comment.size());
  std::string tail{static_cast<char>(length & 0xFF), static_cast<char>(length >> 8)};
  tail.append(comment);
  return tail.find(std::string_view(signature, sizeof signature)) != std::string::npos;
}

}  // namespace

// The directory shrinks by the entry's record at least (its companion may
// go too), though the last entry's leaves room to be found for the member
// that an archive without entries is given.
bool ZipArchive::RemoveEntry(std::int32_t index) {
  if (!z_mayChange()) return false;
  if (index < 1 || index > EntryCount()) throw platform::OutOfBoundsException();
  const ZipEntryRef entry = Entry(index);
  const std::int64_t recordBytes = RecordFields::Of(*entry).Bytes();
  if (const char* problem = z_admit({.recordBytes = -recordBytes, .entries = -1})) {
    errmsg = problem;
    return false;
  }
  marked = false;
  d->entries_1.erase(d->entries_1.begin() + index);
  // Its AppleDouble companion, if it has one, is no longer written either,
  // unless another entry listed has it too: the directory is added up again
  // then. Otherwise its size is kept, so that a run of removals stays quick.
  if (entry->AppleDoubleEntry()) {
    d->ForgetDirectorySize();
  } else {
    d->GrowDirectory(-recordBytes);
  }
  return true;
}

namespace {

// The records written and their bytes.
std::pair<std::int64_t, std::int64_t> Measure(const ZipArchiveData& d) {
  std::int64_t bytes = 0;
  const std::vector<ZipEntry*> listed = d.DirectoryEntries();
  for (const ZipEntry* e : listed) bytes += RecordFields::Of(*e).Bytes();
  return {static_cast<std::int64_t>(listed.size()), bytes};
}

}  // namespace

// The entry put in may bring back the companion of an entry removed
// earlier, and the one taken out may take its companion along, so the
// directory is weighed as it would stand.
ZipEntryRef ZipArchive::ReplaceEntry(std::int32_t index, ZipEntryRef entry) {
  if (!z_mayChange()) return nullptr;
  // The directory writer reads every listed entry.
  if (!entry || !entry->z_belongsTo(d.get())) {
    errmsg = entry ? kOtherArchive : kNoEntry;
    return nullptr;
  }
  if (index < 1 || index > EntryCount()) throw platform::OutOfBoundsException();
  ZipEntryRef& slot = d->entries_1[static_cast<std::size_t>(index)];
  DirectoryChange change{.fields = RecordFields::Of(*entry)};
  const auto before = Measure(*d);
  std::swap(slot, entry);
  const auto after = Measure(*d);
  std::swap(slot, entry);
  change.records = after.first - before.first;
  change.recordBytes = after.second - before.second;
  if (const char* problem = z_admit(change)) {
    errmsg = problem;
    return nullptr;
  }
  marked = false;
  std::swap(slot, entry);
  d->GrowDirectory(change.recordBytes);
  return entry;
}

bool ZipArchive::SetComment(std::string_view comment) {
  if (!writeMode) {
    z_noWriteMsg();
    return false;
  }
  const char* problem = HoldsEndSignature(comment) ? kEndSignatureInComment : nullptr;
  if (!problem) problem = z_admit({.commentLength = static_cast<std::int64_t>(comment.size())});
  if (problem) {
    errmsg = problem;
    return false;
  }
  comment_ = std::string(comment);
  return true;
}

void ZipArchive::Mark() {
  markDirStart = startOfDirInArchive;
  markEntries = d->EntryCount();
  marked = true;
}

bool ZipArchive::Rollback() {
  // The directory of a read-only archive can never be rewritten.
  if (!writeMode) {
    z_noWriteMsg();
    return false;
  }
  if (!marked || markDirStart > startOfDirInArchive || markEntries > d->EntryCount()) {
    marked = false;
    return false;
  }
  // The entries added since the mark go with their records (they have no
  // companions), which leaves room for the member that an archive without
  // entries gets: an added entry took more.
  DirectoryChange change{.entries = markEntries - d->EntryCount(), .entriesEnd = markDirStart};
  for (std::int32_t i = markEntries + 1; i <= d->EntryCount(); ++i) {
    change.recordBytes -= RecordFields::Of(*Entry(i)).Bytes();
  }
  if (const char* problem = z_admit(change)) {
    errmsg = problem;
    return false;
  }
  startOfDirInArchive = markDirStart;
  d->entries_1.resize(static_cast<std::size_t>(markEntries) + 1);
  d->ForgetDirectorySize();
  return true;
}

platform::MemoryBlockRef ZipArchive::z_cloneMB(const platform::MemoryBlock& block) {
  if (block.Size() == 0) return nullptr;
  auto copy = std::make_shared<platform::MemoryBlock>(platform::MemoryBlock::FromBytes(
      std::string_view(reinterpret_cast<const char*>(block.Data()), block.Size())));
  copy->LittleEndian = block.LittleEndian;
  return copy;
}

std::int32_t ZipArchive::AddFakeDuplicate(const ZipEntryRef& entry, std::string_view rawPath,
                                          const std::optional<platform::Date>& date,
                                          ZipExtraFieldRef extra) {
  if (!z_mayChange()) return 0;
  if (!entry || !entry->z_belongsTo(d.get())) {
    errmsg = entry ? kOtherArchive : kNoEntry;
    return 0;
  }
  try {
    const std::string name = d->encodeForZip(rawPath);
    // The local header of the entry duplicated holds the extra field its
    // data was written with.
    ZipExtraFieldRef field = extra ? std::move(extra) : entry->ExtraField();
    if (!field) throw platform::NilObjectException();
    const std::string extraBytes = field->AsData();
    const std::string& comment = entry->z_origEncodedComment();
    const RecordFields fields{name.size(), extraBytes.size(), comment.size()};
    const char* problem =
        name.empty()
            ? kEmptyName
            : z_admit(
                  {.records = 1, .recordBytes = fields.Bytes(), .entries = 1, .fields = fields});
    if (problem) {
      errmsg = problem;
      return kInvalidArgument;
    }
    platform::MemoryBlockRef record = z_cloneMB(*entry->z_Header());
    record->SetUInt16Value(cr::kNameLength, static_cast<std::uint16_t>(name.size()));
    record->SetUInt16Value(cr::kExtraLength, static_cast<std::uint16_t>(extraBytes.size()));
    if (date) {
      std::uint16_t time = 0, day = 0;
      platform::DateToDosDateTime(*date, time, day);
      record->SetUInt16Value(cr::kTime, time);
      record->SetUInt16Value(cr::kDate, day);
    }
    // Bit 3 in the central flags only is how a reader tells a duplicate
    // from an entry whose local header does not match its record.
    record->SetUInt16Value(cr::kFlags,
                           record->UInt16Value(cr::kFlags) | records::kFlagDataDescriptor);
    field->Lock();
    d->entries_1.push_back(std::make_shared<ZipEntry>(d, record, name, field, comment));
    d->GrowDirectory(fields.Bytes());
    return d->EntryCount();
  } catch (const platform::RuntimeException&) {
    errmsg = kDuplicateFailed;
    return -1;
  }
}

}  // namespace zip
