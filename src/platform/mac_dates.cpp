#include "platform/mac_dates.h"

#include <algorithm>
#include <ctime>

namespace platform {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days from 1970-01-01 to a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = FloorDiv(y, 400);
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  std::int64_t era = FloorDiv(z, 146097);
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const std::int64_t kDaysTo1904 = DaysFromCivil(1904, 1, 1);

}  // namespace

Date Date::FromFields(int year, int month, int day, int hour, int minute, int second) {
  std::int64_t m0 = static_cast<std::int64_t>(month) - 1;
  std::int64_t y = year + FloorDiv(m0, 12);
  int m = static_cast<int>(m0 - FloorDiv(m0, 12) * 12) + 1;
  std::int64_t days = DaysFromCivil(y, m, 1) + (day - 1) - kDaysTo1904;
  std::int64_t seconds = days * 86400 + static_cast<std::int64_t>(hour) * 3600 +
                         static_cast<std::int64_t>(minute) * 60 + second;
  return FromTotalSeconds(seconds);
}

Date Date::FromTotalSeconds(std::int64_t seconds) {
  Date d;
  std::int64_t days = FloorDiv(seconds, 86400);
  std::int64_t rest = seconds - days * 86400;
  CivilFromDays(days + kDaysTo1904, d.Year, d.Month, d.Day);
  d.Hour = static_cast<int>(rest / 3600);
  d.Minute = static_cast<int>(rest / 60 % 60);
  d.Second = static_cast<int>(rest % 60);
  return d;
}

std::int64_t Date::TotalSeconds() const {
  std::int64_t days = DaysFromCivil(Year, Month, Day) - kDaysTo1904;
  return days * 86400 + Hour * 3600 + Minute * 60 + Second;
}

int UTCOffsetInMinutes() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(local.tm_gmtoff / 60);
}

std::optional<Date> DosDateTimeToDate(std::uint16_t dosTime, std::uint16_t dosDate) {
  if (dosTime == 0 && dosDate == 0) return std::nullopt;
  return Date::FromFields((dosDate & 0xFE00) / 512 + 1980, (dosDate & 0x1E0) / 32, dosDate & 0x1F,
                          (dosTime & 0xF800) / 2048, (dosTime & 0x7E0) / 32, (dosTime & 0x1F) * 2);
}

void DateToDosDateTime(const Date& date, std::uint16_t& dosTime, std::uint16_t& dosDate) {
  dosTime = static_cast<std::uint16_t>(date.Hour * 2048 + date.Minute * 32 + date.Second / 2);
  // Seven bits hold the years 1980 to 2107; a later year must not wrap round
  // into an early one.
  const int years = std::clamp(date.Year - 1980, 0, 127);
  dosDate = static_cast<std::uint16_t>(date.Day + date.Month * 32 + years * 512);
}

}  // namespace platform
