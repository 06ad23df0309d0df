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
using platform::OpenFolderRef;

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

constexpr char kFileOnPath[] =
    "A folder on the entry's path is a file at the destination already. Won't replace that.";
constexpr char kAliasOnPath[] =
    "A folder on the entry's path is an alias file at the destination. Won't follow that.";
constexpr char kFolderAtFork[] = "a folder exists where it goes. Won't replace that.";
constexpr char kRootReplaced[] =
    "The destination folder was replaced by another item as it was created. Won't use that.";

// A message with the system's reason added where that reason is one that no
// retry of the member mends: the program has run out of descriptors, or the
// name is longer than the file system takes.
std::string WithReason(std::string message, int error) {
  if (error != EMFILE && error != ENFILE && error != ENAMETOOLONG) return message;
  return message + ": " + std::generic_category().message(error);
}

// Why a member's folder could not be reached: what stood on its way, or
// `otherwise` with the system's reason.
std::string UnreachableMessage(int error, const char* otherwise) {
  if (error == ENOTDIR) return kFileOnPath;
  if (error == ELOOP) return kAliasOnPath;
  if (error == DestinationFolders::kReplaced) return kRootReplaced;
  return WithReason(otherwise, error);
}

// Why a folder member's own folder could not be opened once made or found:
// what was put at its place meanwhile.
std::string PlaceMessage(int error) {
  if (error == ENOTDIR) return kFolderOverFile;
  if (error == ELOOP) return kAliasStays;
  return WithReason(kFolderCreation, error);
}

// Why a resource fork could not be put in place: a folder or another item
// that is no sidecar at the sidecar's name, or the system's reason.
std::string ForkMessage(const std::string& message, int error) {
  if (error == EISDIR) return std::string(kOpenRsrc) + ": " + kFolderAtFork;
  if (error == EEXIST) return kOpenRsrc;
  if (error == ENAMETOOLONG) return WithReason(kOpenRsrc, error);
  return WithReason(message, error);
}

// Removes the link `looked` at `at`, an alias file whatever it points at,
// never following it; but only while it is the item there. 0 when it went,
// or is gone, or a folder stands there now (taken as one found there);
// ENOTDIR for an item that is no folder, ELOOP for another link or one that
// cannot be removed, the reason the name could not be looked at.
int RemoveLink(const ItemAt& at, const platform::Looked& looked) {
  platform::Looked now{};
  if (!at.Lstat(now)) return errno == ENOENT ? 0 : errno;
  if (S_ISDIR(now.st_mode)) return 0;
  if (!S_ISLNK(now.st_mode)) return ENOTDIR;
  if (platform::ItemId::Of(now) != platform::ItemId::Of(looked)) return ELOOP;
  return ::unlinkat(at.folder, at.name.c_str(), 0) == 0 ? 0 : ELOOP;
}

// The open of a folder at `at` failed with `error`: ELOOP, for a link put
// there since it was looked at, which `link` then describes.
bool LinkRacedIn(const ItemAt& at, int error, platform::Looked& link) {
  return error == ELOOP && at.Lstat(link) && S_ISLNK(link.st_mode);
}

// The folder member's own folder at `at`, made (`made`) or opened as found
// there meanwhile, never through a link. A link there, which `link` says was
// found (described by `st`), goes first; one put there since is taken as one
// found there, once. Null with `error` set when there is no folder to take.
OpenFolderRef PlaceFolder(const ItemAt& at, bool link, platform::Looked& st, int& error,
                          bool& made) {
  for (;;) {
    error = link ? RemoveLink(at, st) : 0;
    if (error != 0) return nullptr;
    OpenFolderRef folder = platform::OpenOrMakeFolder(at.folder, at.name, true, &made);
    error = folder ? 0 : errno;
    if (folder || link || !LinkRacedIn(at, error, st)) return folder;
    link = true;
  }
}

// The permission bits a member's Unix mode gives a regular file: those of
// a regular file's mode only, and no setuid, setgid or sticky bit.
std::optional<mode_t> FilePermissions(std::int32_t mode) {
  if ((static_cast<mode_t>(mode) & S_IFMT) != S_IFREG) return std::nullopt;
  return static_cast<mode_t>(mode) & 0777;
}

