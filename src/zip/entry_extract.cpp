// Putting one member onto disk below a root folder: its place, the folders
// on the way, the file or folder itself, and its dates, Mac metadata and
// permissions. No member is ever written, created or renamed outside the
// root, and a file being replaced stays as it was until the new one has been
// decoded whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>

#include "platform/apple_double.h"
#include "platform/framework_exceptions.h"
#include "zip/extract_messages.h"
#include "zip/file_streams.h"
#include "zip/rsrc_fork_streams.h"
#include "zip/staged_file.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_entry.h"

namespace zip {

namespace fs = std::filesystem;
using messages::kInternal;
using messages::kOpenRsrc;
using platform::FolderItem;
using platform::ItemAt;
using platform::MemoryBlockRef;
using platform::OpenFolder;

namespace {

constexpr char kNoDestination[] = "No destination given";
constexpr char kFolderCreation[] = "Folder creation failed";
constexpr char kFolderOverFile[] =
    "Archive entry is a folder but a file exists at the destination already. Won't replace that.";
constexpr char kFileOverFolder[] =
    "Archive entry is a file but a folder exists at the destination already. Won't replace that.";
constexpr char kAliasStays[] = "Destination exists as an alias file that can't be deleted";
constexpr char kCreateFailed[] = "Creating destination file failed";
constexpr char kWriteProtected[] = "Destination file is write protected";

// Owner read and execute, group and others execute: what a program file
// that came without a Unix mode needs to be started.
constexpr mode_t kExecuteBits = 0511;

bool Within(const fs::path& root, const fs::path& p) {
  const fs::path rel = p.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

// A message with the system's reason added where that reason is one that no
// retry of the member mends: the program has run out of descriptors.
std::string WithReason(std::string message, int error) {
  if (error != EMFILE && error != ENFILE) return message;
  return message + ": " + std::generic_category().message(error);
}

int FolderError(const FolderItem& item) {
  return item.Folder() ? item.Folder()->error() : 0;
}

// The permission bits a member's Unix mode gives a regular file: those of
// a regular file's mode only, and no setuid, setgid or sticky bit.
std::optional<mode_t> FilePermissions(std::int32_t mode) {
  if ((static_cast<mode_t>(mode) & S_IFMT) != S_IFREG) return std::nullopt;
  return static_cast<mode_t>(mode) & 0777;
}

// Both in one change of the Finder information; a folder has neither.
void SetTypeAndCreator(FolderItem& dest, std::string_view type, std::string_view creator) {
  if (dest.Directory()) return;
  std::string info = dest.FinderInfo();
  info.replace(platform::finder_info::kType, 4, std::string(type).append(4, '\0'), 0, 4);
  info.replace(platform::finder_info::kCreator, 4, std::string(creator).append(4, '\0'), 0, 4);
  dest.SetFinderInfo(info);
}

}  // namespace

std::string ZipEntry::z_diskName(std::string_view component) const {
  const platform::Text stored = d->decodeFromZip(d->encodeForZip(component, d->archiveEncoding));
  std::string name = stored.ToUTF8();
  // Bytes that are no text in the archive's encoding (a Latin-1 name in an
  // archive read as UTF-8) would each become U+FFFD, and two such members
  // would share one file, the later one silently replacing the earlier. They
  // keep their own bytes on disk instead, as other unzip tools leave them.
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  if (name.find(kReplacement) != std::string::npos &&
      stored.bytes.find(kReplacement) == std::string::npos) {
    name = stored.bytes;
  }
  return name;
}

// Where a walk down a member's path stands.
struct ZipEntry::DestinationWalk {
  // The folders entered below the root, each open.
  std::vector<std::string> entered;
  // Names below the last of them where no folder could be opened: an item
  // that is no folder stands there, or it could not be made. The member's
  // place is then a path only, and writing there fails.
  std::vector<std::string> lost;
  bool rootLost = false;
  // Why the first folder that could not be opened could not be.
  int error = 0;
  // The last name. A folder is entered only once a name follows it.
  std::optional<std::string> pending;

