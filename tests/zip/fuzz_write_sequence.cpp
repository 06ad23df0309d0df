// Fuzz entry point of the writer: the bytes are a sequence of the writer's
// calls on one new archive whose size limit is lowered to a few kilobytes,
// so that the limit is met often: adds, fake duplicates, removals,
// replacements, compaction, every record setter, the archive comment, mark
// and rollback, flush, and close followed by a reopen. A simple model
// follows every call the library takes. After every Close the archive opens
// again and holds exactly the model's members (names, bytes, comments,
// extra fields, attributes, host, text flag) and comment; no Close may be
// refused, as no write fails here. A refused call leaves the file as it was,
// byte for byte. A broken promise aborts, so the replay and libFuzzer both
// report it. Built into a corpus replay test, and with clang's libFuzzer
// when VANTORA_FUZZ is on.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "memory_streams.h"
#include "zip/zip_archive.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "zip write fuzz check failed: %s\n", what);
  std::abort();
}

// What one listed entry must read as. Entries listed twice share one.
struct Member {
  std::string name, data, comment, extra, localExtra;
  std::int32_t attributes = 0, host = 0;
  bool text = false;
  bool fieldsKnown = true;  // not for the "/" member an empty archive gets
};
using MemberRef = std::shared_ptr<Member>;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class Sequence {
 public:
  Sequence(const std::uint8_t* data, std::size_t size, std::filesystem::path file)
      : in_(data), left_(size), file_(std::move(file)) {}

  void Run() {
    archive_.SetSizeLimitForTesting(400 + Next() * 24);
    Check(archive_.Open(file_, true), "a new archive was refused");
    for (int ops = 0; left_ > 0 && ops < 400; ++ops) Step(Next() % 13);
    CloseAndCheck();
  }

 private:
  std::uint8_t Next() { return left_ > 0 ? (--left_, *in_++) : 0; }
  std::int32_t Index() { return Next() % static_cast<std::int32_t>(listed_.size()) + 1; }
  MemberRef& At(std::int32_t index) { return listed_[static_cast<std::size_t>(index) - 1]; }

  // Bytes of a length the input picks: a run of one letter, or noise, or a
  // tail that a reader may take for a zip64 locator; now and then one past
  // what a 16-bit length holds.
  std::string Bytes() {
    const std::uint8_t kind = Next(), n = Next();
    if (kind % 16 == 15) return std::string(65536, 'x');
    std::string out(static_cast<std::size_t>(n) * (kind % 4 + 1),
                    static_cast<char>('a' + kind % 26));
    if (kind & 0x10) {
      for (char& c : out) c = static_cast<char>(Next() % 0x7F);
    }
    if (kind & 0x20) out += std::string("PK\x06\x07", 4) + std::string(16, 'L');
    return out;
  }

  std::string Name() {
    const std::uint8_t kind = Next();
    std::string name = "n" + std::to_string(serial_++);
    if (kind & 1) name += std::string(static_cast<std::size_t>(Next()) * 4, 'L');
    return name;
  }

  // Runs a call that may change the file; a refusal must leave it as it was.
  template <class Call>
  bool Changes(Call call, const char* what) {
    const std::string before = ReadFile(file_);
    const bool taken = call();
    Check(taken || ReadFile(file_) == before, what);
    return taken;
  }

  void Step(int op) {
    if (listed_.empty() && op >= 2 && op <= 8) op = 0;
    using Call = void (Sequence::*)();
    static constexpr Call kCalls[] = {&Sequence::Add,
                                      &Sequence::SetArchiveComment,
                                      &Sequence::Duplicate,
                                      &Sequence::Remove,
                                      &Sequence::Replace,
                                      &Sequence::SetEntryComment,
                                      &Sequence::SetCentralExtra,
                                      &Sequence::SetRecordFields,
                                      &Sequence::Compact,
                                      &Sequence::MarkOrRollback,
                                      &Sequence::Flush,
                                      &Sequence::CloseAndCheck};
    (this->*kCalls[std::min<std::size_t>(static_cast<std::size_t>(op), 11)])();
  }

  void Add() {
    const std::string name = Name(), data = Bytes();
    const std::uint8_t kind = Next();
    const std::string extra = kind & 1 ? Bytes() : std::string();
    ziptest::MemorySource source(data);
    const zip::ZipExtraFieldRef field = kind & 1 ? archive_.MakeZipExtraField(extra) : nullptr;
    std::int32_t index = 0;
    Changes(
        [&] {
          index = archive_.AddItemByStreams(&source, static_cast<std::int64_t>(data.size()),
                                            nullptr, 0, nullptr, name, field, std::nullopt);
          return index > 0;
        },
        "a refused add changed the file");
    if (index <= 0) return;
    Check(index == static_cast<std::int32_t>(listed_.size()) + 1, "an add's index");
    listed_.push_back(Listed(index, Member{name, data, "", extra, extra}));
  }

  // The model of a new entry, with the record fields it was given.
  MemberRef Listed(std::int32_t index, Member m) {
    const zip::ZipEntryRef e = archive_.Entry(index);
    m.attributes = e->ExternalFileAttributes();
    m.host = e->OSMadeBy();
    m.text = e->IsTextFile();
    m.fieldsKnown = true;
    return std::make_shared<Member>(std::move(m));
  }

  void Duplicate() {
    const std::int32_t from = Index();
    const MemberRef of = At(from);
    const std::string name = Name();
    const bool own = Next() & 1;
    const std::string extra = own ? Bytes() : of->localExtra;
    std::int32_t index = 0;
    Changes(
        [&] {
          index = archive_.AddFakeDuplicate(archive_.Entry(from), name, std::nullopt,
                                            own ? archive_.MakeZipExtraField(extra) : nullptr);
          return index > 0;
        },
        "a refused duplicate changed the file");
    if (index <= 0) return;
    Member m = *of;
    m.name = name;
    m.extra = extra;
    listed_.push_back(std::make_shared<Member>(m));
  }

  void Remove() {
    const std::int32_t index = Index();
    const zip::ZipEntryRef entry = archive_.Entry(index);
    if (!Changes([&] { return archive_.RemoveEntry(index); }, "a refused removal changed the file"))
      return;
    removed_.emplace_back(entry, At(index));
    listed_.erase(listed_.begin() + index - 1);
    marked_ = false;
  }

  // With an entry listed elsewhere, or one removed before (whose data is
  // still there until a compaction or rollback).
  void Replace() {
    const std::int32_t index = Index();
    zip::ZipEntryRef entry;
    MemberRef m;
    if (!removed_.empty() && Next() & 1) {
      std::tie(entry, m) = removed_[Next() % removed_.size()];
    } else {
      const std::int32_t from = Index();
      entry = archive_.Entry(from);
      m = At(from);
    }
    const zip::ZipEntryRef old = archive_.Entry(index);
    zip::ZipEntryRef returned;
    Changes(
        [&] {
          returned = archive_.ReplaceEntry(index, entry);
          return returned != nullptr;
        },
        "a refused replacement changed the file");
    if (!returned) return;
    Check(returned == old, "a replacement returned another entry");
    removed_.emplace_back(old, At(index));
    At(index) = m;
    marked_ = false;
  }

  void SetEntryComment() {
    const std::int32_t index = Index();
    const std::string comment = Bytes();
    if (archive_.Entry(index)->SetComment(comment, zip::ZipArchive::EncodedAsUnicode())) {
      At(index)->comment = comment;
    }
  }

  void SetCentralExtra() {
    const std::int32_t index = Index();
    const std::string extra = Bytes();
    if (archive_.Entry(index)->SetExtraFieldInCentralDir(archive_.MakeZipExtraField(extra))) {
      At(index)->extra = extra;
    }
  }

  void SetRecordFields() {
    const std::int32_t index = Index();
    zip::ZipEntry& e = *archive_.Entry(index);
    const std::uint8_t kind = Next(), value = Next();
    Member& m = *At(index);
    if (kind % 3 == 0) {
      m.attributes = static_cast<std::int32_t>(value * 0x01010101u);
      e.SetExternalFileAttributes(m.attributes);
    } else if (kind % 3 == 1) {
      e.SetOSMadeBy(m.host = value);
    } else {
      e.SetTextFileFlag(m.text = value & 1);
    }
  }

  void SetArchiveComment() {
    const std::string comment = Bytes();
    if (Changes([&] { return archive_.SetComment(comment); }, "a refused comment changed the file"))
      comment_ = comment;
  }

  void Compact() {
    if (!Changes([&] { return archive_.Compact(); }, "a refused compaction changed the file"))
      return;
    removed_.clear();
    marked_ = false;
    Written();
  }

  // A directory that would need zip64 records behind a gap at the start of
  // the file is written behind the entries moved down over the gaps, so the
  // data of an entry removed before may be gone.
  void Flush() {
    Check(archive_.Flush(), "a flush was refused");
    removed_.clear();
    Written();
  }

  // A directory written without entries got the "/" member.
  void Written() {
    if (!listed_.empty()) return;
    Check(archive_.EntryCount() == 1, "an empty archive was written without its member");
    listed_.push_back(Listed(1, Member{"/", "", "", "", ""}));
  }

  void MarkOrRollback() {
    if (Next() & 1) {
      archive_.Mark();
      marked_ = true;
      markCount_ = listed_.size();
      return;
    }
    if (!Changes([&] { return archive_.Rollback(); }, "a refused rollback changed the file"))
      return;
    Check(marked_, "a rollback without a mark");
    listed_.resize(markCount_);
    removed_.clear();
  }

  void CloseAndCheck() {
    if (listed_.empty()) {
      listed_.push_back(std::make_shared<Member>(Member{"/", "", "", "", "", 0, 0, false, false}));
    }
    Check(archive_.Close(), "a close was refused");
    zip::ZipArchive reopened;
    Check(reopened.Open(file_, false), "a closed archive does not open again");
    Check(reopened.EntryCount() == static_cast<std::int32_t>(listed_.size()), "member count");
    Check(reopened.Comment() == comment_, "archive comment");
    for (std::int32_t i = 1; i <= reopened.EntryCount(); ++i)
      CheckMember(*reopened.Entry(i), *At(i));
    reopened.Close();
    Check(archive_.Open(file_, true) && archive_.IsWritable(), "a closed archive is not writable");
    // The records read are the entries' own from now on.
    for (std::int32_t i = 1; i <= archive_.EntryCount(); ++i) {
      At(i) = std::make_shared<Member>(*At(i));
      if (!At(i)->fieldsKnown) At(i) = Listed(i, *At(i));
    }
    removed_.clear();
    marked_ = false;
  }

  static void CheckMember(zip::ZipEntry& e, const Member& m) {
    Check(e.z_origEncodedName() == m.name, "member name");
    Check(e.z_origEncodedComment() == m.comment, "member comment");
    Check(e.ExtraFieldInCentralDir()->AsData() == m.extra, "member extra field");
    Check(!m.fieldsKnown || e.ExternalFileAttributes() == m.attributes, "member attributes");
    Check(!m.fieldsKnown || e.OSMadeBy() == m.host, "member host");
    Check(!m.fieldsKnown || e.IsTextFile() == m.text, "member text flag");
    if (e.IsDirectory()) return;
    ziptest::Collected sink;
    platform::MemoryBlockRef header;
    Check(e.Extract(false, &sink, nullptr, header) && sink.bytes == m.data, "member data");
  }

  const std::uint8_t* in_;
  std::size_t left_;
  std::filesystem::path file_;
  zip::ZipArchive archive_;
  std::vector<MemberRef> listed_;
  std::vector<std::pair<zip::ZipEntryRef, MemberRef>> removed_;
  std::string comment_;
  bool marked_ = false;
  std::size_t markCount_ = 0;
  int serial_ = 0;
};

// A folder of the process's own for the archive, in memory where the system
// offers it, as a long run writes a great deal; removed as the process ends.
struct WorkFolder {
  WorkFolder() {
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::is_directory("/dev/shm", ec)
                                          ? std::filesystem::path("/dev/shm")
                                          : std::filesystem::temp_directory_path();
    std::string pattern = (tmp / "zip-write-fuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "no temporary folder");
    path = pattern;
  }
  ~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const WorkFolder folder;
  const std::filesystem::path file = folder.path / "w.zip";
  std::filesystem::remove(file);
  Sequence(data, size, file).Run();
  return 0;
}
