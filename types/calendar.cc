#include "types/calendar.h"

#include <charconv>
#include <climits>
#include <cstring>
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

namespace {

// Writes `value` as `width` digits with leading zeros.
char* Digits(char* out, unsigned value, int width) {
  for (int k = width - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// The ISO forms "%Y-%m-%d" and "%Y-%m-%d %H:%M:%S" without strftime, for years 1000 to 9999 (other
// years take the general path, where %Y has no fixed width).
bool IsIsoDate(const char* format) {
  return strcmp(format, "%Y-%m-%d") == 0;
}
bool IsIsoDateTime(const char* format) {
  return strcmp(format, "%Y-%m-%d %H:%M:%S") == 0;
}

char* IsoDate(char* out, unsigned year, unsigned month, unsigned day) {
  out = Digits(out, year, 4);
  *out++ = '-';
  out = Digits(out, month, 2);
  *out++ = '-';
  return Digits(out, day, 2);
}

}  // namespace

size_t FormatDateText(date value, const char* format, char* out) {
  if (value.year() >= 1000 && value.year() <= 9999 && value.month() <= 99 && value.day() <= 99 &&
      IsIsoDate(format)) {
    return static_cast<size_t>(IsoDate(out, value.year(), value.month(), value.day()) - out);
  }
  tm parts{};
  parts.tm_year = static_cast<int>(value.year()) - 1900;
  parts.tm_mon = static_cast<int>(value.month()) - 1;
  parts.tm_mday = static_cast<int>(value.day());
  return strftime(out, kTimeTextCapacity, format, &parts);
}

size_t FormatDateTimeText(int64_t seconds, const char* format, char* out) {
  // Floor division, without negating (the most negative count has no positive twin).
  int64_t days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
  int64_t secondOfDay = seconds % 86400 + (seconds % 86400 < 0 ? 86400 : 0);
  // A year beyond what the calendar record holds cannot be formatted: write the raw seconds
  // instead of a wrong date.
  constexpr int64_t kDayLimit = int64_t{INT_MAX} * 365;
  if (days > kDayLimit || days < -kDayLimit) {
    return static_cast<size_t>(std::to_chars(out, out + kTimeTextCapacity, seconds).ptr - out);
  }
  CivilDate civil = CivilFromDays(days);
  if (civil.year >= 1000 && civil.year <= 9999 && IsIsoDateTime(format)) {
    char* end = IsoDate(out, static_cast<unsigned>(civil.year), civil.month, civil.day);
    *end++ = ' ';
    end = Digits(end, static_cast<unsigned>(secondOfDay / 3600), 2);
    *end++ = ':';
    end = Digits(end, static_cast<unsigned>(secondOfDay / 60 % 60), 2);
    *end++ = ':';
    end = Digits(end, static_cast<unsigned>(secondOfDay % 60), 2);
    return static_cast<size_t>(end - out);
  }
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
