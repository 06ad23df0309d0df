#pragma once
// The messages of the archive's writing side that more than one operation
// gives.
namespace zip::messages {

inline constexpr char kReadOnly[] = "Archive was opened read-only";
inline constexpr char kEmptyName[] = "Name must not be empty";
inline constexpr char kNameTooLong[] = "Name must not be longer than 65535 bytes";
inline constexpr char kExtraTooLong[] = "Extra field must not be longer than 65535 bytes";
inline constexpr char kCommentTooLong[] = "Comment must not be longer than 65535 bytes";
inline constexpr char kTooManyEntries[] = "Archive must not hold more than 65535 entries";
inline constexpr char kItemTooLarge[] = "Item exceeds archive limit of 2GB";
inline constexpr char kArchiveTooLarge[] = "Archive would exceed the Zip size limit of 4GB";
inline constexpr char kReadError[] = "Read error, the archived item may be corrupted";
inline constexpr char kWriteError[] = "Write error, the archived item may be corrupted";
inline constexpr char kNoEntry[] = "no entry reference given";
inline constexpr char kDataNotOpened[] = "Opening the source data stream failed";

}  // namespace zip::messages
