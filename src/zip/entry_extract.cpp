// Putting one member onto disk below a root folder: its place, the folders
// on the way, the file or folder itself, and its dates, Mac metadata and
// permissions. No member is ever written, created or renamed outside the
// root, and a file being replaced stays as it was until the new one has been
// decoded whole.
#include <sys/stat.h>

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
using platform::MemoryBlockRef;

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
constexpr std::int32_t kExecuteBits = 0511;

bool Within(const fs::path& root, const fs::path& p) {
  const fs::path rel = p.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

// Where an item really is: every link on the way resolved, and the item's
// own name too unless `resolveLast` is false (a link there is then the item).
std::optional<fs::path> RealPath(const FolderItem& item, bool resolveLast) {
  std::error_code ec;
  if (resolveLast || !item.Path().has_filename()) {
    fs::path p = fs::weakly_canonical(item.Path(), ec);
    return ec ? std::nullopt : std::optional(p);
  }
  fs::path parent = fs::weakly_canonical(item.Path().parent_path(), ec);
  return ec ? std::nullopt : std::optional(parent / item.Path().filename());
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

std::optional<FolderItem> ZipEntry::MakeDestination(const FolderItem& root, bool followAliases) {
  std::error_code ec;
  // Absolute first: a root not there yet would otherwise stay relative
  // while the items below it, once it is made, come out absolute.
  fs::path rootReal = fs::weakly_canonical(fs::absolute(root.Path(), ec), ec);
  if (ec || rootReal.empty()) return std::nullopt;
  if (!rootReal.has_filename() && rootReal.has_relative_path()) rootReal = rootReal.parent_path();
  destinationRoot = rootReal;
  std::optional<FolderItem> current = FolderItem(rootReal);
  for (std::size_t i = 0; i < path.size(); ++i) {
    current = MakeDestinationChild(*current, path[i], followAliases);
    if (!current) return std::nullopt;
    // A ".." above the root, or a link already on disk that leads out of
    // it, gives no destination.
    const bool last = i + 1 == path.size();
    const std::optional<fs::path> real = RealPath(*current, !last || followAliases);
    if (!real || !Within(rootReal, *real)) return std::nullopt;
    current = FolderItem(*real);
  }
  return current;
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

bool ZipEntry::z_extract(std::optional<FolderItem>& destination, bool decodeMacBinary,
                         bool executable) {
  if (!destination) return Fail(kNoDestination);
  FolderItem& dest = *destination;
  MemoryBlockRef mbHdr;
  const bool written = isFolder ? z_extractFolder(dest, decodeMacBinary, mbHdr)
                                : z_extractFile(dest, decodeMacBinary, mbHdr);
  if (!written) return false;
  if (dest.Path() == destinationRoot) {
    // A member naming the root itself: its creation date and Mac metadata
    // would go into the sidecar beside it, outside the root.
    if (const std::optional<platform::Date> t = Time()) dest.SetModificationDate(*t);
    return true;
  }
  z_applyMetadata(dest, mbHdr, executable);
  return true;
}

// A link at the destination is an alias file, whatever it points at: it is
// removed, and the member is written in its place, never where it pointed.
bool ZipEntry::z_removeAlias(FolderItem& dest) {
  if (!dest.Alias()) return true;
  dest.Delete();
  return !dest.Alias() || Fail(kAliasStays);
}

bool ZipEntry::z_extractFolder(FolderItem& dest, bool decodeMacBinary, MemoryBlockRef& mbHdr) {
  if (!z_removeAlias(dest)) return false;
  bool created = false;
  if (!dest.Exists()) created = dest.CreateAsFolder();
  if (!dest.Exists()) return Fail(kFolderCreation);
  if (!dest.Directory()) return Fail(kFolderOverFile);
  if (dest.Locked()) return Fail(kWriteProtected);
  if (!z_unzip(nullptr, nullptr, decodeMacBinary, true, mbHdr)) {
    // A folder that was there before stays, with whatever it holds.
    if (created) dest.Delete();
    return false;
  }
  return true;
}

bool ZipEntry::z_extractFile(FolderItem& dest, bool decodeMacBinary, MemoryBlockRef& mbHdr) {
  if (!z_removeAlias(dest)) return false;
  if (dest.Directory()) return Fail(kFileOverFolder);
  if (dest.Exists() && dest.Locked()) return Fail(kWriteProtected);
  // Whatever ends this early, an exception included, removes the staged file.
  const std::unique_ptr<StagedFile> staged = StagedFile::Create(dest);
  if (!staged) return Fail(kCreateFailed);
  bool decoded = false;
  {
    FileWriter data(staged->Item());
    std::unique_ptr<RsrcForkWriter> rsrc;
    if (decodeMacBinary) rsrc = std::make_unique<RsrcForkWriter>(staged->Item());
    decoded = z_unzip(&data, rsrc.get(), decodeMacBinary, false, mbHdr);
  }
  if (!decoded) return false;
  // A resource fork that cannot be put beside the destination is not
  // silently dropped; the old file then stays as it was.
  if (staged->SidecarBlocked()) return Fail(kOpenRsrc);
  if (!staged->Commit(d->WasExtracted(platform::AppleDoubleSidecar(dest.Path())))) {
    return Fail(kCreateFailed);
  }
  d->NoteExtracted(dest.Path());
  return true;
}

// Dates, type and creator, name and permissions. What cannot be applied is
// not reported: the member's data is in place.
void ZipEntry::z_applyMetadata(FolderItem& dest, const MemoryBlockRef& mbHdr, bool executable) {
  if (const std::optional<platform::Date> t = Time()) {
    // The modification date first: a creation date equal to it needs no sidecar.
    dest.SetModificationDate(*t);
    dest.SetCreationDate(*t);
  }
  std::string type, creator;
  platform::Text name;
  if (mbHdr) {
    ApplyMacBinaryInformation(dest, mbHdr);
  } else if (extra->GetTypeCreatorName(type, creator, name)) {
    SetTypeAndCreator(dest, type, creator);
    if (!name.bytes.empty()) z_adjustMacFilename(name.bytes, 0, dest);
  } else if (z_icMapFilename(dest.Name(), type, creator)) {
    SetTypeAndCreator(dest, type, creator);
  }
  const std::int32_t attributes = ExternalFileAttributes();
  const std::int32_t host = OSMadeBy();
  if (attributes < 0 && (host == 0 || host == 3 || host == 7)) {
    ApplyUnixPermissions(dest, attributes);
  } else if (executable && !isFolder && !IsTextFile()) {
    if (const std::optional<FSRef> ref = d->makeFSRef(dest)) {
      d->updateUnixPermissions(*ref, 0xFFFF, kExecuteBits);
    }
  }
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& destination) {
  const std::int32_t attributes = ExternalFileAttributes();
  return attributes < 0 && ApplyUnixPermissions(destination, attributes);
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& destination, std::int32_t attributes) {
  const std::optional<FSRef> ref = d->makeFSRef(destination);
  if (!ref) return false;
  const std::int32_t mode = ZipArchiveData::shiftRight16(attributes);
  // Only the permission bits of a regular file's mode are taken, and only
  // onto a regular file: no setuid, setgid or sticky bit from an archive.
  struct stat st {};
  if ((mode & S_IFMT) != S_IFREG || ::lstat(ref->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  return d->updateUnixPermissions(*ref, 0, mode & 0777) == 0;
}

// There is no desktop database of file types here to map a name with; a
// guess from the name's extension would give every extracted file a
// sidecar, so extracted files keep the type they were created with.
bool ZipEntry::z_icMapFilename(std::string_view, std::string&, std::string&) {
  return false;
}

}  // namespace zip
