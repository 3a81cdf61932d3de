#include "types/calendar.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>

namespace orv {

namespace {

// The number of the `width` digits at `text`; -1 where one isn't a digit.
int DigitsAt(const char* text, int width) {
  int value = 0;
  for (int k = 0; k < width; ++k) {
    const unsigned digit = static_cast<unsigned char>(text[k]) - unsigned{'0'};
    if (digit > 9) {
      return -1;
    }
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

// The parts of an ISO day ("2024-02-29") or time ("2024-02-29 23:59:59") that `text` is exactly,
// each field within what strptime takes for it; false for any other text, which strptime reads.
bool MatchIso(std::string_view text, bool withTime, tm& parts) {
  const char* t = text.data();
  if (text.size() != (withTime ? 19u : 10u) || t[4] != '-' || t[7] != '-' ||
      (withTime && (t[10] != ' ' || t[13] != ':' || t[16] != ':'))) {
    return false;
  }
  const int year = DigitsAt(t, 4);
  const int month = DigitsAt(t + 5, 2);
  const int day = DigitsAt(t + 8, 2);
  const int hour = withTime ? DigitsAt(t + 11, 2) : 0;
  const int minute = withTime ? DigitsAt(t + 14, 2) : 0;
  const int second = withTime ? DigitsAt(t + 17, 2) : 0;
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return true;
}

// Whether `format` is `form`: compared a byte at a time up to the first difference, as a format
// is checked for each value read or printed.
bool IsFormat(const char* format, std::string_view form) {
  for (const char c : form) {
    if (*format++ != c) {
      return false;
    }
  }
  return *format == '\0';
}
bool IsIsoDate(const char* format) {
  return IsFormat(format, "%Y-%m-%d");
}
bool IsIsoDateTime(const char* format) {
  return IsFormat(format, "%Y-%m-%d %H:%M:%S");
}

// Whether `format` matches the whole of `text`; a text with a 0x00 inside ends early. The ISO
// forms of exactly their length are read without strptime, as strptime reads them.
bool MatchWhole(std::string_view text, const char* format, tm& parts) {
  if ((text.size() == 10 && IsIsoDate(format) && MatchIso(text, false, parts)) ||
      (text.size() == 19 && IsIsoDateTime(format) && MatchIso(text, true, parts))) {
    return true;
  }
  return strptime(text.data(), format, &parts) == text.data() + text.size();
}

}  // namespace

std::optional<date> ParseDateText(std::string_view text, const char* format) {
  tm parts{};
  parts.tm_mday = 1;  // a format without a day means the first of the month
  if (!MatchWhole(text, format, parts)) {
    return std::nullopt;
  }
  int64_t year = int64_t{parts.tm_year} + 1900;
  if (year < 0 || year > 0xFFFF || parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 ||
      static_cast<unsigned>(parts.tm_mday) > DaysInMonth(year, parts.tm_mon + 1)) {
    return std::nullopt;  // 2021-02-30 is no day, not 2021-03-02
  }
  return date(static_cast<unsigned>(year), static_cast<unsigned>(parts.tm_mon + 1),
              static_cast<unsigned>(parts.tm_mday));
}

std::optional<int64_t> ParseDateTimeText(std::string_view text, const char* format) {
  tm parts{};
  if (!MatchWhole(text, format, parts)) {
    return std::nullopt;
  }
  // A format without a day leaves day 0, the last day of the month before, as it has always been
  // read. A day past its month's end and a leap second (strptime takes :60 and :61) are refused
  // rather than carried into the next month or minute.
  const int64_t year = int64_t{parts.tm_year} + 1900;
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 0 ||
      (parts.tm_mday > 0 &&
       static_cast<unsigned>(parts.tm_mday) > DaysInMonth(year, parts.tm_mon + 1)) ||
      parts.tm_hour < 0 || parts.tm_hour > 23 || parts.tm_min < 0 || parts.tm_min > 59 ||
      parts.tm_sec < 0 || parts.tm_sec > 59) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(parts.tm_mon + 1), parts.tm_mday);
  const int64_t seconds =
      days * 86400 + int64_t{parts.tm_hour} * 3600 + int64_t{parts.tm_min} * 60 + parts.tm_sec;
  if (!datetime::InRange(seconds)) {
    return std::nullopt;
  }
  return seconds;
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

// The ISO forms "%Y-%m-%d" and "%Y-%m-%d %H:%M:%S" are written without strftime for years 0 to
// 9999 (other years take the general path).

// strftime writes the %Y of a year below 1000 with fewer than four digits: for those years, the
// format with each %Y replaced by the year's four digits (which need no escaping), in `copy`.
const char* FourDigitYears(const char* format, int64_t year, std::string& copy) {
  if (year < 0 || year > 999 || strstr(format, "%Y") == nullptr) {
    return format;
  }
  char digits[4];
  Digits(digits, static_cast<unsigned>(year), 4);
  for (const char* p = format; *p != 0; ++p) {
    if (p[0] == '%' && p[1] == 'Y') {
      copy.append(digits, sizeof digits);
      ++p;
    } else {
      copy.push_back(p[0]);
      if (p[0] == '%' && p[1] != 0) {
        copy.push_back(*++p);  // the conversion's letter, or the second % of %%
      }
    }
  }
  return copy.c_str();
}

}  // namespace

char* IsoDate(char* out, unsigned year, unsigned month, unsigned day) {
  out = Digits(out, year, 4);
  *out++ = '-';
  out = Digits(out, month, 2);
  *out++ = '-';
  return Digits(out, day, 2);
}

char* IsoDateTime(char* out, const CivilDate& day, int64_t secondOfDay) {
  out = IsoDate(out, static_cast<unsigned>(day.year), day.month, day.day);
  *out++ = ' ';
  out = Digits(out, static_cast<unsigned>(secondOfDay / 3600), 2);
  *out++ = ':';
  out = Digits(out, static_cast<unsigned>(secondOfDay / 60 % 60), 2);
  *out++ = ':';
  return Digits(out, static_cast<unsigned>(secondOfDay % 60), 2);
}

size_t FormatDateText(date value, const char* format, char* out) {
  if (value.year() <= 9999 && value.month() <= 99 && value.day() <= 99 && IsIsoDate(format)) {
    return static_cast<size_t>(IsoDate(out, value.year(), value.month(), value.day()) - out);
  }
  tm parts{};
  parts.tm_year = static_cast<int>(value.year()) - 1900;
  parts.tm_mon = static_cast<int>(value.month()) - 1;
  parts.tm_mday = static_cast<int>(value.day());
  const int64_t days = value.EpochDays();
  parts.tm_wday =
      static_cast<int>(((days % 7) + 11) % 7);  // for %A and %a: 1970-01-01 was a Thursday
  parts.tm_yday = static_cast<int>(days - DaysFromCivil(value.year(), 1, 1));
  std::string copy;
  return strftime(out, kTimeTextCapacity, FourDigitYears(format, value.year(), copy), &parts);
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
  if (civil.year >= 0 && civil.year <= 9999 && IsIsoDateTime(format)) {
    return static_cast<size_t>(IsoDateTime(out, civil, secondOfDay) - out);
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
  std::string copy;
  return strftime(out, kTimeTextCapacity, FourDigitYears(format, civil.year, copy), &parts);
}

}  // namespace orv
