// Comparison function families over values in record form: (context, first value, first size,
// second value, second size), a null pointer standing for null. The fixed-width families ignore
// the sizes and the context. In the null-ordering variants null is the smallest value; the full
// variants (`true`) report nulls as codes 3 to 5 and leave their placement to the caller.
#pragma once

#include <cmath>
#include <cstring>
#include <type_traits>

#include "types/type_traits.h"

namespace orv {

namespace compare_detail {

template <typename T>
inline T Load(const void* p) {
  T v;
  memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
inline bool Unordered(T a, T b) {
  if constexpr (std::is_floating_point_v<T>) {
    return std::isnan(a) || std::isnan(b);
  } else {
    (void)a;
    (void)b;
    return false;
  }
}

}  // namespace compare_detail

template <typename T>
bool Less(const CompareContext&, const void* a, size_t, const void* b, size_t) {
  return compare_detail::Load<T>(a) < compare_detail::Load<T>(b);
}

template <typename T>
bool Greater(const CompareContext&, const void* a, size_t, const void* b, size_t) {
  return compare_detail::Load<T>(a) > compare_detail::Load<T>(b);
}

template <typename T>
bool Equal(const CompareContext&, const void* a, size_t, const void* b, size_t) {
  T x = compare_detail::Load<T>(a);
  T y = compare_detail::Load<T>(b);
  return !compare_detail::Unordered(x, y) && !(x < y) && !(y < x);
}

template <typename T>
bool NullableLess(const CompareContext& c, const void* a, size_t as, const void* b, size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a == nullptr && b != nullptr;
  }
  return Less<T>(c, a, as, b, bs);
}

template <typename T>
bool NullableGreater(const CompareContext& c, const void* a, size_t as, const void* b, size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a != nullptr && b == nullptr;
  }
  return Greater<T>(c, a, as, b, bs);
}

template <typename T>
bool NullableEqual(const CompareContext& c, const void* a, size_t as, const void* b, size_t bs) {
  if (a == nullptr || b == nullptr) {
    return a == nullptr && b == nullptr;
  }
  return Equal<T>(c, a, as, b, bs);
}

template <typename T>
int CompareLess(const CompareContext&, const void* a, size_t, const void* b, size_t) {
  T x = compare_detail::Load<T>(a);
  T y = compare_detail::Load<T>(b);
  if (y > x) {
    return kFirstBefore;
  }
  return compare_detail::Unordered(x, y) || x != y ? kFirstAfter : kEqual;
}

template <typename T>
int CompareGreater(const CompareContext&, const void* a, size_t, const void* b, size_t) {
  T x = compare_detail::Load<T>(a);
  T y = compare_detail::Load<T>(b);
  if (x > y) {
    return kFirstBefore;
  }
  return compare_detail::Unordered(x, y) || x < y ? kFirstAfter : kEqual;
}

template <typename T, bool Full>
int NullableCompareLess(const CompareContext& c, const void* a, size_t as, const void* b,
                        size_t bs) {
  if (a == nullptr || b == nullptr) {
    if (a == nullptr && b == nullptr) {
      return Full ? kBothNull : kEqual;
    }
    if (a == nullptr) {
      return Full ? kFirstNull : kFirstBefore;
    }
    return Full ? kSecondNull : kFirstAfter;
  }
  return CompareLess<T>(c, a, as, b, bs);
}

template <typename T, bool Full>
int NullableCompareGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                           size_t bs) {
  if (a == nullptr || b == nullptr) {
    if (a == nullptr && b == nullptr) {
      return Full ? kBothNull : kEqual;
    }
    if (a == nullptr) {
      return Full ? kFirstNull : kFirstAfter;
    }
    return Full ? kSecondNull : kFirstBefore;
  }
  return CompareGreater<T>(c, a, as, b, bs);
}

// Functors of a fixed-width field by direction and nullability.
template <typename T>
LessFunctor MakeLessFunctor(bool nullable, bool descending, bool flag) {
  LessFunctor f;
  f.context.flag = flag;
  f.function = nullable ? (descending ? NullableGreater<T> : NullableLess<T>)
                        : (descending ? Greater<T> : Less<T>);
  return f;
}

template <typename T>
LessFunctor MakeEqualFunctor(bool nullable, bool flag) {
  LessFunctor f;
  f.context.flag = flag;
  f.function = nullable ? NullableEqual<T> : Equal<T>;
  return f;
}

template <typename T, bool Full>
CompareFunctor MakeCompareFunctor(bool nullable, bool descending, bool flag) {
  CompareFunctor f;
  f.context.flag = flag;
  f.function = nullable
                   ? (descending ? NullableCompareGreater<T, Full> : NullableCompareLess<T, Full>)
                   : (descending ? CompareGreater<T> : CompareLess<T>);
  return f;
}

// --- Strings ----------------------------------------------------------------------------------
// Through the context's ICU collator when it has one, else its collate facet, else by bytes
// (ASCII letters folded when the context's flag asks for case-insensitive comparison).

int StringCompare3(const CompareContext& c, const void* a, size_t as, const void* b, size_t bs);

bool VariableStringLess(const CompareContext& c, const void* a, size_t as, const void* b,
                        size_t bs);
bool VariableStringGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                           size_t bs);
bool VariableStringEqual(const CompareContext& c, const void* a, size_t as, const void* b,
                         size_t bs);
int VariableStringCompareLess(const CompareContext& c, const void* a, size_t as, const void* b,
                              size_t bs);
int VariableStringCompareGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                                 size_t bs);
bool NullableVariableStringLess(const CompareContext& c, const void* a, size_t as, const void* b,
                                size_t bs);
bool NullableVariableStringGreater(const CompareContext& c, const void* a, size_t as, const void* b,
                                   size_t bs);
bool NullableVariableStringEqual(const CompareContext& c, const void* a, size_t as, const void* b,
                                 size_t bs);
template <bool Full>
int NullableVariableStringCompareLess(const CompareContext& c, const void* a, size_t as,
                                      const void* b, size_t bs);
template <bool Full>
int NullableVariableStringCompareGreater(const CompareContext& c, const void* a, size_t as,
                                         const void* b, size_t bs);

}  // namespace orv
