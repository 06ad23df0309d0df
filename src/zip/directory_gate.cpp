// The one gate of every change to what the directory will hold: whatever
// it lets through, the directory can be written behind it, so that Close
// can only fail for a failed write. A record's 16-bit lengths, the entry
// count, and the size limit with the room that a later write may need.
#include "platform/framework_exceptions.h"
#include "zip/write_messages.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace zip {

namespace {

using namespace messages;
namespace cr = records::central;
namespace lh = records::local;

}  // namespace

const char* ZipArchiveData::AdmitChange(const DirectoryChange& change) const {
  if (archive) return archive->z_admit(change);
  return change.fields ? change.fields->TooLong() : nullptr;
}

RecordFields RecordFields::Of(const ZipEntry& e) {
  return {e.z_origEncodedName().size(), e.ExtraFieldInCentralDir()->AsData().size(),
          e.z_origEncodedComment().size()};
}

std::int64_t RecordFields::Bytes() const {
  return static_cast<std::int64_t>(cr::kSize + name + extra + comment);
}

const char* RecordFields::TooLong() const {
  if (name > records::kMaxField16) return kNameTooLong;
  if (extra > records::kMaxField16) return kExtraTooLong;
  if (comment > records::kMaxField16) return kCommentTooLong;
  return nullptr;
}

const char* ZipArchive::z_admit(const DirectoryChange& change) {
  const char* problem = IsWritable()    ? z_changeProblem(change)
                        : change.fields ? change.fields->TooLong()
                                        : nullptr;
  if (!problem) d->dirty = true;
  return problem;
}

// The entries, the directory that must follow them and its end records all
// stay addressable by 32-bit offsets (or within the limit a test set), so
// that an entry once written can always be followed by its directory. Room
// is kept for the zip64 records too: whichever record comes to be last may
// need them behind it, and for the member that an archive left without
// entries is given.
const char* ZipArchive::z_changeProblem(const DirectoryChange& change) {
  if (change.fields) {
    if (const char* problem = change.fields->TooLong()) return problem;
  }
  const std::int64_t comment =
      change.commentLength < 0 ? static_cast<std::int64_t>(comment_.size()) : change.commentLength;
  if (comment > static_cast<std::int64_t>(records::kMaxField16)) return kCommentTooLong;
  if (change.records > 0 && !d->RoomForEntries(static_cast<std::size_t>(change.records))) {
    return kTooManyEntries;
  }
  const std::int64_t entriesEnd = change.entriesEnd < 0 ? startOfDirInArchive : change.entriesEnd;
  const std::int64_t standIn =
      d->EntryCount() + change.entries > 0
          ? 0
          : static_cast<std::int64_t>(lh::kSize + cr::kSize + 2 * kStandInName.size());
  const std::int64_t end =
      entriesEnd + d->DirectorySize() + change.recordBytes + standIn +
      static_cast<std::int64_t>(records::zip64::kRecordsSize + records::end::kSize) + comment;
  return end <= sizeLimit_ ? nullptr : kArchiveTooLarge;
}

void ZipArchive::SetSizeLimitForTesting(std::int64_t bytes) {
  if (IsOpen()) throw platform::RuntimeException();
  sizeLimit_ = bytes;
}

}  // namespace zip
