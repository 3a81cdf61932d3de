// Symbol collection over column stores: the order of symbols, the stored index values and the
// null handling, for the cases where the type's ordering is subtle.
#include "qvd/symbol_collector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

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
    auto [value, size] = column.data->ValueAt(symbols.order[k]);
    texts.emplace_back(column.layout[0].FormatText(value, size, scratch));
  }
  return texts;
}

TEST(SymbolCollector, WorkedExampleWithAndWithoutNullText) {
  auto column = ColumnOf("a int nullable", "5\n3\n\n5\n9\n");
  auto plain = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(SymbolTexts(*column, plain), (std::vector<std::string>{"3", "5", "9"}));
  EXPECT_EQ(plain.stored, (std::vector<uint8_t>{3, 2, 0, 3, 4}));
  EXPECT_EQ(plain.firstValueIndex, 2);
  EXPECT_EQ(plain.symbolBytes, 15u);
  auto withText = CollectSymbols<uint8_t>(*column->data, column->records, std::string());
  EXPECT_EQ(withText.stored, (std::vector<uint8_t>{2, 1, 0, 2, 3}));
  EXPECT_EQ(withText.firstValueIndex, 1);
  EXPECT_EQ(withText.symbolBytes, 17u);
}

TEST(SymbolCollector, DescendingFieldKeepsNullsFirst) {
  auto column = ColumnOf("a int nullable descending", "5\n\n9\n3\n\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(SymbolTexts(*column, symbols), (std::vector<std::string>{"9", "5", "3"}));
  EXPECT_EQ(symbols.stored, (std::vector<uint8_t>{3, 0, 2, 4, 0}));
}

TEST(SymbolCollector, EveryNaNIsASymbolOfItsOwnAfterTheNumbers) {
  auto column = ColumnOf("a double", "nan\n2\n-0.0\nnan\n0\n-inf\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  auto texts = SymbolTexts(*column, symbols);
  ASSERT_EQ(texts.size(), 5u);  // -inf, one zero for -0.0 and 0, 2, and each NaN
  EXPECT_EQ(texts[0], "-inf");
  EXPECT_EQ(texts[2], "2");
  EXPECT_TRUE(texts[3] == "nan" && texts[4] == "nan");
  EXPECT_EQ(symbols.stored[2], symbols.stored[4]);
  EXPECT_NE(symbols.stored[0], symbols.stored[3]);
}

TEST(SymbolCollector, StringsEqualUnderTheCollationShareOneSymbol) {
  // "é" precomposed and as "e" with a combining accent are canonically equivalent.
  auto column = ColumnOf("a string collation=\"en_US\"", "b\n\xC3\xA9\ne\xCC\x81\nB\n\xC3\xA9\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::nullopt);
  EXPECT_EQ(symbols.symbolCount, 3u);  // b, B, é
  EXPECT_EQ(SymbolTexts(*column, symbols)[0], "b");
  EXPECT_EQ(symbols.stored[1], symbols.stored[2]);
  EXPECT_EQ(symbols.stored[1], symbols.stored[4]);
  EXPECT_EQ(symbols.stored[0], 0);
  EXPECT_EQ(symbols.stored[3], 1);
}

TEST(SymbolCollector, ByteOrderWithoutCollation) {
  auto column = ColumnOf("a string nullable", "b\n\nB\n\na\nb\n");
  auto symbols = CollectSymbols<uint8_t>(*column->data, column->records, std::string("N/A"));
  EXPECT_EQ(SymbolTexts(*column, symbols), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_EQ(symbols.stored, (std::vector<uint8_t>{3, 0, 1, 0, 2, 3}));
  EXPECT_EQ(symbols.symbolBytes, 5u + 3 * 3);
}

}  // namespace
}  // namespace orv
