// Random value generators: the exact draws, the configuration of allowed outcomes, the outcome
// frequencies under fixed seeds, and the record bytes that the descriptors count for a draw.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <climits>
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/values.h"
#include "tests/types/test_support.h"
#include "types/decimal.h"
#include "types/generators.h"

namespace orv {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ";

void Configure(Generator& generator, const char* json) {
  rapidjson::Document document;
  ASSERT_FALSE(document.Parse(json).HasParseError()) << json;
  std::string error;
  ASSERT_TRUE(generator.Configure(document, &error)) << json << ": " << error;
}

// One draw; empty for a null.
template <typename T>
std::optional<T> Draw(Generator& generator) {
  T value{};
  void* slot = &value;
  generator.Generate(slot);
  return slot == nullptr ? std::nullopt : std::optional<T>(value);
}

// `count` of `n` draws lies within 6 standard deviations of n * p (exactly n * p for p 0 or 1).
void ExpectFrequency(size_t count, size_t n, double p) {
  const double bound = 6.0 * std::sqrt(static_cast<double>(n) * p * (1.0 - p));
  EXPECT_NEAR(static_cast<double>(count), static_cast<double>(n) * p, bound)
      << count << " of " << n << " draws, expected probability " << p;
}

// Canonical from two engine outputs, low word first; a null when the probability exceeds it.
TEST(GeneratorArithmetic, CanonicalDrawAndNullDecisionMatchATwinEngine) {
  for (uint32_t seed : {0u, 1u, 5489u, 4294967295u}) {
    IntegralGenerator<int> generator(true, 0, 1, 0, 1);
    Configure(generator, R"({"null": 0.3})");
    generator.Seed(seed);
    std::mt19937 twin(seed);
    auto canonical = [&twin] {
      const uint64_t a = twin(), b = twin();
      return static_cast<double>(a | b << 32) * 0x1p-64;
    };
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(generator.Canonical(), canonical()) << seed;
      ASSERT_EQ(generator.DrawNull(), 0.3 > canonical()) << seed;
    }
  }
}

TEST(GeneratorConfiguration, NormalisesSingleValuesAndRanges) {
  const struct {
    const char* json;           // nullptr: not configured
    std::vector<int> outcomes;  // ValueAt(0..MaxIndex); empty for the full int range
    bool nullAllowed = false;
  } rows[] = {
      {R"({"values": [7], "range": {"min": 10, "max": 12}})", {7, 10, 11, 12}},
      {R"({"values": [11, 7, 12], "range": {"min": 10, "max": 12}})", {7, 10, 11, 12}},
      {R"({"range": {"min": 12, "max": 10}})", {10, 11, 12}},
      {R"({"values": [9], "range": {"min": 5, "max": 5}})", {5, 9}},
      {R"({"range": {}})", {0}},
      {R"({"values": [1, 3000000000, -2147483649, 2147483647, 1.5, "2"]})", {1, 2147483647}},
      {R"({"values": [4], "range": {"min": 1, "max": 2147483648}})", {4}},
      {R"({"values": [null, 2, 1], "other": true})", {1, 2}, true},
      {nullptr, {}},
      {R"({"values": [null]})", {}, true},
      {R"({"range": {"min": 0, "max": 2147483648}})", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json ? row.json : "not configured");
    TypeTraitsCollection fields = test::Layout("v int");
    auto* generator = dynamic_cast<IntegralGenerator<int>*>(fields[0].generator());
    ASSERT_NE(generator, nullptr);
    if (row.json) {
      Configure(*generator, row.json);
    }
    EXPECT_EQ(generator->nullAllowed(), row.nullAllowed);
    if (row.outcomes.empty()) {
      EXPECT_TRUE(generator->MaxIndex() == UINT32_MAX && generator->ValueAt(0) == INT32_MIN &&
                  generator->ValueAt(UINT32_MAX) == INT32_MAX);
      continue;
    }
    ASSERT_EQ(generator->MaxIndex(), row.outcomes.size() - 1);
    for (size_t i = 0; i < row.outcomes.size(); ++i) {
      EXPECT_EQ(generator->ValueAt(i), row.outcomes[i]) << "index " << i;
    }
  }
}

TEST(GeneratorStatistics, SingleValueAndRangeOutcomesEquallyLikely) {
  IntegralGenerator<int> generator(false, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX);
  Configure(generator, R"({"values": [7], "range": {"min": 10, "max": 12}})");
  generator.Seed(2024);
  std::map<int, size_t> counts;
  constexpr size_t kDraws = 40000;
  for (size_t i = 0; i < kDraws; ++i) {
    ++counts[*Draw<int>(generator)];
  }
  ASSERT_EQ(counts.size(), 4u);
  for (int value : {7, 10, 11, 12}) {
    ExpectFrequency(counts[value], kDraws, 0.25);
  }
}

