#pragma once
// Dates as the framework keeps them: fields in local time, and TotalSeconds
// counting seconds since 1904-01-01 00:00 on the same local scale (the Mac
// date scale). Also the DOS date and time of zip records and the conversion
// of Unix times to Mac dates.
#include <cstdint>
#include <optional>

namespace platform {

struct Date {
  int Year = 1904, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;

  // A date from fields that may be out of range; they carry over the way
  // the framework's date does (month 13 is January of the next year, day 0
  // the last day of the month before, second 62 two seconds into the next
  // minute).
  static Date FromFields(int year, int month, int day, int hour, int minute, int second);
  static Date FromTotalSeconds(std::int64_t seconds);
  std::int64_t TotalSeconds() const;

  bool operator==(const Date&) const = default;
};

// Seconds between the Unix epoch and the Mac epoch (1904-01-01).
inline constexpr std::int64_t kMacEpochToUnixEpoch = 2082844800;

// The current offset of local time from UTC in minutes, daylight saving
// included, truncated toward zero (UTC+1 gives 60, UTC-3:30 gives -210).
int UTCOffsetInMinutes();

// A Unix time (seconds, UTC) as a Mac date on the local scale.
inline std::int64_t UnixToMacSeconds(std::int64_t unixSeconds, int utcOffsetMinutes) {
  return unixSeconds + kMacEpochToUnixEpoch + 60 * static_cast<std::int64_t>(utcOffsetMinutes);
}

// A Mac date on the local scale as a Unix time (seconds, UTC).
inline std::int64_t MacToUnixSeconds(std::int64_t macSeconds, int utcOffsetMinutes) {
  return macSeconds - kMacEpochToUnixEpoch - 60 * static_cast<std::int64_t>(utcOffsetMinutes);
}

// The date of a zip record's DOS time and date fields; none when both are 0.
// Fields are handed on unchecked and carry over as FromFields does.
std::optional<Date> DosDateTimeToDate(std::uint16_t dosTime, std::uint16_t dosDate);

// A date as DOS time and date: seconds rounded down to even, years before
// 1980 stored as 1980 and years after 2107 as 2107.
void DateToDosDateTime(const Date& date, std::uint16_t& dosTime, std::uint16_t& dosDate);

}  // namespace platform
