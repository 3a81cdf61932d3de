// Date and datetime text through strptime/strftime, with the calendar arithmetic done here in UTC
// (no time zone, no C library epoch conversion).
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/values.h"

namespace orv {

inline constexpr size_t kTimeTextCapacity = 512;

// `text` must be NUL-terminated. Year, month and day of the match; text after it is ignored.
std::optional<date> ParseDateText(const char* text, const char* format);
// Seconds since the epoch, UTC. Every instant strptime can describe converts, including -1
// (1969-12-31 23:59:59).
std::optional<int64_t> ParseDateTimeText(const char* text, const char* format);

// Write into `out` (kTimeTextCapacity bytes) and return the length.
size_t FormatDateText(date value, const char* format, char* out);
size_t FormatDateTimeText(int64_t seconds, const char* format, char* out);

}  // namespace orv
