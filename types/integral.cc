#include "types/integral.h"

#include <charconv>

namespace orv {

bool ParseIntText(std::string_view text, int& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude; anything past 2^31 already fails, long before 64 bits overflow.
  uint64_t magnitude = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > uint64_t{1} << 31) {
      return false;
    }
  }
  if (digits == 0 || magnitude > (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)) {
    return false;
  }
  value =
      negative ? static_cast<int>(-static_cast<int64_t>(magnitude)) : static_cast<int>(magnitude);
  return true;
}

int IntegralTypeTraits<int>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  return ParseWith(input, size, recordFormat, ParseIntText);
}

std::string_view IntegralTypeTraits<int>::FormatText(const void* value, size_t,
                                                     char* scratch) const {
  int v;
  memcpy(&v, value, sizeof v);
  return {scratch, static_cast<size_t>(std::to_chars(scratch, scratch + 16, v).ptr - scratch)};
}

}  // namespace orv
