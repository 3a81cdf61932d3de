// Value classes of the record types and the calendar arithmetic they rest on. All calendar work is
// proleptic Gregorian in UTC; nothing here consults the C library's time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <tuple>

namespace orv {

// decimalPow10[i] = 10^i for i = 0..38.
extern const __int128 decimalPow10[39];

// Days since 1970-01-01 of a civil date (month 1..12; a day outside 1..31 is counted on).
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Days in a month (1..12) of a proleptic Gregorian year.
constexpr unsigned DaysInMonth(int64_t year, unsigned month) {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kDays[month - 1];
}

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

constexpr CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (month <= 2), month, day};
}

// Packed date: year in bits 16..31, month in bits 8..15, day in bits 0..7.
class date {
 public:
  date() = default;
  date(unsigned year, unsigned month, unsigned day)
      : packed_((year << 16) | ((month & 0xFFu) << 8) | (day & 0xFFu)) {}
  static date FromPacked(uint32_t packed) {
    date d;
    d.packed_ = packed;
    return d;
  }
  // The date `days` days after 1970-01-01; empty when its year does not fit 16 bits.
  static std::optional<date> FromEpochDays(int64_t days);

  uint32_t packed() const { return packed_; }
  unsigned year() const { return packed_ >> 16; }
  unsigned month() const { return (packed_ >> 8) & 0xFFu; }
  unsigned day() const { return packed_ & 0xFFu; }
  std::tuple<unsigned, unsigned, unsigned> tuple() const { return {year(), month(), day()}; }
  // A day of the calendar: month 1 to 12, a day of that month (every 16-bit year is a year).
  bool IsValid() const {
    return month() >= 1 && month() <= 12 && day() >= 1 &&
           (day() <= 28 || day() <= DaysInMonth(year(), month()));
  }

  int64_t EpochDays() const { return DaysFromCivil(year(), month(), day()); }
  // As EpochDays, with a month beyond 12 (or 0) carried into the years first, so that any packed
  // word names one day: 2023-02-30 is 2023-03-02.
  int64_t CarriedEpochDays() const {
    if (const unsigned m = month(); m - 1 < 12 && year() > 0 && day() > 0) [[likely]] {
      // DaysFromCivil in unsigned arithmetic, which years and days from 1 on allow.
      const uint32_t y = year() - (m <= 2);
      const uint32_t era = y / 400;
      const uint32_t yoe = y - era * 400;
      const uint32_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + day() - 1;
      return int64_t{era} * 146097 + (yoe * 365 + yoe / 4 - yoe / 100 + doy) - 719468;
    }
    int64_t months = int64_t{year()} * 12 + month() - 1;
    int64_t y = months >= 0 ? months / 12 : (months - 11) / 12;
    return DaysFromCivil(y, static_cast<unsigned>(months - y * 12 + 1), day());
  }
  int64_t epoch_time() const { return EpochDays() * 86400; }
  int64_t operator-(const date& other) const { return EpochDays() - other.EpochDays(); }
  // Undefined for a result outside the 16-bit year range; use FromEpochDays to check.
  date operator+(int64_t days) const { return *FromEpochDays(EpochDays() + days); }
  bool operator==(const date&) const = default;

 private:
  uint32_t packed_ = 0;
};

// Seconds since 1970-01-01 00:00:00 UTC.
class datetime {
 public:
  // The instants whose day a date can hold: 0000-01-01 00:00:00 to 65535-12-31 23:59:59.
  static constexpr int64_t kFirstEpochTime = DaysFromCivil(0, 1, 1) * 86400;
  static constexpr int64_t kLastEpochTime = DaysFromCivil(65536, 1, 1) * 86400 - 1;
  static constexpr bool InRange(int64_t seconds) {
    return seconds >= kFirstEpochTime && seconds <= kLastEpochTime;
  }

  datetime() = default;
  datetime(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute,
           unsigned second)
      : seconds_(DaysFromCivil(year, month, day) * 86400 + int64_t{hour} * 3600 + minute * 60 +
                 second) {}
  static datetime from_epoch_time(int64_t seconds) {
    datetime t;
    t.seconds_ = seconds;
    return t;
  }
  int64_t epoch_time() const { return seconds_; }
  void set_epoch_time(int64_t seconds) { seconds_ = seconds; }
  bool operator==(const datetime&) const = default;

 private:
  int64_t seconds_ = 0;
};

// A scaled 128-bit integer with its scale.
class decimal {
 public:
  decimal() = default;
  decimal(__int128 value, uint8_t scale) : value_(value), scale_(scale) {}
  // The value scaled to `scale` (truncating when the scale shrinks). Precision is not checked.
  __int128 get_internal(uint8_t precision, uint8_t scale) const;
  void set_internal(__int128 value, uint8_t scale) {
    value_ = value;
    scale_ = scale;
  }

 private:
  __int128 value_ = 0;
  uint8_t scale_ = 0;
};

}  // namespace orv
