#include "types/compare.h"

#include <unicode/coll.h>
#include <unicode/stringpiece.h>

#include <algorithm>

namespace orv {

namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int CompareBytes(const char* a, size_t as, const char* b, size_t bs, bool fold) {
  size_t n = std::min(as, bs);
  if (!fold) {
    int r = n == 0 ? 0 : memcmp(a, b, n);
    if (r != 0) {
      return Sign(r);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      auto x = static_cast<unsigned char>(FoldAscii(a[i]));
      auto y = static_cast<unsigned char>(FoldAscii(b[i]));
      if (x != y) {
        return x < y ? -1 : 1;
      }
    }
  }
  return as < bs ? -1 : (as > bs ? 1 : 0);
}

template <typename F>
int NullCodes(const void* a, const void* b, bool full, bool ascending, F compare) {
  if (a == nullptr || b == nullptr) {
    if (a == nullptr && b == nullptr) {
      return full ? kBothNull : kEqual;
    }
    if (a == nullptr) {
      return full ? kFirstNull : (ascending ? kFirstBefore : kFirstAfter);
    }
    return full ? kSecondNull : (ascending ? kFirstAfter : kFirstBefore);
  }
  return compare();
}

}  // namespace

int StringCompare3(const CompareContext& c, const void* a, size_t as, const void* b, size_t bs) {
  const char* x = static_cast<const char*>(a);
  const char* y = static_cast<const char*>(b);
  if (c.collator) {
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r =
        c.collator->compareUTF8(icu::StringPiece(x, static_cast<int32_t>(as)),
                                icu::StringPiece(y, static_cast<int32_t>(bs)), status);
    if (U_SUCCESS(status)) {
      return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
    }
  }
  if (c.facet != nullptr) {
    return Sign(c.facet->compare(x, x + as, y, y + bs));
  }
  return CompareBytes(x, as, y, bs, c.flag);
}

bool VariableStringLess(const CompareContext& c, const void* a, size_t as, const void* b,
                        size_t bs) {
  return StringCompare3(c, a, as, b, bs) < 0;
}

bool VariableStringGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                           size_t bs) {
  return StringCompare3(c, a, as, b, bs) > 0;
}

bool VariableStringEqual(const CompareContext& c, const void* a, size_t as, const void* b,
                         size_t bs) {
  return StringCompare3(c, a, as, b, bs) == 0;
}

int VariableStringCompareLess(const CompareContext& c, const void* a, size_t as, const void* b,
                              size_t bs) {
  int r = StringCompare3(c, a, as, b, bs);
  return r < 0 ? kFirstBefore : (r == 0 ? kEqual : kFirstAfter);
}

int VariableStringCompareGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                                 size_t bs) {
  int r = StringCompare3(c, a, as, b, bs);
  return r > 0 ? kFirstBefore : (r == 0 ? kEqual : kFirstAfter);
}

bool NullableVariableStringLess(const CompareContext& c, const void* a, size_t as, const void* b,
                                size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a == nullptr && b != nullptr;
  }
  return VariableStringLess(c, a, as, b, bs);
}

bool NullableVariableStringGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                                   size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a != nullptr && b == nullptr;
  }
  return VariableStringGreater(c, a, as, b, bs);
}

bool NullableVariableStringEqual(const CompareContext& c, const void* a, size_t as, const void* b,
                                 size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a == nullptr && b == nullptr;
  }
  return VariableStringEqual(c, a, as, b, bs);
}

template <bool Full>
int NullableVariableStringCompareLess(const CompareContext& c, const void* a, size_t as,
                                      const void* b, size_t bs) {
  return NullCodes(a, b, Full, true, [&] { return VariableStringCompareLess(c, a, as, b, bs); });
}

template <bool Full>
int NullableVariableStringCompareGreater(const CompareContext& c, const void* a, size_t as,
                                         const void* b, size_t bs) {
  return NullCodes(a, b, Full, false,
                   [&] { return VariableStringCompareGreater(c, a, as, b, bs); });
}

template int NullableVariableStringCompareLess<false>(const CompareContext&, const void*, size_t,
                                                      const void*, size_t);
template int NullableVariableStringCompareLess<true>(const CompareContext&, const void*, size_t,
                                                     const void*, size_t);
template int NullableVariableStringCompareGreater<false>(const CompareContext&, const void*, size_t,
                                                         const void*, size_t);
template int NullableVariableStringCompareGreater<true>(const CompareContext&, const void*, size_t,
                                                        const void*, size_t);

}  // namespace orv
