// Binary outputs of whole symbol tables: tables of plain numbers, read a run at a time, give the
// bytes that converting each symbol on its own gives, across runs and past symbols of other kinds.
#include "qvd/symbol_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/drawoff/qvd_builder.h"
#include "types/csv_text.h"
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

// A table of `symbols`, followed by `room` more readable bytes.
struct Table {
  Table(const std::vector<std::string>& symbols, std::optional<QvdNumberType> type, size_t room)
      : table(metadata) {
    for (const std::string& symbol : symbols) {
      bytes += symbol;
    }
    metadata.fieldName = "a";
    metadata.noOfSymbols = symbols.size();
    metadata.length = bytes.size();
    metadata.numberType = type;
    bytes.append(room, '\0');
  }
  std::string bytes;
  QvdFieldMetadata metadata;
  SymbolTable<uint32_t> table;
};

// Loads the table and the layout for `definition` (prepared unless it already holds fields, whose
// settings then stand).
bool Load(Table& t, const char* definition, TypeTraitsCollection& layout) {
  MemoryInput input(t.bytes.data(), t.bytes.size());
  LargeBuffer spare;
  if (!t.table.LoadInMemory(input, false, spare).ok() ||
      (layout.size() == 0 && TypeTraitsParser::ParseInlineFields(definition, layout))) {
    return false;
  }
  layout.Prepare();
  return true;
}

// The outputs of the table for the first field of `definition`, made into `layout` (see Load), in
// one pass or in `parts` parts on as many workers; the table and the layout must outlive them.
std::unique_ptr<SymbolOutputs> Convert(Table& t, const char* definition,
                                       TypeTraitsCollection& layout,
                                       const SymbolConversion& conversion, size_t parts = 1) {
  if (!Load(t, definition, layout)) {
    return nullptr;
  }
  if (parts == 1) {
    return MakeSymbolOutputs(t.table, layout[0], conversion);
  }
  std::unique_ptr<SymbolOutputs> made;
  TaskPool pool(static_cast<unsigned>(parts));
  MakeSymbolOutputsInParts(
      pool, parts, t.table, layout, 0, conversion,
      [&made](std::unique_ptr<SymbolOutputs> outputs) { made = std::move(outputs); });
  pool.Wait();
  return made;
}

// The binary outputs of the table of `symbols` for the one field of `definition`, made up front
// (too few symbols to lend); `table` must outlive them.
std::unique_ptr<SymbolOutputs> Convert(Table& t, const char* definition) {
  TypeTraitsCollection layout;
  return Convert(t, definition, layout, SymbolConversion());
}

