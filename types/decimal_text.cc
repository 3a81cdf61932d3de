#include "types/decimal_text.h"

#include <algorithm>
#include <cstring>

#include "runtime/settings.h"
#include "runtime/values.h"

namespace orv {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

struct Resolved {
  char decimalSeparator;
  char groupingSeparator;  // 0: grouping off
};

Resolved Resolve(const DecimalTextSettings& s) {
  Resolved r;
  r.decimalSeparator =
      s.decimalSeparator != 0 ? s.decimalSeparator : g_TypeTraitsOptions.decimalSeparator;
  r.groupingSeparator = s.groupingSeparator;
  if (r.groupingSeparator == 0 && s.grouping) {
    r.groupingSeparator = g_TypeTraitsOptions.groupingSeparator;
  }
  return r;
}

// Decimal text is read in three parts, each stopping at the byte that starts the next: the
// integer digits (with grouping separators), the fraction after the decimal separator, and an
// exponent after 'E' or 'e'. The scanners take the text from `i` on and leave `i` after what they
// consumed; false means the text is malformed.
struct DecimalDigits {
  __int128 integer = 0;
  char fraction[38];  // the first 38 fraction digits; later ones are checked, then dropped
  size_t fractionLength = 0;
  int exponent = 0;
};

enum class Part { kEnd, kFraction, kExponent };

// Integer part: at most 38 digits.
bool ScanInteger(std::string_view text, size_t& i, const Resolved& r, DecimalDigits& d,
                 Part& next) {
  next = Part::kEnd;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (r.groupingSeparator != 0 && c == r.groupingSeparator) {
      continue;
    }
    if (c == r.decimalSeparator) {
      next = Part::kFraction;
      ++i;
      return true;
    }
    if (c == 'E' || c == 'e') {
      next = Part::kExponent;
      ++i;
      return true;
    }
    if (!IsDigit(c) || d.integer >= decimalPow10[37]) {
      return false;
    }
    d.integer = d.integer * 10 + (c - '0');
  }
  return true;
}

// Fraction: the first 38 digits count, later ones must still be digits.
bool ScanFraction(std::string_view text, size_t& i, DecimalDigits& d, Part& next) {
  next = Part::kEnd;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == 'E' || c == 'e') {
      next = Part::kExponent;
      ++i;
      return true;
    }
    if (!IsDigit(c)) {
      return false;
    }
    if (d.fractionLength < sizeof d.fraction) {
      d.fraction[d.fractionLength++] = c;
    }
  }
  return true;
}

// Exponent: an optional sign and one or two digits; nothing after E or after the sign counts as
// no exponent.
bool ScanExponent(std::string_view text, size_t& i, DecimalDigits& d) {
  if (i == text.size()) {
    return true;
  }
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  int digits = 0;
  int exponent = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i]) || ++digits > 2) {
      return false;
    }
    exponent = exponent * 10 + (text[i] - '0');
  }
  d.exponent = negative ? -exponent : exponent;
  return true;
}

// The digits as an integer of `scale` fraction digits: fraction digits move up into it (zeros
// past the written ones) or integer digits are cut off; fails beyond the precision.
std::optional<__int128> Scale(const DecimalDigits& d, const DecimalTextSettings& s) {
  __int128 value = d.integer;
  const int shift = d.exponent + s.scale;
  if (shift > 0) {
    const __int128 stepLimit = decimalPow10[s.precision - 1];
    for (int k = 0; k < shift; ++k) {
      if (value >= stepLimit) {
        return std::nullopt;
      }
      int digit = static_cast<size_t>(k) < d.fractionLength ? d.fraction[k] - '0' : 0;
      value = value * 10 + digit;
    }
    return value;
  }
  for (int k = 0; k < -shift; ++k) {
    value /= 10;
  }
  if (value >= decimalPow10[s.precision]) {
    return std::nullopt;
  }
  return value;
}

// The common text, an optional sign, then digits with a fraction, at most 18 digits in all for a
// precision of at most 18, read in 64 bits: true with `value` what the general reading makes of
// the text (a failure for a value beyond the precision); false for any other text (blanks,
// grouping, an exponent, more digits), which the general reading then takes.
bool ReadPlainDecimal(std::string_view text, const Resolved& r, const DecimalTextSettings& s,
                      std::optional<__int128>& value) {
  constexpr size_t kMostDigits = 18;
  if (s.precision > kMostDigits || s.scale > s.precision) {
    return false;
  }
  size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  const bool negative = i == 1 && text[0] == '-';
  uint64_t v = 0;
  size_t digits = 0;
  int fraction = -1;  // fraction digits taken; -1 before the separator
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      if (++digits > kMostDigits) {
        return false;
      }
      if (fraction < s.scale) {  // fraction digits past the scale are dropped
        v = v * 10 + static_cast<uint64_t>(c - '0');
        fraction += fraction >= 0 ? 1 : 0;
      }
    } else if (c == r.decimalSeparator && c != r.groupingSeparator && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0) {
    return false;
  }
  const auto limit = static_cast<uint64_t>(decimalPow10[s.precision]);
  for (int k = std::max(fraction, 0); k < s.scale && v < limit; ++k) {
    v *= 10;  // below 10^18 before, so below 10^19 after: no overflow
  }
  const auto magnitude = static_cast<__int128>(v);
  value = v >= limit ? std::nullopt : std::optional<__int128>(negative ? -magnitude : magnitude);
  return true;
}

}  // namespace