TEST(GeneratorStatistics, NullFrequencies) {
  IntegralGenerator<int> integral(true, 0, 9, 0, 9), notNullable(false, 0, 9, 0, 9);
  FloatingPointGenerator floating(true);
  VariableStringGenerator text(true, 0);
  const struct {
    Generator* generator;
    const char* json;
    double p;
  } rows[] = {
      {&integral, R"({"null": 0.25})", 0.25},
      {&integral, R"({"null": 1.5})", 1.0},
      {&integral, R"({"null": -2})", 0.0},
      {&notNullable, R"({"values": [null, 1], "null": 1})", 0.0},
      // A null among the values is as likely as each value, unless the probability is given.
      {&integral, R"({"values": [null, 1, 2]})", 1.0 / 3},
      {&integral, R"({"values": [5, null], "range": {"min": 1, "max": 3}})", 1.0 / 5},
      {&integral, R"({"values": [null, 1, 2], "null": 0})", 0.0},
      {&text, R"({"values": ["a", "b", null]})", 1.0 / 3},
      {&floating, R"({"values": [1.5, 2.5, null]})", 1.0 / 3},
  };
  uint32_t seed = 11;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json);
    Configure(*row.generator, row.json);
    row.generator->Seed(seed++);
    constexpr size_t kDraws = 30000;
    size_t nulls = 0;
    for (size_t i = 0; i < kDraws; ++i) {
      nulls += row.generator->DrawNull() ? 1 : 0;
    }
    ExpectFrequency(nulls, kDraws, row.p);
  }
}

TEST(GeneratorStatistics, DecimalsSpreadOverTheirPrecision) {
  for (int precision : {1, 18, 20, 38}) {
    SCOPED_TRACE(precision);
    TypeTraitsCollection fields = test::Layout("v decimal(" + std::to_string(precision) + "," +
                                               std::to_string(precision / 3) + ")");
    fields[0].generator()->Seed(precision);
    const __int128 limit = decimalPow10[precision] - 1;
    constexpr size_t kDraws = 20000;
    size_t negative = 0;
    for (size_t i = 0; i < kDraws; ++i) {
      size_t size = 0;
      fields[0].Generate(size, false);
      const __int128 v = fields[0].AsDecimal()->current();
      ASSERT_TRUE(v >= -limit && v <= limit);
      negative += v < 0 ? 1 : 0;
    }
    const double outcomes = 2.0 * static_cast<double>(limit) + 1.0;
    ExpectFrequency(negative, kDraws, static_cast<double>(limit) / outcomes);
  }
}

TEST(GeneratorStatistics, DatesAndDateTimes) {
  TypeTraitsCollection fields = test::Layout("d date");
  Configure(*fields[0].generator(), R"({"values": [0]})");
  size_t size = 0;
  fields[0].Generate(size, false);
  EXPECT_EQ(test::ToHex({static_cast<const char*>(fields[0].value()), 4}), "01 01 00 00");
  // A day past 9999-12-31 is skipped, which leaves the default years 1900 to 2099.
  DateGenerator dates(false);
  const int64_t last = DaysFromCivil(9999, 12, 31) - DaysFromCivil(0, 1, 1);
  Configure(dates, (R"({"values": [)" + std::to_string(last + 1) + "]}").c_str());
  dates.Seed(7);
  DateTimeGenerator times(false);
  times.Seed(8);
  unsigned lowYear = 9999, highYear = 0;
  long low = LONG_MAX, high = LONG_MIN;
  for (int i = 0; i < 20000; ++i) {
    const date d = date::FromPacked(*Draw<uint32_t>(dates));
    lowYear = std::min(lowYear, d.year());
    highYear = std::max(highYear, d.year());
    const long seconds = *Draw<long>(times);
    low = std::min(low, seconds);
    high = std::max(high, seconds);
  }
  EXPECT_EQ(lowYear, 1900u);
  EXPECT_EQ(highYear, 2099u);
  // Datetimes by default from 1970 to 2037.
  const long end = DaysFromCivil(2038, 1, 1) * 86400;
  EXPECT_TRUE(low >= 0 && low < 86400 * 365) << low;
  EXPECT_TRUE(high < end && high >= end - 86400 * 365) << high;
}

