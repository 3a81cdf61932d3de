// Decimal text: parse into and format from a 128-bit integer scaled by 10^scale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orv {

struct DecimalTextSettings {
  uint8_t precision;
  uint8_t scale;
  char decimalSeparator = 0;   // 0: the process default
  char groupingSeparator = 0;  // 0: the process default when `grouping` is set
  bool grouping = true;
};

// Truncates fraction digits beyond the scale; fails on more integer digits than the precision
// allows and on any malformed text.
std::optional<__int128> ParseDecimalText(std::string_view text, const DecimalTextSettings& s);

// Writes the text into `out` (at least kDecimalTextCapacity bytes); returns its length.
inline constexpr size_t kDecimalTextCapacity = 128;
size_t FormatDecimalText(__int128 value, const DecimalTextSettings& s, char* out);

}  // namespace orv
