#include "types/decimal_text.h"

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

}  // namespace

std::optional<__int128> ParseDecimalText(std::string_view text, const DecimalTextSettings& s) {
  const Resolved r = Resolve(s);
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

  // Integer part: at most 38 digits.
  __int128 value = 0;
  bool inFraction = false;
  bool inExponent = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (r.groupingSeparator != 0 && c == r.groupingSeparator) {
      continue;
    }
    if (c == r.decimalSeparator) {
      inFraction = true;
      ++i;
      break;
    }
    if (c == 'E' || c == 'e') {
      inExponent = true;
      ++i;
      break;
    }
    if (!IsDigit(c) || value >= decimalPow10[37]) {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }

  // Fraction: the first 38 digits count, later ones must still be digits.
  char fraction[38];
  size_t fractionLength = 0;
  if (inFraction) {
    for (; i < n; ++i) {
      char c = text[i];
      if (c == 'E' || c == 'e') {
        inExponent = true;
        ++i;
        break;
      }
      if (!IsDigit(c)) {
        return std::nullopt;
      }
      if (fractionLength < sizeof fraction) {
        fraction[fractionLength++] = c;
      }
    }
  }

  // Exponent: an optional sign and one or two digits; nothing after E or after the sign counts as
  // no exponent.
  int exponent = 0;
  if (inExponent && i < n) {
    bool negativeExponent = false;
    if (text[i] == '+' || text[i] == '-') {
      negativeExponent = text[i] == '-';
      ++i;
    }
    int digits = 0;
    for (; i < n; ++i) {
      if (!IsDigit(text[i]) || ++digits > 2) {
        return std::nullopt;
      }
      exponent = exponent * 10 + (text[i] - '0');
    }
    if (negativeExponent) {
      exponent = -exponent;
    }
  }

  const __int128 limit = decimalPow10[s.precision];
  int shift = exponent + s.scale;
  if (shift > 0) {
    const __int128 stepLimit = decimalPow10[s.precision - 1];
    for (int k = 0; k < shift; ++k) {
      if (value >= stepLimit) {
        return std::nullopt;
      }
      int digit = static_cast<size_t>(k) < fractionLength ? fraction[k] - '0' : 0;
      value = value * 10 + digit;
    }
  } else {
    for (int k = 0; k < -shift; ++k) {
      value /= 10;
    }
    if (value >= limit) {
      return std::nullopt;
    }
  }
  return negative ? -value : value;
}

size_t FormatDecimalText(__int128 value, const DecimalTextSettings& s, char* out) {
  const Resolved r = Resolve(s);
  size_t n = 0;
  unsigned __int128 magnitude = static_cast<unsigned __int128>(value);
  if (value < 0) {
    out[n++] = '-';
    magnitude = -magnitude;
  }
  const auto scalePower = static_cast<unsigned __int128>(decimalPow10[s.scale]);
  unsigned __int128 integer = magnitude / scalePower;
  unsigned __int128 fraction = magnitude % scalePower;

  // Integer digits, least significant first. A value wider than its precision (possible only from
  // a binary stream) keeps all of its digits rather than losing the top ones.
  char digits[40];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(integer % 10));
    integer /= 10;
  } while (integer != 0);
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
    for (int k = s.scale - 1; k >= 0; --k) {
      out[n + static_cast<size_t>(k)] = static_cast<char>('0' + static_cast<int>(fraction % 10));
      fraction /= 10;
    }
    n += s.scale;
  }
  return n;
}

}  // namespace orv
