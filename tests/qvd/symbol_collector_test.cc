// Symbol collection over column stores: the order of symbols, the stored index values and the
// null handling, for the cases where the type's ordering is subtle.
#include "qvd/symbol_collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <set>

#include "types/type_traits_parser.h"

namespace orv {
namespace {

struct Column {
  TypeTraitsCollection layout;
  std::unique_ptr<FlowDataSet> data;
  uint64_t records = 0;
};

// A one-field column read from text records.
std::unique_ptr<Column> ColumnOf(const std::string& definition, const std::string& text) {
  auto column = std::make_unique<Column>();
  EXPECT_EQ(TypeTraitsParser::ParseInlineFields(definition, column->layout), std::nullopt);
  column->layout.Prepare();
  column->data = FlowDataSet::Create(column->layout[0], true);
  MemoryInput input(text.data(), text.size());
  while (column->data->ReadValue(input) == kStatusOk) {
    ++column->records;
  }
  return column;
}

// The symbols' values as printed text, in symbol order.
std::vector<std::string> SymbolTexts(const Column& column, const FieldSymbols<uint8_t>& symbols) {
  std::vector<std::string> texts;
  char scratch[512];
  for (uint64_t k = 0; k < symbols.symbolCount; ++k) {
    auto [value, size] = column.data->ValueAt(symbols.RecordOf(k));
    texts.emplace_back(column.layout[0].FormatText(value, size, scratch));
  }
  return texts;
}

// Each record's stored index value.
std::vector<uint8_t> Stored(const FieldSymbols<uint8_t>& symbols) {
  std::vector<uint8_t> stored;
  for (uint64_t r = 0; r < symbols.stored.size(); ++r) {
    stored.push_back(static_cast<uint8_t>(symbols.stored[r]));
  }
  return stored;
}

TEST(SymbolCollector, WorkedExampleWithAndWithoutNullText) {
  auto column = ColumnOf("a int nullable", "5\n3\n\n5\n9\n");
  auto plain = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(SymbolTexts(*column, plain), (std::vector<std::string>{"3", "5", "9"}));
  EXPECT_EQ(Stored(plain), (std::vector<uint8_t>{3, 2, 0, 3, 4}));
  EXPECT_EQ(plain.firstValueIndex, 2);
  EXPECT_EQ(plain.symbolBytes, 15u);
  auto withText = CollectSymbols<uint8_t>(*column->data, column->records, std::string());
  EXPECT_EQ(Stored(withText), (std::vector<uint8_t>{2, 1, 0, 2, 3}));
  EXPECT_EQ(withText.firstValueIndex, 1);
  EXPECT_EQ(withText.symbolBytes, 17u);
}

TEST(SymbolCollector, DescendingFieldKeepsNullsFirst) {
  auto column = ColumnOf("a int nullable descending", "5\n\n9\n3\n\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(SymbolTexts(*column, symbols), (std::vector<std::string>{"9", "5", "3"}));
  EXPECT_EQ(Stored(symbols), (std::vector<uint8_t>{3, 0, 2, 4, 0}));
}

TEST(SymbolCollector, EveryNaNIsASymbolOfItsOwnAfterTheNumbers) {
  auto column = ColumnOf("a double", "nan\n2\n-0.0\nnan\n0\n-inf\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  auto texts = SymbolTexts(*column, symbols);
  EXPECT_EQ(texts, (std::vector<std::string>{"-inf", "-0", "0", "2", "nan", "nan"}));
  EXPECT_EQ(symbols.stored[2], 1u);
  EXPECT_EQ(symbols.stored[4], 2u);
  EXPECT_NE(symbols.stored[0], symbols.stored[3]);
  // Numbers in a narrow range of keys, marked in an array rather than hashed or sorted.
  auto narrow = ColumnOf("a double descending", "nan\n1\n1.0000000000000002\nnan\n1\n");
  auto dense = CollectSymbols<uint8_t>(*narrow->data, narrow->records, std::nullopt);
  EXPECT_EQ(SymbolTexts(*narrow, dense),
            (std::vector<std::string>{"1.0000000000000002", "1", "nan", "nan"}));
  EXPECT_EQ(Stored(dense), (std::vector<uint8_t>{2, 1, 0, 3, 1}));
}

// Among many distinct numbers (sorted, not hashed), each NaN is a symbol after them, in record
// order, in both directions.
TEST(SymbolCollector, NaNsAmongManyDistinctNumbersFollowThemOneSymbolEach) {
  for (const char* definition : {"a double", "a double descending"}) {
    SCOPED_TRACE(definition);
    std::string text;
    for (int i = 0; i < 9000; ++i) {
      text += i % 1000 == 7 ? "nan\n" : std::to_string(i * 1e-3 - 3) + "\n";
    }
    auto column = ColumnOf(definition, text);
    auto symbols = CollectSymbols<uint16_t>(*column->data, column->records, std::nullopt);
    ASSERT_EQ(symbols.symbolCount, 9000u);
    for (int k = 0; k < 9; ++k) {
      EXPECT_EQ(symbols.stored[k * 1000 + 7], 8991u + k);
    }
    const bool descending = std::string(definition).ends_with("descending");
    EXPECT_EQ(symbols.stored[0], descending ? 8990u : 0u);
    EXPECT_EQ(symbols.stored[8999], descending ? 0u : 8990u);
    for (uint64_t k = 8990; k < 9000; ++k) {
      double v;
      memcpy(&v, column->data->ValueAt(symbols.RecordOf(k)).first, sizeof v);
      EXPECT_EQ(std::isnan(v), k > 8990) << k;
    }
  }
}

// Many distinct ints with nulls, more records than are numbered in one block: each symbol's value
// is found where the symbols say (the store may have become the values in symbol order), the
// symbols ascend, and each record keeps the symbol of its own value.
TEST(SymbolCollector, ManyDistinctIntsAcrossBlocksKeepTheirValues) {
  constexpr int64_t kRecords = 1100000;
  std::string text;
  std::vector<std::optional<int32_t>> owns;
  for (int64_t i = 0; i < kRecords; ++i) {
    owns.push_back(i % 10 == 3 ? std::nullopt
                               : std::optional<int32_t>(i * 2654435761 % 2000000000 - 1000000000));
    text += owns.back() ? std::to_string(*owns.back()) + "\n" : "\n";
  }
  for (const unsigned threads : {1u, 3u}) {  // blocks taken by this thread alone, or by workers
    SCOPED_TRACE(threads);
    TaskPool pool(threads);
    auto column = ColumnOf("a int nullable", text);
    auto symbols = CollectSymbols<uint32_t>(*column->data, column->records, std::nullopt, &pool);
    ASSERT_EQ(symbols.firstValueIndex, 2);
    std::vector<int32_t> values(symbols.symbolCount);
    for (uint64_t k = 0; k < symbols.symbolCount; ++k) {
      memcpy(&values[k], column->data->ValueAt(symbols.RecordOf(k)).first, sizeof(int32_t));
    }
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
    for (int64_t r = 0; r < kRecords; ++r) {
      ASSERT_EQ(symbols.stored[r] == 0, !owns[r]) << r;
      if (owns[r]) {
        ASSERT_EQ(values.at(symbols.stored[r] - 2), *owns[r]) << r;
      }
    }
  }
}

// Many strings that share their first bytes, of differing lengths, in both directions: symbols
// strictly in byte order, one for each distinct string, and the table's bytes theirs.
TEST(SymbolCollector, StringsSharingLongPrefixesOrderByTheirBytes) {
  for (const char* definition : {"a string", "a string descending"}) {
    SCOPED_TRACE(definition);
    std::mt19937_64 random(11);
    std::string text;
    std::set<std::string> distinct;
    for (int i = 0; i < 6000; ++i) {
      std::string value = i % 2 ? "shared prefix " : "shared";
      for (uint64_t n = random() % 12; n > 0; --n) {
        value += static_cast<char>('a' + random() % 3);
      }
      distinct.insert(value);
      text += value + "\n";
    }
    auto column = ColumnOf(definition, text);
    auto symbols = CollectSymbols<uint16_t>(*column->data, column->records, std::nullopt);
    ASSERT_EQ(symbols.symbolCount, distinct.size());
    std::vector<std::string> texts;
    for (uint64_t k = 0; k < symbols.symbolCount; ++k) {
      auto [value, size] = column->data->ValueAt(symbols.RecordOf(k));
      texts.emplace_back(value, size);
    }
    std::vector<std::string> expected(distinct.begin(), distinct.end());
    if (std::string(definition).ends_with("descending")) {
      std::reverse(expected.begin(), expected.end());
    }
    EXPECT_EQ(texts, expected);
    uint64_t bytes = 0;  // each symbol: a kind byte, the text, a 0x00
    for (const std::string& value : distinct) {
      bytes += value.size() + 2;
    }
    EXPECT_EQ(symbols.symbolBytes, bytes);
  }
}

// Distinct strings past the bytes kept together for comparing, and past the point where the table
// of distinct strings grows at once to its full size: each keeps a symbol of its own.
TEST(SymbolCollector, HundredsOfThousandsOfDistinctStringsKeepTheirSymbols) {
  constexpr int kDistinct = 800000;
  std::string text;
  for (int i = 0; i < kDistinct + 1000; ++i) {
    char value[16];
    snprintf(value, sizeof value, "v%010lld\n", (i % kDistinct) * 7919LL % kDistinct);
    text += value;
  }
  auto column = ColumnOf("a string", text);
  auto symbols = CollectSymbols<uint32_t>(*column->data, column->records, std::nullopt);
  ASSERT_EQ(symbols.symbolCount, static_cast<uint64_t>(kDistinct));
  for (uint64_t r = 0; r < column->records; r += 997) {
    auto [value, size] = column->data->ValueAt(r);
    EXPECT_EQ(symbols.stored[r], std::stoul(std::string(value + 1, size - 1)) * 1u) << r;
  }
  EXPECT_EQ(symbols.stored[kDistinct], symbols.stored[0]);
}

// -0 and 0 are two symbols, in both directions, also among doubles that span many orders of
// magnitude.
TEST(SymbolCollector, NegativeZeroAndZeroKeepTheirOwnSymbols) {
  const struct {
    const char* definition;
    std::string text;
    std::vector<uint8_t> stored;
  } cases[] = {
      {"a double", "0\n-0\n0\n-0\n", {1, 0, 1, 0}},
      {"a double descending", "0\n-0\n0\n-0\n", {0, 1, 0, 1}},
      {"a double nullable", "-0\n\n0\n1e300\n-1e-300\n-0\n", {3, 0, 4, 5, 2, 3}},
      {"a double descending", "-0\n1e300\n-1e-300\n0\nnan\n", {2, 0, 3, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.definition + (" " + c.text));
    auto column = ColumnOf(c.definition, c.text);
    auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
    EXPECT_EQ(Stored(symbols), c.stored);
  }
}

TEST(SymbolCollector, StringsEqualUnderTheCollationShareOneSymbol) {
  // "é" precomposed and as "e" with a combining accent are canonically equivalent.
  auto column = ColumnOf("a string collation=\"en_US\"", "b\n\xC3\xA9\ne\xCC\x81\nB\n\xC3\xA9\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(symbols.symbolCount, 3u);  // b, B, é
  EXPECT_EQ(SymbolTexts(*column, symbols)[0], "b");
  EXPECT_EQ(symbols.stored[1], symbols.stored[2]);
  EXPECT_EQ(symbols.stored[1], symbols.stored[4]);
  EXPECT_EQ(symbols.stored[0], 0u);
  EXPECT_EQ(symbols.stored[3], 1u);
}

TEST(SymbolCollector, ByteOrderWithoutCollation) {
  auto column = ColumnOf("a string nullable", "b\n\nB\n\na\nb\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::string("N/A"));
  EXPECT_EQ(SymbolTexts(*column, symbols), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_EQ(Stored(symbols), (std::vector<uint8_t>{3, 0, 1, 0, 2, 3}));
  EXPECT_EQ(symbols.symbolBytes, 5u + 3 * 3);
}

// 12,000 values of `definition` from `next`: each record's symbol prints as its value, symbols
// follow the field's direction strictly (as numbers where `numeric`, else as text), and equal
// values share one symbol.
void ExpectGroupedLikeValues(const char* definition,
                             const std::function<std::string(std::mt19937_64&)>& next, bool numeric,
                             std::mt19937_64& random) {
  std::string text;
  for (int i = 0; i < 12000; ++i) {
    text += next(random) + "\n";
  }
  const bool descending = std::string(definition).find("descending") != std::string::npos;
  auto column = ColumnOf(definition, text);
  ASSERT_EQ(column->records, 12000u);
  // Each record's own value, before collection may make the store the symbols' values.
  char scratch[512];
  std::vector<std::string> owns;
  for (uint64_t r = 0; r < column->records; ++r) {
    auto [value, size] = column->data->ValueAt(r);
    owns.emplace_back(column->layout[0].FormatText(value, size, scratch));
  }
  auto symbols = CollectSymbols<uint16_t>(*column->data, column->records, std::nullopt);
  std::vector<std::string> texts;
  for (uint64_t k = 0; k < symbols.symbolCount; ++k) {
    auto [value, size] = column->data->ValueAt(symbols.RecordOf(k));
    texts.emplace_back(column->layout[0].FormatText(value, size, scratch));
  }
  const std::set<std::string> distinct(owns.begin(), owns.end());
  for (uint64_t r = 0; r < column->records; ++r) {
    ASSERT_LT(symbols.stored[r], texts.size());
    EXPECT_EQ(texts[symbols.stored[r]], owns[r]) << r;
  }
  EXPECT_EQ(texts.size(), distinct.size());
  for (size_t k = 1; k < texts.size(); ++k) {
    const bool ascending =
        numeric ? strtod(texts[k - 1].c_str(), nullptr) < strtod(texts[k].c_str(), nullptr)
                : texts[k - 1] < texts[k];
    EXPECT_EQ(ascending, !descending) << texts[k - 1] << " then " << texts[k];
  }
}

// Random columns of every fixed-width type: keys in a narrow range (marked in an array), few
// distinct values (hashed) and many (sorted), with keys of 32 bits, of 64 and wider, and dates,
// whose keys don't give their values back. Each record's symbol prints as its value, symbols follow
// the field's direction strictly, and equal values share one symbol.
TEST(SymbolCollector, RandomColumnsGroupAndOrderLikeTheirValues) {
  struct Case {
    const char* definition;
    std::function<std::string(std::mt19937_64&)> value;
    bool numeric;  // ordered as numbers, else as text (ISO dates)
  };
  auto pick = [](std::mt19937_64& random, int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random);
  };
  auto wideDouble = [&](std::mt19937_64& random) {
    const double magnitude = std::ldexp(1.0 + static_cast<double>(pick(random, 0, 1000)) / 1000,
                                        static_cast<int>(pick(random, -1000, 1000)));
    char digits[32];
    snprintf(digits, sizeof digits, "%.17g", pick(random, 0, 1) ? magnitude : -magnitude);
    return std::string(digits);
  };
  const Case cases[] = {
      {"a int", [&](auto& r) { return std::to_string(pick(r, INT32_MIN, INT32_MAX)); }, true},
      {"a int descending", [&](auto& r) { return std::to_string(pick(r, -50, 50)); }, true},
      // Thousands of distinct keys in a range narrower than the column (an array of them), and a
      // hundred spread over a wide range (hashed).
      {"a int", [&](auto& r) { return std::to_string(pick(r, -5000, 5000)); }, true},
      {"a int descending", [&](auto& r) { return std::to_string(pick(r, -50, 49) * 1000003); },
       true},
      {"a double", [&](auto& r) { return std::to_string(1000 + pick(r, 0, 200) / 8.0); }, true},
      {"a double descending", wideDouble, true},
      {"a double", wideDouble, true},
      {"a decimal(12,2)", [&](auto& r) { return std::to_string(pick(r, -99999, 99999)) + ".25"; },
       true},
      {"a datetime",
       [&](auto& r) {
         return "2020-01-10 12:" + std::to_string(10 + pick(r, 0, 49)) + ":" +
                std::to_string(10 + pick(r, 0, 49));
       },
       false},
      {"a date", [&](auto& r) { return "2020-01-" + std::to_string(10 + pick(r, 0, 18)); }, false},
      {"a date",
       [&](auto& r) {
         return std::to_string(pick(r, 1000, 9999)) + "-0" + std::to_string(pick(r, 1, 9)) + "-" +
                std::to_string(pick(r, 10, 28));
       },
       false},
      // More than 18 digits: keys of 128 bits, compared rather than radix sorted.
      {"a decimal(30,4) descending",
       [&](auto& r) { return std::to_string(pick(r, -99999, 99999)) + "0000000000000000000.5"; },
       true},
  };
  std::mt19937_64 random(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.definition);
    ExpectGroupedLikeValues(c.definition, c.value, c.numeric, random);
  }
}

}  // namespace
}  // namespace orv