std::unique_ptr<SymbolOutputs> Convert(const std::vector<std::string>& symbols,
                                       const char* definition,
                                       std::optional<QvdNumberType> type = {}) {
  Table table(symbols, type, 0);
  return Convert(table, definition);
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
    std::vector<std::string> symbols;
    for (int i = 0; i < kSymbols; ++i) {
      symbols.push_back(i == kOther ? (c.doubles ? TextSymbol("1234567") : TextSymbol("123"))
                        : c.doubles ? DoubleSymbol(i * 0.5 - 7)
                                    : IntSymbol(i * 7919 - 30000000));
    }
    const auto outputs = Convert(symbols, c.definition);
    ASSERT_NE(outputs, nullptr);
    const bool nullable = std::string(c.definition).ends_with("nullable");
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

// Datetimes and decimals read a run at a time only what they read exactly as one symbol at a time
// would; every other symbol (out of range, not exact, too large) is read alone, as the whole table
// is when a symbol of another size is added.
TEST(SymbolConversion, DatetimeAndDecimalRunsMatchSymbolBySymbol) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kEdge = 0x1p50 / 100;  // the largest decimal(_,2) read a run at a time
  const double odd[] = {kNaN,
                        kInf,
                        -kInf,
                        1e15,
                        -1e15,
                        3e6,
                        -7e5,
                        0.125,
                        1e-7,
                        -0.0,
                        kEdge,
                        kEdge + 0.5,
                        123456789012.34,
                        9.99999999999e11,
                        1e17,
                        1e300,
                        5e-324};
  const int32_t oddInts[] = {INT32_MIN, INT32_MAX, -1, 0, 2000000000, -2000000000, 9223};
  struct Case {
    const char* definition;
    std::optional<QvdNumberType> type;
    bool ints;
    double (*regular)(int);
  } cases[] = {
      {"a datetime", std::nullopt, false, [](int i) { return 40000 + i / 7.0; }},
      {"a datetime nullable", QvdNumberType::Time, false, [](int i) { return i / 86400.0; }},
      {"a datetime", std::nullopt, true, [](int i) { return i * 3.0 - 700000; }},
      {"a decimal(12,2)", std::nullopt, false,
       [](int i) { return (i * 137 % 100000) / 100.0 - 300; }},
      {"a decimal(18,4) nullable", std::nullopt, false, [](int i) { return i * 1.0001 - 2500; }},
      {"a decimal(18,15)", std::nullopt, true, [](int i) { return i * 1000.0 - 9e3; }},
      {"a decimal(9,0)", std::nullopt, true, [](int i) { return i * 4e5 - 1e9; }},
      {"a decimal(38,2)", std::nullopt, false, [](int i) { return i / 4.0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.definition + std::string(c.ints ? " of ints" : " of doubles"));
    std::vector<std::string> symbols;
    for (int i = 0; i < 6000; ++i) {
      const bool regular = i % 7 != 3;
      symbols.push_back(c.ints
                            ? IntSymbol(regular ? static_cast<int32_t>(c.regular(i))
                                                : oddInts[i / 7 % std::size(oddInts)])
                            : DoubleSymbol(regular ? c.regular(i) : odd[i / 7 % std::size(odd)]));
    }
    const auto runs = Convert(symbols, c.definition, c.type);
    symbols.push_back(TextSymbol("another size"));
    const auto single = Convert(symbols, c.definition, c.type);
    ASSERT_NE(runs, nullptr);
    ASSERT_NE(single, nullptr);
    for (uint64_t e = 1; e < symbols.size(); ++e) {
      ASSERT_EQ(runs->mark(e), single->mark(e)) << e;
      if (runs->mark(e) != SymbolOutputs::kUnreadable) {
        ASSERT_EQ(runs->bytes(e), single->bytes(e)) << e;
      }
    }
  }
}

// A large table whose every symbol is already its value's binary output lends its bytes to the
// outputs where the bytes after the table may be read; the entries, a nullable field's null and
// flag bytes included, are those of converting each symbol.
TEST(SymbolConversion, LargePlainTablesLendTheirBytes) {
  constexpr int kSymbols = 70000;
  struct Case {
    const char* definition;
    bool doubles;
    int other;    // a symbol of another kind but the same size, or -1
    size_t room;  // readable bytes after the table
    bool borrowed;
  } cases[] = {{"a int", false, -1, 64, true},          {"a double", true, -1, 64, true},
               {"a int nullable", false, -1, 64, true}, {"a double nullable", true, -1, 64, true},
               {"a double", false, -1, 64, true},       {"a int", false, 69999, 64, false},
               {"a int", false, -1, 63, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.definition << c.doubles << c.other << c.room);
    std::vector<std::string> symbols;
    for (int i = 0; i < kSymbols; ++i) {
      symbols.push_back(i == c.other ? TextSymbol("123")
                        : c.doubles  ? DoubleSymbol(i * 0.25 - 9)
                                     : IntSymbol(i * 30011 - 7));
    }
    Table table(symbols, std::nullopt, c.room);
    TypeTraitsCollection layout;  // outputs that read the values keep the field
    const auto outputs = Convert(table, c.definition, layout, SymbolConversion());
    ASSERT_NE(outputs, nullptr);
    EXPECT_EQ(outputs->borrowed(), c.borrowed);
    const bool nullable = std::string(c.definition).ends_with("nullable");
    char entry[SymbolOutputs::kMaxWidth];
    if (nullable) {
      ASSERT_EQ(std::string(entry, outputs->CopyEntry(0, entry)), "\x01");
    }
    for (int s = 0; s < kSymbols; ++s) {
      const uint64_t e = static_cast<uint64_t>(s) + 1;
      const std::string expected = c.doubles ? Stream(s * 0.25 - 9, nullable)
                                   : std::string(c.definition).starts_with("a double")
                                       ? Stream(static_cast<double>(s * 30011 - 7), nullable)
                                       : Stream(s * 30011 - 7, nullable);
      if (s != c.other) {
        ASSERT_EQ(std::string(entry, outputs->CopyEntry(e, entry)), expected) << s;
      }
    }
  }
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

struct PlainCase {
  const char* definition;
  char values;  // i: ints, d: doubles, c: hundredths as doubles, o: those and 0.125, t: times
  void (*setUp)(TypeTraitsCollection&);
  uint64_t rows;
  bool lent;
  bool text = true;
};

// 1,000 symbols of plain numbers: i: ints, d: doubles (special ones first), c: hundredths as
// doubles, o: those and 0.125, t: times.
std::vector<std::string> PlainSymbols(char values) {
  const double kNan = std::numeric_limits<double>::quiet_NaN();
  const double kInf = std::numeric_limits<double>::infinity();
  const std::vector<double> specials = {
      -0.0, 5e-324, 1e16, 9999999999999998, 1e-5, 0.0001, -1.2345678901234567e-300, kInf, -kInf,
      kNan, 0.1,    1e300};
  std::vector<std::string> symbols;
  for (int i = 0; i < 1000; ++i) {
    const int32_t integer = i == 7 ? INT32_MIN : i == 8 ? INT32_MAX : i * 30011 - 7;
    symbols.push_back(values == 'i'   ? IntSymbol(integer)
                      : values == 't' ? DoubleSymbol(36526 + i * (i % 2 ? 0.25 : 0.30001))
                      : values != 'd'
                          ? DoubleSymbol(i == 9 && values == 'o' ? 0.125 : (i * 7 - 3000) / 100.0)
                      : i < int(specials.size()) ? DoubleSymbol(specials[i])
                                                 : DoubleSymbol(i * 0.1 - 30));
  }
  return symbols;
}

// The case's table converted four ways: one symbol at a time (a symbol of another size ends the
// table), up front, lent and in parts; all but the lent outputs alike, and the lent ones, where
// the case prints or reads values as rows name the symbols, alike when copied or staged.
void ExpectLentAlike(const PlainCase& c) {
  const std::vector<std::string> symbols = PlainSymbols(c.values);
  std::unique_ptr<Table> tables[4];
  TypeTraitsCollection layout[4];
  SymbolConversion conversion;
  conversion.textOutput = conversion.checkOutput = c.text;
  conversion.rows = c.rows;
  std::unique_ptr<SymbolOutputs> outputs[4];
  for (int way = 0; way < 4; ++way) {
    ASSERT_FALSE(TypeTraitsParser::ParseInlineFields(c.definition, layout[way]));
    layout[way].Prepare();
    if (c.setUp != nullptr) {
      c.setUp(layout[way]);
    }
    conversion.leastBorrowed = way == 2 ? 1 : UINT64_MAX;
    std::vector<std::string> table = symbols;
    if (way == 0) {
      table.push_back(TextSymbol("another size"));
    }
    tables[way] = std::make_unique<Table>(
        table, c.values == 't' ? std::optional(QvdNumberType::Timestamp) : std::nullopt, 64);
    outputs[way] = Convert(*tables[way], c.definition, layout[way], conversion, way == 3 ? 3 : 1);
    ASSERT_NE(outputs[way], nullptr);
  }
  const uint64_t first = layout[0][0].nullable() ? 0 : 1;
  for (int way : {1, 3}) {
    ASSERT_FALSE(outputs[way]->borrowed());
    for (uint64_t e = first; e <= symbols.size(); ++e) {
      ASSERT_EQ(outputs[way]->mark(e), outputs[0]->mark(e)) << way << " " << e;
      ASSERT_EQ(outputs[way]->bytes(e), outputs[0]->bytes(e)) << way << " " << e;
    }
  }
  ASSERT_EQ(outputs[2]->borrowed(), c.lent);
  if (!c.lent) {
    return;
  }
  // Every entry alone, then all of them staged in one go.
  std::vector<const char*> entries;
  std::string expected;
  char entry[SymbolOutputs::kMaxWidth];
  for (uint64_t e = first; e <= symbols.size(); ++e) {
    EXPECT_EQ(outputs[2]->mark(e), SymbolOutputs::kClean);
    ASSERT_EQ(std::string(entry, outputs[2]->CopyEntry(e, entry)), outputs[0]->bytes(e)) << e;
    entries.push_back(outputs[2]->at(e));
    expected += outputs[0]->bytes(e);
  }
  const size_t width = outputs[2]->width();
  std::string stage(entries.size() * width + SymbolOutputs::kStageSlack, '\0');
  outputs[2]->Stage(entries.data(), entries.size(), stage.data());
  std::string staged;
  for (size_t r = 0; r < entries.size(); ++r) {
    const bool fixed = outputs[2]->fixed();
    staged.append(&stage[r * width + (fixed ? 0 : 1)],
                  fixed ? width : static_cast<uint8_t>(stage[r * width]));
  }
  EXPECT_EQ(staged, expected);
}

// Text outputs of a table of plain numbers, printed up front a run at a time (in one pass or in
// parts) or borrowed and printed as a row names each entry, are those of printing each symbol on
// its own; a field whose printing depends on the text (CSV quoting, a quote or separator that a
// number may hold), a null that would break the text, or rows that name each symbol many times take
// the table printed up front.
TEST(SymbolConversion, PlainTablesPrintedAsRowsNameThemMatchPrintingUpFront) {
  const PlainCase cases[] = {
      {"a int; b int", 'i', nullptr, 2000, true},
      {"a double nullable", 'd', nullptr, 0, true},
      {"a double; b int", 'd', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ';'); }, 0, true},
      {"a int nullable", 'i', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ','); }, 0, true},
      {"a double", 'd', [](TypeTraitsCollection& l) { l[0].SetQuote('\''); }, 0, true},
      {"a double", 'i', nullptr, 0, true},
      {"a decimal(12,2); b int", 'c', nullptr, 0, true},
      {"a decimal(12,2) nullable", 'c', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ';'); }, 0,
       true},
      {"a decimal(4,1)", 'i', nullptr, 0, true},
      {"a string; b int", 'd', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ','); }, 0, true},
      {"a string", 'i', [](TypeTraitsCollection& l) { l[0].SetQuote('\''); }, 0, true},
      {"a string nullable", 't', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ','); }, 0, true},
      {"a datetime; b int", 't', nullptr, 0, true},
      {"a datetime nullable", 't', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ';'); }, 0,
       true},
      {"a string", 't', nullptr, 0, true},
      {"a datetime(\"%d/%m/%Y %H.%M\")", 't', nullptr, 0, false},
      {"a datetime; b int", 't', [](TypeTraitsCollection& l) { l[0].SetSeparator(":"); }, 0, false},
      {"a string", 'd', nullptr, 0, true},
      {"a string; b int", 'd', [](TypeTraitsCollection& l) { l[0].SetSeparator("."); }, 0, false},
      {"a string(20)", 'i', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, ','); }, 0, false},
      {"a int", 'i', nullptr, 2002, false},
      {"a double; b int", 'd', [](TypeTraitsCollection& l) { ApplyCsvOutput(l, '.'); }, 0, false},
      {"a int", 'i', [](TypeTraitsCollection& l) { l[0].SetQuote('1'); }, 0, false},
      {"a int; b int", 'i', [](TypeTraitsCollection& l) { l[0].SetSeparator("-"); }, 0, false},
      {"a double nullable", 'd', [](TypeTraitsCollection& l) { l[0].AddNullToken("x\ny"); }, 0,
       false},
      {"a decimal(12,2)", 'o', nullptr, 0, false},
      {"a decimal(38,2)", 'c', nullptr, 0, false},
  };
  for (const PlainCase& c : cases) {
    SCOPED_TRACE(c.definition + std::string(" ") + std::to_string(&c - cases));
    ExpectLentAlike(c);
  }
}