std::optional<__int128> ParseDecimalText(std::string_view text, const DecimalTextSettings& s) {
  const Resolved r = Resolve(s);
  if (std::optional<__int128> value; ReadPlainDecimal(text, r, s, value)) {
    return value;
  }
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && IsSpace(text[i])) {
    ++i;
  }
  if (i == n) {
    return std::nullopt;  // empty, or white space only
  }
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    if (++i == n) {
      return std::nullopt;
    }
  }
  DecimalDigits d;
  Part next;
  if (!ScanInteger(text, i, r, d, next) ||
      (next == Part::kFraction && !ScanFraction(text, i, d, next)) ||
      (next == Part::kExponent && !ScanExponent(text, i, d))) {
    return std::nullopt;
  }
  std::optional<__int128> value = Scale(d, s);
  if (value && negative) {
    *value = -*value;
  }
  return value;
}

namespace {

// The digits of `integer`, least significant first, at `digits`; returns how many.
template <typename U>
int IntegerDigits(U integer, char* digits) {
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(integer % 10));
    integer /= 10;
  } while (integer != 0);
  return count;
}

// The `scale` lowest digits of `fraction`, most significant first, at `out`.
template <typename U>
void FractionDigits(U fraction, int scale, char* out) {
  for (int k = scale - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + static_cast<int>(fraction % 10));
    fraction /= 10;
  }
}

// Dividing 128 bits takes a library call, so wide values are cut into pieces of 19 digits, each
// then written in 64 bits.
constexpr uint64_t kTenToThe19 = 10'000'000'000'000'000'000u;

int WideIntegerDigits(unsigned __int128 integer, char* digits) {
  int count = 0;
  while (integer > UINT64_MAX) {
    const unsigned __int128 high = integer / kTenToThe19;
    auto low = static_cast<uint64_t>(integer - high * kTenToThe19);
    for (const int end = count + 19; count < end; low /= 10) {
      digits[count++] = static_cast<char>('0' + static_cast<int>(low % 10));
    }
    integer = high;
  }
  return count + IntegerDigits(static_cast<uint64_t>(integer), digits + count);
}

// As FractionDigits, for a fraction below 10^38.
void WideFractionDigits(unsigned __int128 fraction, int scale, char* out) {
  if (scale > 19) {
    FractionDigits(static_cast<uint64_t>(fraction / kTenToThe19), scale - 19, out);
    FractionDigits(static_cast<uint64_t>(fraction % kTenToThe19), 19, out + scale - 19);
  } else {
    FractionDigits(static_cast<uint64_t>(fraction), scale, out);
  }
}

}  // namespace

size_t FormatDecimalText(__int128 value, const DecimalTextSettings& s, char* out) {
  const Resolved r = Resolve(s);
  size_t n = 0;
  unsigned __int128 magnitude = static_cast<unsigned __int128>(value);
  if (value < 0) {
    out[n++] = '-';
    magnitude = -magnitude;
  }
  // Integer digits, least significant first, and the fraction's. A value wider than its precision
  // (possible only from a binary stream) keeps all of its digits rather than losing the top ones.
  // Values of 64 bits are worked out in 64 bits, which divide by constants without a library call.
  char digits[40];
  char fraction[40];
  int count = 0;
  if (magnitude <= UINT64_MAX && s.scale <= 19) {
    const auto narrow = static_cast<uint64_t>(magnitude);
    const auto scalePower = static_cast<uint64_t>(decimalPow10[s.scale]);
    count = IntegerDigits(narrow / scalePower, digits);
    FractionDigits(narrow % scalePower, s.scale, fraction);
  } else {
    const auto scalePower = static_cast<unsigned __int128>(decimalPow10[s.scale]);
    const unsigned __int128 integer = s.scale == 0 ? magnitude : magnitude / scalePower;
    count = WideIntegerDigits(integer, digits);
    WideFractionDigits(magnitude - integer * scalePower, s.scale, fraction);
  }
  if (count == 1 && digits[0] == '0') {
    out[n++] = '0';
  } else {
    for (int k = count - 1; k >= 0; --k) {
      out[n++] = digits[k];
      if (r.groupingSeparator != 0 && k > 0 && k % 3 == 0) {
        out[n++] = r.groupingSeparator;
      }
    }
  }
  if (s.scale > 0) {
    out[n++] = r.decimalSeparator;
    memcpy(out + n, fraction, static_cast<size_t>(s.scale));
    n += s.scale;
  }
  return n;
}

}  // namespace orv