// Both in one change of the Finder information; the caller knows the item
// is no folder, which has neither.
void SetTypeAndCreator(FolderItem& dest, std::string_view type, std::string_view creator) {
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

std::optional<FolderItem> ZipEntry::MakeDestination(const FolderItem& root, bool followAliases) {
  DestinationFolders& walk = d->destinations;
  if (!walk.Begin(root, followAliases)) return std::nullopt;
  destinationRoot = walk.SharedRoot();
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
      if (!FolderItem::IsValidName(name) || !walk.Down(name)) return std::nullopt;
    }
  }
  return walk.End();
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
  OpenFolderRef folder = platform::OpenFolder::Open(
      AT_FDCWD, p.parent_path().empty() ? "." : p.parent_path().c_str(), 0, error);
  return FolderItem(p, folder ? std::move(folder) : OpenFolder::Unreachable(error));
}

bool ZipEntry::z_extract(std::optional<FolderItem>& destination, bool decodeMacBinary,
                         bool executable) {
  extractedTheRoot = false;
  if (!destination) return Fail(kNoDestination);
  if (d->destinations.IsRoot(*destination)) return z_extractRoot(decodeMacBinary);
  FolderItem dest = z_anchored(*destination);
  if (dest.Folder()->fd() < 0) {
    return Fail(
        UnreachableMessage(dest.Folder()->error(), isFolder ? kFolderCreation : kCreateFailed));
  }
  MemoryBlockRef mbHdr;
  // Held open until the metadata is on it; removed if anything ends early.
  std::unique_ptr<StagedFile> staged;
  OpenFolderRef folder;
  const bool written = isFolder ? z_extractFolder(dest, decodeMacBinary, mbHdr, folder)
                                : z_extractFile(dest, decodeMacBinary, executable, mbHdr, staged);
  if (!written) return false;
  z_applyMetadata(dest, staged ? staged->Descriptor() : folder->fd(), staged.get(), mbHdr,
                  executable);
  // Members written into the folder later change its date: it is set again
  // once the walk is done with the folder.
  if (folder && (mbHdr || Time())) d->destinations.KeepDate(*folder);
  // An item of the caller's own stays one named by path, holding no folder
  // open; one from MakeDestination stays anchored where it was checked.
  destination = destination->Folder() ? dest : FolderItem(dest.Path());
  return true;
}

// A member that names the root itself: the root is the folder held since
// the walk first opened it. Its creation date and Mac metadata would go into
// the sidecar beside it, outside the root, so only its own date is set.
bool ZipEntry::z_extractRoot(bool decodeMacBinary) {
  if (!isFolder) return Fail(kFileOverFolder);
  int error = 0;
  const OpenFolderRef root = d->destinations.RootFolder(error);
  if (!root) return Fail(UnreachableMessage(error, kFolderCreation));
  platform::Looked st{};
  if (!platform::LookThrough(root->fd(), st)) return Fail(WithReason(kFolderCreation, errno));
  if ((st.st_mode & S_IWUSR) == 0) return Fail(kWriteProtected);
  MemoryBlockRef mbHdr;
  if (!z_unzip(nullptr, nullptr, decodeMacBinary, true, mbHdr)) return false;
  extractedTheRoot = true;
  if (const std::optional<platform::Date> t = Time()) {
    z_setDates(root->fd(), *t);
    d->destinations.KeepDate(*root);
  }
  return true;
}

// The member's header is decoded before anything is made or removed at its
// place, so that a member that fails leaves what stood there as it was.
// `folder` is then the folder itself, opened never through a link.
bool ZipEntry::z_extractFolder(const FolderItem& dest, bool decodeMacBinary, MemoryBlockRef& mbHdr,
                               OpenFolderRef& folder) {
  const ItemAt at = dest.At();
  platform::Looked st{};
  const bool there = at.Lstat(st);
  if (!there && errno != ENOENT) return Fail(WithReason(kFolderCreation, errno));
  bool link = there && S_ISLNK(st.st_mode);
  if (there && !link && !S_ISDIR(st.st_mode)) return Fail(kFolderOverFile);
  if (there && S_ISDIR(st.st_mode) && !z_foundFolder(at, folder, link, st)) return false;
  if (!z_unzip(nullptr, nullptr, decodeMacBinary, true, mbHdr)) return false;
  if (folder) return true;
  int error = 0;
  bool made = false;
  folder = PlaceFolder(at, link, st, error, made);
  if (!folder) return Fail(PlaceMessage(error));
  if (made) z_removeStraySidecar(at);
  return true;
}