// Binary outputs of values that take reading (days to seconds, doubles to decimals, ints to
// doubles), read as a row names each entry, are those of converting up front; a table with a
// symbol the field can't take that way, values of 16 bytes, or rows that name each symbol many
// times take the table converted up front.
TEST(SymbolConversion, PlainTablesReadAsRowsNameThemMatchConvertingUpFront) {
  const PlainCase cases[] = {
      {"a datetime", 't', nullptr, 2000, true, false},
      {"a datetime nullable; b int", 't', nullptr, 0, true, false},
      {"a decimal(12,2)", 'c', nullptr, 0, true, false},
      {"a decimal(12,2) nullable", 'c', nullptr, 0, true, false},
      {"a double nullable", 'i', nullptr, 0, true, false},
      {"a datetime", 't', nullptr, 2002, false, false},
      {"a decimal(12,2)", 'o', nullptr, 0, false, false},
      {"a decimal(38,2)", 'c', nullptr, 0, false, false},
      {"a int", 'c', nullptr, 0, false, false},
  };
  for (const PlainCase& c : cases) {
    SCOPED_TRACE(c.definition + std::string(" ") + std::to_string(&c - cases));
    ExpectLentAlike(c);
  }
}

// A large table is checked in pieces on the pool's threads: one symbol the field can't read
// plainly, in any piece, keeps the table from being lent, whatever the thread count.
TEST(SymbolConversion, PiecesOnThreadsFindASymbolThatIsNotPlain) {
  constexpr int kCount = 600000;  // three pieces
  for (const int odd : {-1, 0, 300000, kCount - 1}) {
    std::vector<std::string> symbols;
    for (int i = 0; i < kCount; ++i) {
      symbols.push_back(DoubleSymbol(i == odd ? 0.125 : (i % 20000) / 100.0));
    }
    for (const unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(odd) + " on " + std::to_string(threads) + " threads");
      Table table(symbols, std::nullopt, 64);
      TypeTraitsCollection layout;
      ASSERT_TRUE(Load(table, "a decimal(12,2)", layout));
      SymbolConversion conversion;
      conversion.leastBorrowed = 1;
      TaskPool pool(threads);
      const auto lent = LendSymbolOutputs(table.table, layout[0], conversion, &pool);
      EXPECT_EQ(lent != nullptr, odd < 0);
    }
  }
}

}  // namespace
}  // namespace orv
