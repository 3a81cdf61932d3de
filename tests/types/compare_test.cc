// Comparison families over record-form values and the functors the descriptors hand out.
#include "types/compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "runtime/values.h"
#include "tests/types/test_support.h"

namespace orv {
namespace {

const CompareContext kNone;

const int* Ptr(const std::optional<int>& v) {
  return v ? &*v : nullptr;
}

TEST(FixedWidthCompare, IntFamiliesPlaceNullsAsTheSmallestValue) {
  using I = std::optional<int>;
  const I null;
  struct Row {
    CompareFunction function;
    I a, b;
    int expected;
  } rows[] = {
      {NullableCompareLess<int, false>, null, 5, kFirstBefore},
      {NullableCompareLess<int, false>, 5, null, kFirstAfter},
      {NullableCompareLess<int, false>, null, null, kEqual},
      {NullableCompareGreater<int, false>, null, 5, kFirstAfter},
      {NullableCompareGreater<int, false>, 5, null, kFirstBefore},
      {NullableCompareGreater<int, false>, 6, 5, kFirstBefore},
      {NullableCompareLess<int, true>, null, null, kBothNull},
      {NullableCompareLess<int, true>, null, 5, kFirstNull},
      {NullableCompareGreater<int, true>, 5, null, kSecondNull},
      {CompareLess<int>, INT32_MIN, INT32_MAX, kFirstBefore},
      {CompareGreater<int>, INT32_MIN, INT32_MAX, kFirstAfter},
      {CompareGreater<int>, 5, 5, kEqual},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].function(kNone, Ptr(rows[i].a), 4, Ptr(rows[i].b), 4), rows[i].expected)
        << "row " << i;
  }
  const int five = 5;
  EXPECT_FALSE(NullableLess<int>(kNone, nullptr, 4, nullptr, 4));
  EXPECT_TRUE(NullableGreater<int>(kNone, &five, 4, nullptr, 4));
  EXPECT_TRUE(NullableEqual<int>(kNone, nullptr, 4, nullptr, 4));
  TypeTraitsCollection fields = test::Layout("v int nullable descending");
  EXPECT_FALSE(fields[0].getLessFunctor(false)(nullptr, 4, &five, 4));
  EXPECT_TRUE(fields[0].getLessFunctor(false)(&five, 4, nullptr, 4));
  EXPECT_EQ(fields[0].getFullCompareFunctor(false)(nullptr, 4, &five, 4), kFirstNull);
}

TEST(FixedWidthCompare, NanIsUnorderedDatesPackedDecimalsWide) {
  const double nan = std::nan(""), one = 1.0, zero = 0.0, minusZero = -0.0;
  EXPECT_TRUE(NullableEqual<double>(kNone, nullptr, 8, nullptr, 8));
  EXPECT_FALSE(NullableEqual<double>(kNone, &nan, 8, &nan, 8));
  EXPECT_TRUE(Equal<double>(kNone, &zero, 8, &minusZero, 8));
  EXPECT_EQ(CompareLess<double>(kNone, &nan, 8, &one, 8), kFirstAfter);
  EXPECT_EQ(CompareLess<double>(kNone, &one, 8, &nan, 8), kFirstAfter);
  EXPECT_EQ(CompareGreater<double>(kNone, &one, 8, &nan, 8), kFirstAfter);
  EXPECT_EQ(CompareLess<double>(kNone, &minusZero, 8, &zero, 8), kEqual);
  const unsigned before = date(2023, 12, 31).packed(), after = date(2024, 1, 1).packed();
  EXPECT_EQ(CompareLess<unsigned>(kNone, &before, 4, &after, 4), kFirstBefore);
  const __int128 small = -decimalPow10[30], large = decimalPow10[20] + 1;
  EXPECT_EQ(CompareLess<__int128>(kNone, &small, 16, &large, 16), kFirstBefore);
  const long minusOne = -1, epoch = 0;
  EXPECT_EQ(CompareGreater<long>(kNone, &minusOne, 8, &epoch, 8), kFirstAfter);
}

TEST(FieldFunctors, StringsByBytesByCollationAndIgnoringCase) {
  struct Row {
    const char* layout;
    bool ignoreCase;
    const char *a, *b;
    int expected;
  } rows[] = {
      {"s string", false, "B", "a", kFirstBefore},
      {"s string", false, "ab", "a", kFirstAfter},
      {"s string", false, "\xC3\xA9", "z", kFirstAfter},
      {"s string", true, "abc", "ABC", kEqual},
      {"s string", true, "abc", "ABD", kFirstBefore},
      {"s string collation=\"en_US\"", false, "a", "B", kFirstBefore},
      {"s string collation=\"en_US\"", false, "a", "A", kFirstBefore},
      {"s string collation=\"en_US\"", true, "a", "A", kEqual},
      {"s string collation=\"en_US\"", false, "\xC3\xA9", "f", kFirstBefore},
      {"s string(2) collation=\"en_US\" descending", false, "a ", "B ", kFirstAfter},
      {"s string nullable descending", false, nullptr, "a", kFirstAfter},
      {"s string nullable", false, nullptr, "", kFirstBefore},
      {"s string nullable", false, nullptr, nullptr, kEqual},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.layout) + ": " + (row.a ? row.a : "null") + " vs " +
                 (row.b ? row.b : "null") + (row.ignoreCase ? " ignoring case" : ""));
    TypeTraitsCollection fields = test::Layout(row.layout);
    const TypeTraits& field = fields[0];
    const size_t as = row.a ? strlen(row.a) : 0, bs = row.b ? strlen(row.b) : 0;
    EXPECT_EQ(field.getCompareFunctor(row.ignoreCase)(row.a, as, row.b, bs), row.expected);
    EXPECT_EQ(field.getLessFunctor(row.ignoreCase)(row.a, as, row.b, bs),
              row.expected == kFirstBefore);
    EXPECT_EQ(field.getEqualFunctor(row.ignoreCase)(row.a, as, row.b, bs), row.expected == kEqual);
  }
}

}  // namespace
}  // namespace orv