// The folder found at a folder member's place `at`, as `st` describes it,
// opened never through a link; or a link put there since, taken as one found
// there (`link`; `st` then describes it). False, the member failed, when
// neither can be taken.
bool ZipEntry::z_foundFolder(const ItemAt& at, OpenFolderRef& folder, bool& link,
                             platform::Looked& st) {
  folder = platform::OpenOrMakeFolder(at.folder, at.name, false);
  const int error = folder ? 0 : errno;
  link = LinkRacedIn(at, error, st);
  if (!folder) return link || Fail(PlaceMessage(error));
  if (!platform::LookThrough(folder->fd(), st)) return Fail(WithReason(kFolderCreation, errno));
  return (st.st_mode & S_IWUSR) != 0 || Fail(kWriteProtected);
}

// A folder made here takes no metadata from a sidecar that stood at its
// sidecar's name before it (the removed link's, or one alone): an
// AppleDouble file there that this extraction did not write goes, but only
// while it is the item looked at.
void ZipEntry::z_removeStraySidecar(const ItemAt& folder) {
  const ItemAt sidecar = platform::SidecarAt(folder);
  platform::Looked looked{}, now{};
  if (!sidecar.Lstat(looked) || !platform::IsAppleDoubleFile(sidecar.name, sidecar.folder) ||
      d->WasExtracted(sidecar)) {
    return;
  }
  if (sidecar.Lstat(now) && platform::ItemId::Of(now) == platform::ItemId::Of(looked)) {
    ::unlinkat(sidecar.folder, sidecar.name.c_str(), 0);
  }
}

// The permissions a member's file is made with: never more than those it
// ends up with, so that no one can open it meanwhile whom its own mode would
// keep out. `old` is the regular file it replaces, if any.
mode_t ZipEntry::z_creationMode(bool executable, const platform::Looked* old) const {
  const std::int32_t attributes = ExternalFileAttributes();
  const std::int32_t host = OSMadeBy();
  const mode_t kept = old ? old->st_mode & 0777 : 0666;
  if (attributes < 0 && (host == 0 || host == 3 || host == 7)) {
    return FilePermissions(ZipArchiveData::shiftRight16(attributes)).value_or(kept);
  }
  return executable && !IsTextFile() ? kept | kExecuteBits : kept;
}

bool ZipEntry::z_extractFile(const FolderItem& dest, bool decodeMacBinary, bool executable,
                             MemoryBlockRef& mbHdr, std::unique_ptr<StagedFile>& staged) {
  // Most members are new: their file is made in place at once, and only
  // where something stands is it looked at.
  staged = StagedFile::InPlace(dest, z_creationMode(executable, nullptr));
  bool alias = false;
  if (!staged) {
    platform::Looked st{};
    const bool there = dest.At().Lstat(st);
    if (!there && errno != ENOENT) return Fail(WithReason(kCreateFailed, errno));
    alias = there && S_ISLNK(st.st_mode);
    if (there && S_ISDIR(st.st_mode)) return Fail(kFileOverFolder);
    if (there && !alias && (st.st_mode & S_IWUSR) == 0) return Fail(kWriteProtected);
    const bool file = there && S_ISREG(st.st_mode);
    staged = StagedFile::Create(dest, there ? &st : nullptr,
                                z_creationMode(executable, file ? &st : nullptr));
    if (!staged) return Fail(WithReason(kCreateFailed, errno));
  }
  bool decoded = false, fork = false;
  {
    FileWriter data(staged->Item(),
                    platform::BinaryStream::OnDescriptor(staged->Descriptor(), true));
    std::unique_ptr<RsrcForkWriter> rsrc;
    if (decodeMacBinary) {
      rsrc = std::make_unique<RsrcForkWriter>(staged->Item(), staged->SidecarWritten());
    }
    decoded = z_unzip(&data, rsrc.get(), decodeMacBinary, false, mbHdr);
    fork = rsrc && rsrc->Written() > 0;
    if (!decoded && rsrc && rsrc->SystemError() != 0) {
      errmsg = ForkMessage(errmsg, rsrc->SystemError());
    }
  }
  if (!decoded) return false;
  // A resource fork that cannot be put beside the destination is not
  // silently dropped; what stood at the destination then stays as it was.
  if (const int blocked = staged->SidecarBlocked(fork))
    return Fail(ForkMessage(kOpenRsrc, blocked));
  if (!staged->Commit(fork, d->WasExtracted(platform::SidecarAt(dest.At())))) {
    const int why = errno;
    if (staged->ForkFailed()) return Fail(ForkMessage(kOpenRsrc, why));
    return Fail(alias ? std::string(kAliasStays) : WithReason(kCreateFailed, why));
  }
  d->NoteExtracted(dest.At(), staged->Descriptor());
  return true;
}