  bool Reachable() const { return lost.empty() && !rootLost; }
  // One level up; false above the root.
  bool Up() {
    if (pending) {
      pending.reset();
    } else if (!lost.empty()) {
      lost.pop_back();
    } else if (!entered.empty()) {
      entered.pop_back();
    } else {
      return false;
    }
    return true;
  }
};

std::optional<FolderItem> ZipEntry::MakeDestination(const FolderItem& root, bool followAliases) {
  if (!d->destinations.Begin(root.Path())) return std::nullopt;
  destinationRoot = d->destinations.SharedRoot();
  DestinationWalk walk;
  for (const std::string& component : path) {
    std::string name;
    try {
      name = z_diskName(component);
    } catch (const platform::RuntimeException&) {
      return std::nullopt;
    }
    // A ".." above the root, or a name that is no single component ("."
    // or one holding NUL), gives no destination.
    if (name == "..") {
      if (!walk.Up()) return std::nullopt;
    } else if (!name.empty()) {
      if (!FolderItem::IsValidName(name) || !z_walkOn(walk, name, followAliases)) {
        return std::nullopt;
      }
    }
  }
  return z_walkEnd(walk, followAliases);
}

// The name before `name` is a folder on the way: it is entered, and made
// when it is missing. The root is made with the first name below it.
bool ZipEntry::z_walkOn(DestinationWalk& walk, const std::string& name, bool followAliases) {
  int error = 0;
  if (walk.pending) {
    if (!z_enterPending(walk, followAliases)) return false;
  } else if (walk.entered.empty() && walk.Reachable() && !d->destinations.At(0, error)) {
    walk.rootLost = true;
    walk.error = error;
  }
  walk.pending = name;
  return true;
}

// Enters the pending name as a folder. A link there is not followed unless
// asked, and then only to where it leads inside the root, which is entered
// from the root like any other folder, never through a second link.
bool ZipEntry::z_enterPending(DestinationWalk& walk, bool followAliases) {
  std::string folder = std::move(*walk.pending);
  walk.pending.reset();
  int error = 0;
  if (!walk.Reachable()) {
    walk.lost.push_back(std::move(folder));
  } else if (d->destinations.Enter(walk.entered.size(), folder, error)) {
    walk.entered.push_back(std::move(folder));
  } else if (error != ELOOP) {
    if (walk.Reachable()) walk.error = error;
    walk.lost.push_back(std::move(folder));
  } else if (!followAliases || !z_followLink(walk, folder) ||
             (walk.pending && !z_enterPending(walk, false))) {
    return false;
  }
  return true;
}

// The walk moves to where the link `link` in its folder leads, when that
// lies inside the root; the target's own name becomes the pending name.
bool ZipEntry::z_followLink(DestinationWalk& walk, std::string link) {
  const fs::path& root = d->destinations.Root();
  fs::path at = root;
  for (const std::string& folder : walk.entered) at /= folder;
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(at / link, ec);
  if (ec || !Within(root, real)) return false;
  walk.entered.clear();
  walk.pending.reset();
  for (const fs::path& part : real.lexically_relative(root)) {
    if (part == ".") continue;
    if (walk.pending && !z_enterPending(walk, false)) return false;
    walk.pending = part.string();
  }
  return true;
}

std::optional<FolderItem> ZipEntry::z_walkEnd(DestinationWalk& walk, bool followAliases) {
  DestinationFolders& folders = d->destinations;
  int error = 0;
  struct stat st {};
  if (followAliases && walk.pending && walk.Reachable()) {
    // A link at the member's own name: the member goes where it leads.
    const DestinationFolders::FolderRef folder = folders.At(walk.entered.size(), error);
    if (folder && ItemAt(folder->fd(), *walk.pending).Lstat(st) && S_ISLNK(st.st_mode) &&
        !z_followLink(walk, *walk.pending)) {
      return std::nullopt;
    }
  }
  folders.Finish();
  std::string leaf;
  if (walk.pending) {
    leaf = *walk.pending;
  } else if (!walk.lost.empty()) {
    leaf = walk.lost.back();
    walk.lost.pop_back();
  } else if (!walk.entered.empty()) {
    leaf = walk.entered.back();
    walk.entered.pop_back();
  } else {
    return FolderItem(folders.Root());
  }
  // Joined as text and parsed once: this is done for every member.
  std::string at = folders.Root().native();
  for (const auto* names : {&walk.entered, &walk.lost}) {
    for (const std::string& name : *names) (at += '/') += name;
  }
  (at += '/') += leaf;
  // The member's item is anchored in the folder the walk opened. Where none
  // could be opened, nothing is looked up by path either: the member then
  // fails as if its folder could not be made.
  DestinationFolders::FolderRef folder;
  if (walk.Reachable()) folder = folders.At(walk.entered.size(), error);
  if (!folder) folder = OpenFolder::Unreachable(walk.Reachable() ? error : walk.error);
  return FolderItem(fs::path(std::move(at)), std::move(folder));
}

std::optional<FolderItem> ZipEntry::MakeDestinationChild(const FolderItem& parent,
                                                         std::string_view component,
                                                         bool followAliases) {
  try {
    const std::string name = z_diskName(component);
    if (name == "..") return parent.Parent();
    if (name.empty()) return parent;
    if (!parent.Exists()) parent.CreateAsFolder();
    // A name that is no single component ("." or one holding NUL) raises.
    return followAliases ? parent.Child(name) : parent.TrueChild(name);
  } catch (const platform::RuntimeException&) {
    return std::nullopt;
  }
}

bool ZipEntry::Extract(const std::optional<FolderItem>& destination, bool decodeMacBinary,
                       bool executable) {
  std::optional<FolderItem> item = destination;
  return Extract(item, decodeMacBinary, executable);
}

bool ZipEntry::Extract(std::optional<FolderItem>& destination, bool decodeMacBinary,
                       bool executable) {
  try {
    return z_extract(destination, decodeMacBinary, executable);
  } catch (const platform::RuntimeException&) {
    return Fail(kInternal);
  } catch (const std::bad_alloc&) {
    return Fail(kInternal);
  }
}

// The item `dest` anchored in its folder: as it is when MakeDestination
// made it; for a destination of the caller's own, in the folder its path
// names, opened once here.
FolderItem ZipEntry::z_anchored(const FolderItem& dest) {
  if (dest.Folder()) return dest;
  fs::path p = dest.Path();
  if (!p.has_filename()) p = p.parent_path();
  int error = 0;
  DestinationFolders::FolderRef folder = DestinationFolders::OpenByPath(p.parent_path(), error);
  return FolderItem(p, folder ? std::move(folder) : OpenFolder::Unreachable(error));
}

bool ZipEntry::z_extract(std::optional<FolderItem>& destination, bool decodeMacBinary,
                         bool executable) {
  extractedTheRoot = false;
  if (!destination) return Fail(kNoDestination);
  FolderItem dest = z_anchored(*destination);
  MemoryBlockRef mbHdr;
  // Held open until the metadata is on it; removed if anything ends early.
  std::unique_ptr<StagedFile> staged;
  const bool written = isFolder ? z_extractFolder(dest, decodeMacBinary, mbHdr)
                                : z_extractFile(dest, decodeMacBinary, mbHdr, staged);
  if (!written) return false;
  if (destinationRoot && dest.Name() == destinationRoot->filename().native() &&
      dest.Path() == *destinationRoot) {
    // A member naming the root itself: its creation date and Mac metadata
    // would go into the sidecar beside it, outside the root, so only the
    // root's own date is set.
    extractedTheRoot = true;
    if (const std::optional<platform::Date> t = Time()) z_setDatesAt(dest, -1, *t);
  } else {
    z_applyMetadata(dest, staged.get(), mbHdr, executable);
  }
  // An item of the caller's own stays one named by path, holding no folder
  // open; one from MakeDestination stays anchored where it was checked.
  destination = destination->Folder() ? dest : FolderItem(dest.Path());
  return true;
}

// What stands at the destination (`there`, and then `st`). A link there is
// an alias file, whatever it points at: it is removed, and the member is
// written in its place, never where it pointed. False when it stays.
bool ZipEntry::z_lookAtPlace(const FolderItem& dest, struct stat& st, bool& there) {
  there = dest.At().Lstat(st);
  if (!there || !S_ISLNK(st.st_mode)) return true;
  dest.Delete();
  there = false;
  return !(dest.At().Lstat(st) && S_ISLNK(st.st_mode)) || Fail(kAliasStays);
}

bool ZipEntry::z_extractFolder(const FolderItem& dest, bool decodeMacBinary,
                               MemoryBlockRef& mbHdr) {
  const ItemAt at = dest.At();
  struct stat st {};
  bool there = false;
  if (!z_lookAtPlace(dest, st, there)) return false;
  bool created = false;
  if (!there) {
    created = ::mkdirat(at.folder, at.name.c_str(), 0777) == 0;
    there = at.Lstat(st);
  }
  if (!there) return Fail(WithReason(kFolderCreation, FolderError(dest)));
  if (!S_ISDIR(st.st_mode)) return Fail(kFolderOverFile);
  if ((st.st_mode & S_IWUSR) == 0) return Fail(kWriteProtected);
  if (!z_unzip(nullptr, nullptr, decodeMacBinary, true, mbHdr)) {
    // A folder that was there before stays, with whatever it holds.
    if (created) dest.Delete();
    return false;
  }
  return true;
}

bool ZipEntry::z_extractFile(const FolderItem& dest, bool decodeMacBinary, MemoryBlockRef& mbHdr,
                             std::unique_ptr<StagedFile>& staged) {
  // Most members are new: their file is made in place at once, and only
  // where something stands is it looked at.
  staged = StagedFile::InPlace(dest);
  if (!staged) {
    const ItemAt at = dest.At();
    struct stat st {};
    bool there = false;
    if (!z_lookAtPlace(dest, st, there)) return false;
    if (there && S_ISDIR(st.st_mode)) return Fail(kFileOverFolder);
    if (there && (st.st_mode & S_IWUSR) == 0) return Fail(kWriteProtected);
    staged = StagedFile::Create(dest, there ? &st : nullptr);
    if (!staged) return Fail(WithReason(kCreateFailed, at.folder < 0 ? FolderError(dest) : errno));
  }
  bool decoded = false, fork = false;
  {
    FileWriter data(staged->Item(),
                    platform::BinaryStream::OnDescriptor(staged->Descriptor(), true));
    std::unique_ptr<RsrcForkWriter> rsrc;
    if (decodeMacBinary) rsrc = std::make_unique<RsrcForkWriter>(staged->Item());
    decoded = z_unzip(&data, rsrc.get(), decodeMacBinary, false, mbHdr);
    fork = rsrc && rsrc->Written() > 0;
    if (!decoded && rsrc) errmsg = WithReason(errmsg, rsrc->SystemError());
  }
  if (!decoded) return false;
  // A resource fork that cannot be put beside the destination is not
  // silently dropped; the old file then stays as it was.
  if (staged->SidecarBlocked(fork)) return Fail(kOpenRsrc);
  if (!staged->Commit(fork, d->WasExtracted(platform::SidecarAt(dest.At())))) {
    return Fail(kCreateFailed);
  }
  d->NoteExtracted(dest.At());
  return true;
}

// Dates, type and creator, name and permissions. What cannot be applied is
// not reported: the member's data is in place.
// `staged` is the extracted file, committed; none for a folder.
void ZipEntry::z_applyMetadata(FolderItem& dest, const StagedFile* staged,
                               const MemoryBlockRef& mbHdr, bool executable) {
  const int file = staged ? staged->Descriptor() : -1;
  struct stat st {};
  // Whether the item has a sidecar: the commit knows it for a file.
  const bool sidecar = staged ? staged->SidecarBeside()
                              : platform::SidecarAt(dest.At()).Lstat(st) || errno != ENOENT;
  if (const std::optional<platform::Date> t = Time();
      t && (!z_setDatesAt(dest, file, *t) || sidecar)) {
    // The modification date first: a creation date equal to it needs no
    // sidecar. A file's own date is already on it, through its descriptor.
    if (file < 0) dest.SetModificationDate(*t);
    dest.SetCreationDate(*t);
  }
  std::string type, creator;
  platform::Text name;
  if (mbHdr) {
    ApplyMacBinaryInformation(dest, mbHdr, file);
  } else if (extra->GetTypeCreatorName(type, creator, name)) {
    SetTypeAndCreator(dest, type, creator);
    if (!name.bytes.empty()) z_adjustMacFilename(name.bytes, 0, dest);
  } else if (z_icMapFilename(dest.Name(), type, creator)) {
    SetTypeAndCreator(dest, type, creator);
  }
  z_applyPermissions(dest, file, executable);
}

// The date in the item's own record alone: for an item without a sidecar,
// its creation date is then its modification date too. `file` is the item
// open, or -1. False when the date could not be set.
bool ZipEntry::z_setDatesAt(const FolderItem& dest, int file, const platform::Date& date) {
  const ItemAt at = dest.At();
  const auto seconds = static_cast<time_t>(
      platform::MacToUnixSeconds(date.TotalSeconds(), platform::UTCOffsetInMinutes()));
  const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  return file >= 0 ? ::futimens(file, times) == 0
                   : ::utimensat(at.folder, at.name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The member's Unix mode where its host keeps one there, else execute
// permission for a file that may be a program. An open `file` is changed
// through its descriptor, and only when its mode is not that already.
void ZipEntry::z_applyPermissions(const FolderItem& dest, int file, bool executable) {
  const std::int32_t attributes = ExternalFileAttributes();
  const std::int32_t host = OSMadeBy();
  const bool unixMode = attributes < 0 && (host == 0 || host == 3 || host == 7);
  if (!unixMode && !(executable && !isFolder && !IsTextFile())) return;
  if (file < 0) {
    if (unixMode) {
      ApplyUnixPermissions(dest, attributes);
    } else if (const std::optional<FSRef> ref = d->makeFSRef(dest)) {
      d->updateUnixPermissions(*ref, 0xFFFF, static_cast<std::int32_t>(kExecuteBits));
    }
    return;
  }
  struct stat st {};
  if (::fstat(file, &st) != 0) return;
  const std::optional<mode_t> wanted =
      unixMode ? FilePermissions(ZipArchiveData::shiftRight16(attributes))
               : std::optional<mode_t>((st.st_mode | kExecuteBits) & 07777);
  if (wanted && (st.st_mode & 07777) != *wanted) ::fchmod(file, *wanted);
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& destination) {
  const std::int32_t attributes = ExternalFileAttributes();
  return attributes < 0 && ApplyUnixPermissions(destination, attributes);
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& destination, std::int32_t attributes) {
  const std::optional<FSRef> ref = d->makeFSRef(destination);
  if (!ref) return false;
  // Only onto a regular file.
  const std::optional<mode_t> mode = FilePermissions(ZipArchiveData::shiftRight16(attributes));
  struct stat st {};
  if (!mode || !ref->At().Lstat(st) || !S_ISREG(st.st_mode)) return false;
  return d->updateUnixPermissions(*ref, 0, static_cast<std::int32_t>(*mode)) == 0;
}

// There is no desktop database of file types here to map a name with; a
// guess from the name's extension would give every extracted file a
// sidecar, so extracted files keep the type they were created with.
bool ZipEntry::z_icMapFilename(std::string_view, std::string&, std::string&) {
  return false;
}

}  // namespace zip