TEST(GeneratorStatistics, StringLengthsAndValues) {
  const struct {
    const char* json;
    size_t fixedSize, minLength, maxLength;
    std::set<std::string> only = {};  // the only texts drawn, when not empty
  } rows[] = {
      {"{}", 0, 0, 10},
      {R"({"length": {"min": 3, "max": 6}})", 0, 3, 6},
      {R"({"values": ["x", "yz", 3]})", 0, 1, 2, {"x", "yz"}},
      {R"({"length": {"min": 0, "max": 9}})", 5, 5, 5},
      {R"({"values": ["ab", "abcdefgh"]})", 5, 5, 5, {"ab   ", "abcde"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.json) + " size " + std::to_string(row.fixedSize));
    VariableStringGenerator generator(false, row.fixedSize);
    Configure(generator, row.json);
    generator.Seed(5);
    std::set<std::string> texts;
    std::set<size_t> lengths;
    for (int i = 0; i < 5000; ++i) {
      const std::string text = *Draw<std::string>(generator);
      ASSERT_EQ(text.find_first_not_of(kAlphabet), std::string::npos) << text;
      lengths.insert(text.size());
      texts.insert(text);
    }
    EXPECT_EQ(*lengths.begin(), row.minLength);
    EXPECT_EQ(*lengths.rbegin(), row.maxLength);
    EXPECT_EQ(lengths.size(),
              row.only.empty() ? row.maxLength - row.minLength + 1 : lengths.size());
    if (!row.only.empty()) {
      EXPECT_EQ(texts, row.only);
    }
  }
}

TEST(GeneratorStatistics, DoublesWithinRangesOrValues) {
  const struct {
    const char* json;
    double low, high;            // the draws' half-open range
    std::set<double> only = {};  // else their only values
  } rows[] = {
      {"{}", -1e6, 1e6},
      {R"({"range": {"min": 4, "max": -2.5}})", -2.5, 4},
      {R"({"values": [1.5, -3, "x"], "range": {"min": 10, "max": 20}})", 0, 0, {-3, 1.5}},
      {R"({"range": {"min": 2, "max": 2}})", 0, 0, {2}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json);
    FloatingPointGenerator generator(false);
    Configure(generator, row.json);
    generator.Seed(17);
    std::set<double> values;
    size_t lowerHalf = 0;
    constexpr size_t kDraws = 10000;
    for (size_t i = 0; i < kDraws; ++i) {
      const double v = *Draw<double>(generator);
      ASSERT_TRUE(!row.only.empty() || (v >= row.low && v < row.high)) << v;
      values.insert(v);
      lowerHalf += v < (row.low + row.high) / 2 ? 1 : 0;
    }
    if (row.only.empty()) {
      ExpectFrequency(lowerHalf, kDraws, 0.5);
    } else {
      EXPECT_EQ(values, row.only);
    }
  }
}

TEST(GeneratorDescriptors, GenerateCountsTheRecordBytesOfTheDraw) {
  const struct {
    const char* layout;
    const char* json;
    size_t width;  // bytes of a present value; 0 for a variable string
  } rows[] = {
      {"v int nullable", R"({"null": 0.5})", 4},
      {"v int", R"({"values": [null, 1], "null": 1})", 4},
      {"v decimal(10,2) nullable", R"({"null": 0.5})", 16},
      {"v date nullable", R"({"null": 0.5})", 4},
      {"v datetime", R"({"null": 1})", 8},
      {"v string nullable", R"({"null": 0.5})", 0},
      {"v string", R"({"values": ["abc", null], "null": 1})", 0},
      {"v string(4) nullable", R"({"null": 0.5, "length": {"max": 9}})", 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.layout);
    TypeTraitsCollection fields = test::Layout(row.layout);
    TypeTraits& field = fields[0];
    Configure(*field.generator(), row.json);
    field.generator()->Seed(23);
    size_t nulls = 0;
    constexpr size_t kDraws = 2000;
    for (size_t i = 0; i < kDraws; ++i) {
      const bool recordFormat = i % 2 == 1;
      size_t size = 0;
      field.Generate(size, recordFormat);
      const size_t flag = recordFormat && field.nullable() ? 1 : 0;
      const size_t bytes =
          row.width != 0 ? row.width : field.valueLength() + (recordFormat ? 8 : 0);
      nulls += field.IsNull() ? 1 : 0;
      ASSERT_EQ(size, flag + (field.IsNull() ? 0 : bytes)) << "draw " << i;
      if (recordFormat) {  // the bytes that the record buffer receives
        char record[64];
        char* out = record;
        field.WriteToBuffer(out, true);
        ASSERT_EQ(static_cast<size_t>(out - record), size);
      }
    }
    ExpectFrequency(nulls, kDraws, field.nullable() ? 0.5 : 0.0);
  }
}

}  // namespace
}  // namespace orv
