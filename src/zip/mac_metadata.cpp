// Giving an extracted item the Mac metadata of a MacBinary header (or of
// the header built from an AppleDouble companion), and its Mac name.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/apple_double.h"
#include "platform/text_encoding.h"
#include "zip/zip_archive_data.h"
#include "zip/zip_entry.h"
#include "zip/zip_records.h"

namespace zip {

namespace mb = records::macbinary;
namespace fi = platform::finder_info;

namespace {

constexpr char kMacNameNotGiven[] = "The extracted item could not be given its Mac name";

}  // namespace

const platform::TextEncoding* ZipEntry::ScriptEncoding(std::int32_t script) {
  if ((script & 0x80) == 0) return &platform::TextEncoding::MacRoman();
  return platform::GetTextEncoding(script & 0x7F, 0, 0);
}

void ZipEntry::ApplyMacBinaryInformation(platform::FolderItem& destination,
                                         const platform::MemoryBlockRef& mbHdr, int file) {
  platform::Looked st{};
  if (!mbHdr || mbHdr->Size() < mb::kSize) return;
  if (file >= 0 ? !platform::LookThrough(file, st) : !destination.At().Stat(st)) return;
  platform::MemoryBlock h = *mbHdr;
  h.LittleEndian = false;
  auto date = [&](std::size_t at) {
    return platform::Date::FromTotalSeconds(
        static_cast<std::int64_t>(z_ulongToDouble(h.Int32Value(at))));
  };
  // The modification date first: a creation date equal to it needs no
  // record of its own, and one set before it could be taken for it.
  if (file >= 0) {
    z_setDates(file, date(mb::kModified));
  } else {
    destination.SetModificationDate(date(mb::kModified));
  }
  destination.SetCreationDate(date(mb::kCreated));

  const std::size_t nameLength = std::min<std::size_t>(h.UInt8Value(mb::kNameLength), mb::kMaxName);
  z_adjustMacFilename(h.StringValue(mb::kName, nameLength), h.UInt8Value(mb::kScript), destination);

  const bool folder = S_ISDIR(st.st_mode);
  std::string info = destination.FinderInfo();
  if (!folder) {
    info.replace(fi::kType, 4, h.StringValue(mb::kType, 4));
    info.replace(fi::kCreator, 4, h.StringValue(mb::kCreator, 4));
  }
  info[fi::kFlags] = static_cast<char>(h.UInt8Value(mb::kFinderFlagsHigh) & 0xEE);
  info[fi::kFlags + 1] = static_cast<char>(h.UInt8Value(mb::kFinderFlagsLow));
  info[fi::kScript] = static_cast<char>(h.UInt8Value(mb::kScript));
  info[fi::kExtendedFlags] = static_cast<char>(h.UInt8Value(mb::kExtendedFlags));
  destination.SetFinderInfo(info);

  // Last: a locked item takes no further change.
  if (lockFiles && h.UInt8Value(mb::kProtected) != 0 && !folder) {
    if (file < 0) {
      destination.SetLocked(true);
    } else if (S_ISREG(st.st_mode)) {
      platform::ChangeModeThrough(file, st.st_mode & 07555);
    }
  }
}

void ZipEntry::z_adjustMacFilename(std::string_view macName, std::int32_t script,
                                   platform::FolderItem& destination) {
  const platform::TextEncoding* encoding = ScriptEncoding(script);
  if (!encoding) return;
  // Names on this system are UTF-8, so the Mac name is compared and used as that.
  const std::string name =
      platform::ConvertEncoding(macName, *encoding, platform::TextEncoding::UTF8());
  const std::string current = destination.Name();
  if (name.empty() || name == current) return;
  if (current != d->cleanName(name) || path.empty() || current != path.back()) return;
  // A name that is no valid file name here is refused. One the file system
  // cannot give without risk of replacing another item is left untaken,
  // and the entry says so.
  if (!destination.SetName(name) && platform::FolderItem::IsValidName(name) && errno != EEXIST &&
      errno != ENOTEMPTY) {
    errmsg = std::string(kMacNameNotGiven) + ": " + std::generic_category().message(errno);
  }
}

}  // namespace zip
