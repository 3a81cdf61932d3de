#include "types/calendar.h"

#include <charconv>
#include <climits>
#include <ctime>

namespace orv {

std::optional<date> ParseDateText(const char* text, const char* format) {
  tm parts{};
  parts.tm_mday = 1;  // a format without a day means the first of the month
  if (strptime(text, format, &parts) == nullptr) {
    return std::nullopt;
  }
  int64_t year = int64_t{parts.tm_year} + 1900;
  if (year < 0 || year > 0xFFFF || parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 ||
      parts.tm_mday > 31) {
    return std::nullopt;
  }
  return date(static_cast<unsigned>(year), static_cast<unsigned>(parts.tm_mon + 1),
              static_cast<unsigned>(parts.tm_mday));
}

std::optional<int64_t> ParseDateTimeText(const char* text, const char* format) {
  tm parts{};
  if (strptime(text, format, &parts) == nullptr) {
    return std::nullopt;
  }
  // As timegm would, but without its -1 failure value: months and days out of range count on.
  int64_t month = parts.tm_mon;
  int64_t year = int64_t{parts.tm_year} + 1900 + (month >= 0 ? month / 12 : (month - 11) / 12);
  month = ((month % 12) + 12) % 12;
  int64_t days = DaysFromCivil(year, static_cast<unsigned>(month + 1), parts.tm_mday);
  return days * 86400 + int64_t{parts.tm_hour} * 3600 + int64_t{parts.tm_min} * 60 + parts.tm_sec;
}

size_t FormatDateText(date value, const char* format, char* out) {
  tm parts{};
  parts.tm_year = static_cast<int>(value.year()) - 1900;
  parts.tm_mon = static_cast<int>(value.month()) - 1;
  parts.tm_mday = static_cast<int>(value.day());
  return strftime(out, kTimeTextCapacity, format, &parts);
}

size_t FormatDateTimeText(int64_t seconds, const char* format, char* out) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  // A year beyond what the calendar record holds cannot be formatted: write the raw seconds
  // instead of a wrong date.
  constexpr int64_t kDayLimit = int64_t{INT_MAX} * 365;
  if (days > kDayLimit || days < -kDayLimit) {
    return static_cast<size_t>(std::to_chars(out, out + kTimeTextCapacity, seconds).ptr - out);
  }
  CivilDate civil = CivilFromDays(days);
  if (civil.year - 1900 > INT_MAX || civil.year - 1900 < INT_MIN) {
    return static_cast<size_t>(std::to_chars(out, out + kTimeTextCapacity, seconds).ptr - out);
  }
  tm parts{};
  parts.tm_year = static_cast<int>(civil.year - 1900);
  parts.tm_mon = static_cast<int>(civil.month) - 1;
  parts.tm_mday = static_cast<int>(civil.day);
  parts.tm_hour = static_cast<int>(secondOfDay / 3600);
  parts.tm_min = static_cast<int>(secondOfDay / 60 % 60);
  parts.tm_sec = static_cast<int>(secondOfDay % 60);
  parts.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  parts.tm_yday = static_cast<int>(days - DaysFromCivil(civil.year, 1, 1));
  return strftime(out, kTimeTextCapacity, format, &parts);
}

}  // namespace orv
