// Date and datetime text through strptime/strftime, with the calendar arithmetic done here in UTC
// (no time zone, no C library epoch conversion).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/values.h"

namespace orv {

inline constexpr size_t kTimeTextCapacity = 512;

// The format must match the whole of `text`, which must be followed by a 0x00 (a std::string's
// text, or a C string). Year, month and day of the match; fails for a day past its month's end.
std::optional<date> ParseDateText(std::string_view text, const char* format);
// Seconds since the epoch, UTC, including -1 (1969-12-31 23:59:59). Fails for a day past the end
// of its month, a leap second and an instant outside datetime::InRange.
std::optional<int64_t> ParseDateTimeText(std::string_view text, const char* format);

// The ISO text of a day of years 0 to 9999 ("2024-02-29"), and of a second of that day after it
// ("2024-02-29 23:59:59"), written at `out`; returns the end.
char* IsoDate(char* out, unsigned year, unsigned month, unsigned day);
char* IsoDateTime(char* out, const CivilDate& day, int64_t secondOfDay);

// Write into `out` (kTimeTextCapacity bytes) and return the length.
size_t FormatDateText(date value, const char* format, char* out);
size_t FormatDateTimeText(int64_t seconds, const char* format, char* out);

}  // namespace orv