// Dates, type and creator, name and permissions, the item's own through
// `fd` (the file just written, or the folder made or checked), whatever has
// been put at its name since; what lives in its sidecar by name, where the
// sidecar is only ever replaced, never written through. What cannot be
// applied is not reported: the member's data is in place.
// `staged` is the extracted file, committed; none for a folder.
void ZipEntry::z_applyMetadata(FolderItem& dest, int fd, const StagedFile* staged,
                               const MemoryBlockRef& mbHdr, bool executable) {
  platform::Looked st{};
  // Whether the item has a sidecar: the commit knows it for a file.
  const bool sidecar = staged ? staged->SidecarBeside()
                              : platform::SidecarAt(dest.At()).Lstat(st) || errno != ENOENT;
  // The modification date first: a creation date equal to it needs no
  // sidecar.
  if (const std::optional<platform::Date> t = Time(); t && (!z_setDates(fd, *t) || sidecar)) {
    dest.SetCreationDate(*t);
  }
  std::string type, creator;
  platform::Text name;
  const bool folder = staged == nullptr;
  if (mbHdr) {
    ApplyMacBinaryInformation(dest, mbHdr, fd);
  } else if (extra->GetTypeCreatorName(type, creator, name)) {
    if (!folder) SetTypeAndCreator(dest, type, creator);
    if (!name.bytes.empty()) z_adjustMacFilename(name.bytes, 0, dest);
  } else if (z_icMapFilename(dest.Name(), type, creator) && !folder) {
    SetTypeAndCreator(dest, type, creator);
  }
  z_applyPermissions(fd, executable);
}

// The date in the item's own record alone, through its descriptor: for an
// item without a sidecar, its creation date is then its modification date
// too. False when the date could not be set.
bool ZipEntry::z_setDates(int fd, const platform::Date& date) {
  const auto seconds = static_cast<time_t>(
      platform::MacToUnixSeconds(date.TotalSeconds(), platform::UTCOffsetInMinutes()));
  const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  return platform::SetTimesThrough(fd, times);
}

// The member's Unix mode where its host keeps one there, else execute
// permission for a file that may be a program; only ever onto a regular
// file, through its descriptor, and only when its mode is not that already.
void ZipEntry::z_applyPermissions(int fd, bool executable) {
  const std::int32_t attributes = ExternalFileAttributes();
  const std::int32_t host = OSMadeBy();
  const bool unixMode = attributes < 0 && (host == 0 || host == 3 || host == 7);
  if (!unixMode && !(executable && !isFolder && !IsTextFile())) return;
  platform::Looked st{};
  if (!platform::LookThrough(fd, st) || !S_ISREG(st.st_mode)) return;
  const std::optional<mode_t> wanted =
      unixMode ? FilePermissions(ZipArchiveData::shiftRight16(attributes))
               : std::optional<mode_t>((st.st_mode | kExecuteBits) & 07777);
  if (wanted && (st.st_mode & 07777) != *wanted) platform::ChangeModeThrough(fd, *wanted);
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
  platform::Looked st{};
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
