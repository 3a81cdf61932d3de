// Binary outputs of whole symbol tables: tables of plain numbers, read a run at a time, give the
// bytes that converting each symbol on its own gives, across runs and past symbols of other kinds.
#include "qvd/symbol_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/drawoff/qvd_builder.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::IntSymbol;
using testing::TextSymbol;

// The binary output bytes of one value as the record stream holds it.
template <typename T>
std::string Stream(T value, bool nullable) {
  return (nullable ? std::string(1, '\0') : "") +
         std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

TEST(SymbolConversion, PlainNumberTablesConvertAsSymbolBySymbol) {
  constexpr int kSymbols = 9000;  // runs of 4096 and a part of one
  constexpr int kOther = 4500;    // a symbol of another kind but the same size
  struct Case {
    const char* definition;
    bool doubles;  // the table holds doubles, else ints
  } cases[] = {{"a int", false},
               {"a int nullable", false},
               {"a double", true},
               {"a double nullable", true},
               {"a double", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.definition + std::string(c.doubles ? " of doubles" : " of ints"));
    std::string bytes;
    for (int i = 0; i < kSymbols; ++i) {
      bytes += i == kOther ? (c.doubles ? TextSymbol("1234567") : TextSymbol("123"))
               : c.doubles ? DoubleSymbol(i * 0.5 - 7)
                           : IntSymbol(i * 7919 - 30000000);
    }
    QvdFieldMetadata metadata;
    metadata.fieldName = "a";
    metadata.noOfSymbols = kSymbols;
    metadata.length = bytes.size();
    SymbolTable<uint32_t> table(metadata);
    MemoryInput input(bytes.data(), bytes.size());
    LargeBuffer spare;
    ASSERT_TRUE(table.LoadInMemory(input, false, spare).ok());
    ASSERT_NE(table.uniformSize(), 0u);
    TypeTraitsCollection layout;
    ASSERT_FALSE(TypeTraitsParser::ParseInlineFields(c.definition, layout));
    layout.Prepare();
    const auto outputs = MakeSymbolOutputs(table, layout[0], SymbolConversion());
    ASSERT_NE(outputs, nullptr);
    const bool nullable = layout[0].nullable();
    const bool toDouble = std::string(c.definition).starts_with("a double");
    for (int s = 0; s < kSymbols; ++s) {
      const uint64_t e = static_cast<uint64_t>(s) + 1;
      if (s == kOther && !toDouble) {
        EXPECT_EQ(outputs->mark(e), SymbolOutputs::kUnreadable);  // text for an int
        continue;
      }
      const int32_t integer = s * 7919 - 30000000;
      const std::string expected = s == kOther ? Stream(c.doubles ? 1234567.0 : 123.0, nullable)
                                   : c.doubles ? Stream(s * 0.5 - 7, nullable)
                                   : toDouble  ? Stream(static_cast<double>(integer), nullable)
                                               : Stream(integer, nullable);
      ASSERT_EQ(outputs->bytes(e), expected) << s;
      ASSERT_EQ(outputs->mark(e), SymbolOutputs::kClean) << s;
    }
  }
}

}  // namespace
}  // namespace orv
