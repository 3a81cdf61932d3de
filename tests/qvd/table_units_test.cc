// The units of the QVD table reader on literal bytes: symbol table scans, the bit layout of rows,
// the filter, the binding of fields, and the reader as a whole over a file in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qvd/field_binding.h"
#include "qvd/filter.h"
#include "qvd/row_layout.h"
#include "qvd/symbol_table.h"
#include "qvd/table_reader.h"
#include "runtime/workers.h"
#include "tests/drawoff/qvd_builder.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::DualIntSymbol;
using testing::IntSymbol;
using testing::TextSymbol;

QvdFieldMetadata Field(const std::string& name, uint64_t offset, uint64_t width, int8_t bias = 0) {
  QvdFieldMetadata field;
  field.fieldName = name;
  field.bitOffset = offset;
  field.bitWidth = width;
  field.bias = bias;
  return field;
}

TypeTraitsCollection Layout(const std::string& text) {
  TypeTraitsCollection layout;
  EXPECT_FALSE(TypeTraitsParser::ParseInlineFields(text, layout));
  layout.Prepare();
  return layout;
}

// --- Symbol tables ------------------------------------------------------------------------------

struct TableCase {
  const char* name;
  std::string bytes;
  uint64_t noOfSymbols;
  std::string message;  // empty: loads
  uint64_t uniformSize = 0;
};

TEST(SymbolTable, LoadsOrNamesTheDamage) {
  const std::string damaged = "Symbol table of field 'F' is damaged.";
  const std::string cut = "Error reading symbol table of field 'F'.";
  const std::vector<TableCase> cases = {
      {"ints", IntSymbol(1) + IntSymbol(-7), 2, "", 5},
      {"doubles", DoubleSymbol(0.5) + DoubleSymbol(-0.0), 2, "", 9},
      {"texts of one size", TextSymbol("ab") + TextSymbol("cd"), 2, "", 4},
      {"mixed sizes", IntSymbol(1) + TextSymbol("x") + DualIntSymbol(3, "3"), 3, "", 0},
      {"empty table", "", 0, "", 0},
      {"unknown kind", std::string("\x03", 1) + "abcd", 1, damaged},
      {"text without its end", TextSymbol("ab").substr(0, 3), 1, damaged},
      {"int cut in its payload", IntSymbol(5).substr(0, 3), 1, damaged},
      {"more symbols than bytes", IntSymbol(5), 2, damaged},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    QvdFieldMetadata field = Field("F", 0, 0);
    field.noOfSymbols = c.noOfSymbols;
    field.length = c.bytes.size();
    SymbolTable<uint32_t> table(field);
    MemoryInput input(c.bytes.data(), c.bytes.size());
    LargeBuffer spare;
    const Status status = table.LoadInMemory(input, false, spare);
    EXPECT_EQ(status.message(), c.message);
    if (status.ok()) {
      EXPECT_EQ(table.uniformSize(), c.uniformSize);
    }
  }
  // The file ends inside the table.
  QvdFieldMetadata field = Field("F", 0, 0);
  field.noOfSymbols = 2;
  field.length = 10;
  const std::string bytes = IntSymbol(1);
  SymbolTable<uint8_t> table(field);
  MemoryInput input(bytes.data(), bytes.size());
  LargeBuffer spare;
  EXPECT_EQ(table.LoadInMemory(input, false, spare).message(), cut);
}

TEST(SymbolTable, TablesMustTileTheSymbolAreaInHeaderOrder) {
  auto fields = [](std::optional<uint64_t> a, std::optional<uint64_t> b) {
    std::vector<QvdFieldMetadata> result = {Field("A", 0, 1), Field("B", 1, 1)};
    result[0].offset = a;
    result[0].length = 10;
    result[1].offset = b;
    result[1].length = 5;
    return result;
  };
  const std::string bad = "Bad symbol table offset of field 'B' in QVD table header.";
  EXPECT_TRUE(CheckSymbolArea(fields(0, 10)).ok());
  EXPECT_TRUE(CheckSymbolArea(fields(std::nullopt, std::nullopt)).ok());
  EXPECT_EQ(CheckSymbolArea(fields(5, 0)).message(),
            "Bad symbol table offset of field 'A' in QVD table header.");  // stored B, then A
  EXPECT_EQ(CheckSymbolArea(fields(0, 11)).message(), bad);
  std::vector<QvdFieldMetadata> huge = fields(0, std::nullopt);
  huge[0].length = UINT64_MAX;
  EXPECT_EQ(CheckSymbolArea(huge).message(), bad);
}

TEST(SymbolTable, FetchesEachSymbolAndNothingBeyond) {
  const std::string bytes = IntSymbol(1) + TextSymbol("hello") + DoubleSymbol(2.5);
  QvdFieldMetadata field = Field("F", 0, 0);
  field.noOfSymbols = 3;
  field.length = bytes.size();
  SymbolTable<uint8_t> table(field);
  MemoryInput input(bytes.data(), bytes.size());
  LargeBuffer spare;
  ASSERT_TRUE(table.LoadInMemory(input, false, spare).ok());
  const char* symbol = nullptr;
  size_t size = 0;
  ASSERT_TRUE(table.Fetch(1, symbol, size));
  EXPECT_EQ(std::string(symbol, size), TextSymbol("hello"));
  ASSERT_TRUE(table.Fetch(2, symbol, size));
  EXPECT_EQ(std::string(symbol, size), DoubleSymbol(2.5));
  EXPECT_FALSE(table.Fetch(3, symbol, size));
}

// A table of numbers large enough to be checked in pieces on several threads: one odd pair of
// symbols in any piece (two texts that together take two numbers' bytes) makes it a table of
// mixed sizes, scanned symbol by symbol.
TEST(SymbolTable, PiecesOnThreadsFindAnOddSymbolAnywhere) {
  constexpr uint64_t kCount = 600000;
  const std::string odd = TextSymbol("a") + TextSymbol("bcdef");
  ASSERT_EQ(odd.size(), 2 * IntSymbol(0).size());
  for (const uint64_t at : {uint64_t{0}, uint64_t{1}, uint64_t{300000}, kCount - 2, kCount}) {
    std::string bytes;
    for (uint64_t s = 0; s < kCount; ++s) {
      bytes += s == at ? odd : s == at + 1 ? "" : IntSymbol(static_cast<int32_t>(s));
    }
    for (const unsigned threads : {1u, 2u, 3u}) {
      SCOPED_TRACE(std::to_string(at) + " on " + std::to_string(threads) + " threads");
      QvdFieldMetadata field = Field("F", 0, 0);
      field.noOfSymbols = kCount;
      field.length = bytes.size();
      SymbolTable<uint32_t> table(field);
      MemoryInput input(bytes.data(), bytes.size());
      LargeBuffer spare;
      TaskPool pool(threads);
      ASSERT_TRUE(table.ReadInMemory(input, false, spare).ok());
      ASSERT_TRUE(table.ScanInMemory(&pool).ok());
      EXPECT_EQ(table.uniformSize(), at == kCount ? 5u : 0u);
      const char* symbol = nullptr;
      size_t size = 0;
      ASSERT_TRUE(table.Fetch(std::min(at, kCount - 1), symbol, size));
      EXPECT_EQ(std::string(symbol, size), at == kCount ? IntSymbol(kCount - 1) : TextSymbol("a"));
    }
  }
}

// A table kept on disk is scanned from the stream: numbers of one kind a buffer at a time (a
// symbol may straddle two buffers), then symbol by symbol from the first one of another kind.
TEST(SymbolTable, OnDiskScanFindsAnOddSymbolAnywhere) {
  constexpr uint64_t kCount = 100000;  // 500,000 bytes: several of the input's buffers
  const std::string odd = TextSymbol("a") + TextSymbol("bcdef");
  struct Case {
    uint64_t at;  // where the odd pair (or a bad kind byte) lies; kCount: nowhere
    bool badKind;
    uint64_t fileBytes;  // of the table's bytes, those in the file
    bool unbuffered;
    std::string message;
  };
  const std::vector<Case> cases = {
      {0, false, 0, false, ""},
      {1, false, 0, false, ""},
      {13107, false, 0, false, ""},  // the pair straddles the first buffer's end
      {kCount - 2, false, 0, false, ""},
      {kCount, false, 0, false, ""},
      {13107, false, 0, true, ""},
      {50000, true, 0, false, "Symbol table of field 'F' is damaged."},
      {kCount, false, 250002, false, "Error reading symbol table of field 'F'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.at) + (c.badKind ? " bad kind" : "") +
                 (c.unbuffered ? " unbuffered" : ""));
    std::string bytes;
    for (uint64_t s = 0; s < kCount; ++s) {
      bytes += s == c.at ? odd : s == c.at + 1 ? "" : IntSymbol(static_cast<int32_t>(s));
    }
    if (c.badKind) {
      bytes[c.at * 5] = '\x03';
    }
    char path[] = "/tmp/orv_table_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const size_t kept = c.fileBytes == 0 ? bytes.size() : c.fileBytes;
    ASSERT_EQ(write(fd, bytes.data(), kept), static_cast<ssize_t>(kept));
    close(fd);
    FILE* file = fopen(path, "rb");
    ASSERT_NE(file, nullptr);
    QvdFieldMetadata field = Field("F", 0, 0);
    field.noOfSymbols = kCount;
    field.length = bytes.size();
    SymbolTable<uint32_t> table(field);
    auto input = IFileInput::Create(file, c.unbuffered, false, false);
    EXPECT_EQ(table.LoadOnDisk(*input, false, path).message(), c.message);
    if (c.message.empty()) {
      EXPECT_EQ(table.uniformSize(), c.at == kCount ? 5u : 0u);
      const char* symbol = nullptr;
      size_t size = 0;
      for (uint64_t s = c.at == 0 ? 0 : c.at - 1; s < std::min(c.at + 2, kCount); ++s) {
        ASSERT_TRUE(table.Fetch(s, symbol, size));
        EXPECT_EQ(std::string(symbol, size), s == c.at       ? TextSymbol("a")
                                             : s == c.at + 1 ? TextSymbol("bcdef")
                                                             : IntSymbol(static_cast<int32_t>(s)));
      }
    }
    fclose(file);
    unlink(path);
  }
}

// --- Row layout ---------------------------------------------------------------------------------

TEST(RowLayout, RefusesBitRangesOutsideTheRowOrOverlapping) {
  struct Case {
    const char* name;
    std::vector<QvdFieldMetadata> fields;
    uint64_t recordByteSize;
    uint64_t noOfRecords;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"fits", {Field("a", 0, 3), Field("b", 3, 5)}, 1, 10, ""},
      {"gap and padding", {Field("a", 0, 3), Field("b", 9, 5)}, 4, 10, ""},
      {"beyond the row",
       {Field("a", 0, 3), Field("b", 4, 5)},
       1,
       1,
       "Bad bit layout of field 'b' in QVD table header."},
      {"overlap",
       {Field("a", 0, 4), Field("b", 3, 2)},
       1,
       1,
       "Bad bit layout of field 'b' in QVD table header."},
      {"wider than 32 bits",
       {Field("a", 0, 33)},
       8,
       1,
       "Bad bit layout of field 'a' in QVD table header."},
      {"offset overflow",
       {Field("a", UINT64_MAX, 2)},
       8,
       1,
       "Bad bit layout of field 'a' in QVD table header."},
      {"record bytes overflow",
       {Field("a", 0, 8)},
       2,
       UINT64_MAX / 2 + 1,
       "Bad record count in QVD table header."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QvdTableMetadata table;
    table.recordByteSize = c.recordByteSize;
    table.noOfRecords = c.noOfRecords;
    EXPECT_EQ(CheckBitLayout(table, c.fields).message(), c.message);
  }
}

TEST(RowLayout, ReadsStoredValuesLeastSignificantBitFirst) {
  // Row bytes 0xB5 0x03: bits 0-2 = 5, bits 3-12 = 0b0001110110 = 118.
  const char row[10] = {'\xB5', '\x03'};
  EXPECT_EQ(BitSlot::Of(Field("a", 0, 3)).SymbolOf(row), 5);
  EXPECT_EQ(BitSlot::Of(Field("b", 3, 10)).SymbolOf(row), 118);
  EXPECT_EQ(BitSlot::Of(Field("c", 0, 0, 7)).SymbolOf(row), 7);  // width 0: Bias alone
  const char zero[10] = {};
  EXPECT_EQ(BitSlot::Of(Field("n", 0, 2, qvd::kNullBias)).SymbolOf(zero), -1);
  EXPECT_EQ(BitSlot::Of(Field("n", 0, 3, qvd::kNullBias)).SymbolOf(row), 5 - 2);
  EXPECT_EQ(BitSlot::Of(Field("n", 0, 2, qvd::kNullBias)).SymbolOf(row), INT64_MIN);  // 1 - 2
  EXPECT_EQ(BitSlot::Of(Field("m", 0, 2, -5)).SymbolOf(row), INT64_MIN);
}

TEST(RowLayout, OrdersFieldsByBitsAndNamesTheFieldACutRowLoses) {
  QvdTableMetadata table;
  table.recordByteSize = 4;
  const std::vector<QvdFieldMetadata> fields = {Field("late", 16, 4), Field("early", 0, 8),
                                                Field("constant", 0, 0)};
  RowLayout rows(table, fields);
  EXPECT_EQ(rows.order(), (std::vector<size_t>{1, 2, 0}));
  EXPECT_EQ(rows.usedBytes(), 3u);
  EXPECT_EQ(rows.tailBytes(), 1u);
  EXPECT_EQ(rows.FirstBeyond(0).fieldName, "early");
  EXPECT_EQ(rows.FirstBeyond(1).fieldName, "late");
}

// --- Filter -------------------------------------------------------------------------------------

TEST(Filter, SplitsAtTheFirstOperatorInSearchOrder) {
  struct Case {
    const char* text;
    std::string field;
    FilterOperator op;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"a==1", "a", FilterOperator::Equal, "1"},
      {"a<=1", "a", FilterOperator::LessOrEqual, "1"},
      {"a<1", "a", FilterOperator::Less, "1"},
      {"a>=1", "a", FilterOperator::GreaterOrEqual, "1"},
      {"a!=x<y", "a", FilterOperator::NotEqual, "x<y"},
      {"a<b==c", "a<b", FilterOperator::Equal, "c"},
      {"a>", "a", FilterOperator::Greater, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FilterCondition condition;
    ASSERT_TRUE(ParseFilterCondition(c.text, condition).ok());
    EXPECT_EQ(condition.fieldName, c.field);
    EXPECT_EQ(condition.op, c.op);
    EXPECT_EQ(condition.valueText, c.value);
  }
  FilterCondition condition;
  EXPECT_EQ(ParseFilterCondition("a=1", condition).message(), "Filter condition parsing failed.");
}

TEST(Filter, ComparesInAscendingOrderWhateverTheFieldsDirection) {
  TypeTraitsCollection layout = Layout("n int descending");
  for (const char* text : {"n<5", "n>=5"}) {
    SCOPED_TRACE(text);
    FilterCondition condition;
    ASSERT_TRUE(ParseFilterCondition(text, condition).ok());
    RowFilter filter;
    ASSERT_TRUE(filter.Bind(layout[0], condition).ok());
    filter.Reset(2);
    const std::string four = IntSymbol(4);
    QvdFieldMetadata field = Field("n", 0, 1);
    size_t size = 0;
    ASSERT_TRUE(layout[0].ReadQvdSymbol(four.data(), four.size(), field, size));
    EXPECT_EQ(filter.Known(0), -1);
    const bool less = condition.op == FilterOperator::Less;
    EXPECT_EQ(filter.Decide(0, layout[0]), less);
    EXPECT_EQ(filter.Known(0), less ? 1 : 0);
  }
  FilterCondition bad{"n", FilterOperator::Equal, "x"};
  RowFilter filter;
  EXPECT_EQ(filter.Bind(layout[0], bad).message(), "Error reading filter value: 'x\n'.");
}

// --- Field binding ------------------------------------------------------------------------------

TEST(FieldBinding, CountsNamesAndNulls) {
  const std::string unexpected = "Unexpected number of fields in QVD table: 2.";
  EXPECT_TRUE(CheckFieldCount(2, 2, false, true).ok());
  EXPECT_TRUE(CheckFieldCount(1, 2, true, true).ok());
  EXPECT_EQ(CheckFieldCount(1, 2, false, true).message(), unexpected);
  EXPECT_EQ(CheckFieldCount(3, 2, true, true).message(), unexpected);
  EXPECT_EQ(CheckFieldCount(1, 2, true, false).message(), unexpected);

  const std::vector<QvdFieldMetadata> fields = {Field(" Name ", 0, 1), Field("Id", 1, 1, -2)};
  TypeTraitsCollection layout = Layout("Id int nullable; Name string");
  FieldBinding binding;
  ASSERT_TRUE(BindFields(layout, fields, true, binding).ok());
  EXPECT_EQ(binding, (FieldBinding{1, 0}));
  EXPECT_TRUE(CheckNullable(layout, fields, binding).ok());
  TypeTraitsCollection strict = Layout("Id int");
  ASSERT_TRUE(BindFields(strict, fields, true, binding).ok());
  EXPECT_EQ(CheckNullable(strict, fields, binding).message(),
            "Incompatible types, field 'Id' must be nullable.");
  TypeTraitsCollection unknown = Layout("Code int");
  EXPECT_EQ(BindFields(unknown, fields, true, binding).message(),
            "Unrecognized field name: 'Code'.");
}

// --- The reader ---------------------------------------------------------------------------------

struct ReadResult {
  std::string records;
  std::string message;
};

ReadResult Read(const std::string& file, const std::string& layoutText, TableReadOptions options) {
  TypeTraitsCollection layout = Layout(layoutText);
  MemoryInput input(file.data(), file.size());
  QvdTableReader reader(layout, options);
  ReadResult result;
  BufferedFileOutput output(&result.records);
  IntervalStats stats("records");
  Status status = reader.Open(input);
  if (status.ok()) {
    status = reader.ReadRows(input, output, stats);
  }
  output.flush();
  result.message = status.message();
  return result;
}

TEST(QvdTableReader, ReportsTheRowOfABadSymbolAfterTheRowsBeforeIt) {
  // 300 rows name symbol 0 or 1; row 290 names symbol 2, which the table lacks. The first
  // batch of 256 rows goes whole, the second batch row by row.
  std::string rows;
  for (int r = 0; r < 300; ++r) {
    rows.push_back(static_cast<char>(r == 289 ? 2 : r % 2));
  }
  testing::QvdTable table({{"n", 0, 2, 0, IntSymbol(10) + IntSymbol(20), 2}}, 1, rows);
  TableReadOptions options;
  options.conversion.textOutput = true;
  const ReadResult result = Read(table.Bytes(), "n int", options);
  EXPECT_EQ(result.message, "Field reading failed: 'n' (record no. 290).");
  EXPECT_EQ(result.records.size(), 289u * 3);
  EXPECT_EQ(result.records.substr(0, 9), "10\n20\n10\n");
}

TEST(QvdTableReader, FiltersAndSkipsRows) {
  testing::QvdTable table({{"n", 0, 2, 0, IntSymbol(1) + IntSymbol(2) + IntSymbol(3), 3},
                           {"s", 2, 2, 0, TextSymbol("a") + TextSymbol("b") + TextSymbol("c"), 3}},
                          1, std::string("\x00\x05\x0A\x00\x05", 5));
  TableReadOptions options;
  options.conversion.textOutput = true;
  options.filters = {"n!=2"};
  options.firstRecord = 1;
  EXPECT_EQ(Read(table.Bytes(), "n int; s string", options).records, "3,c\n1,a\n");
}

TEST(QvdTableReader, SkipsTheBytesBetweenFarApartFields) {
  // Rows of 70,000 bytes with one byte used at each end: only those are read.
  const uint64_t rowBytes = 70000;
  std::string rows;
  for (char r = 0; r < 3; ++r) {
    std::string row(rowBytes, '\xFF');
    row[0] = r;
    row[rowBytes - 1] = static_cast<char>(2 - r);
    rows += row;
  }
  testing::QvdTable table(
      {{"near", 0, 8, 0, IntSymbol(10) + IntSymbol(11) + IntSymbol(12), 3},
       {"far", 8 * (rowBytes - 1), 8, 0, TextSymbol("x") + TextSymbol("y") + TextSymbol("z"), 3}},
      rowBytes, rows);
  TableReadOptions options;
  options.conversion.textOutput = true;
  EXPECT_EQ(Read(table.Bytes(), "near int; far string", options).records, "10,z\n11,y\n12,x\n");
  table.dataBytes = table.fields[0].symbols.size() + table.fields[1].symbols.size() + rowBytes + 10;
  EXPECT_EQ(Read(table.Bytes(), "near int; far string", options).message,
            "Error reading field data: 'far'.");
}

TEST(QvdTableReader, ARowMustPassEveryFilter) {
  testing::QvdTable table({{"n", 0, 2, 0, IntSymbol(1) + IntSymbol(2) + IntSymbol(3), 3},
                           {"s", 2, 2, 0, TextSymbol("a") + TextSymbol("b") + TextSymbol("c"), 3}},
                          1, std::string("\x00\x05\x0A\x00\x06", 5));
  struct Case {
    std::vector<std::string> filters;
    std::string records;
  };
  const Case cases[] = {
      {{"n>=2"}, "2,b\n3,c\n3,b\n"},
      {{"n>=2", "s!=c"}, "2,b\n3,b\n"},
      {{"n>=2", "n<3"}, "2,b\n"},  // two filters on one field: a range
      {{"n>=2", "s==a"}, ""},
  };
  for (const Case& c : cases) {
    TableReadOptions options;
    options.conversion.textOutput = true;
    options.filters = c.filters;
    EXPECT_EQ(Read(table.Bytes(), "n int; s string", options).records, c.records);
  }
}

TEST(QvdTableReader, ANullStoredOnePastTheTableUnderBiasZero) {
  // Some writers store a null as NoOfSymbols with Bias 0: null in a nullable field, a bad symbol
  // number anywhere else, and anything beyond it stays one.
  struct Case {
    std::string rows;
    const char* layout;
    std::string records;
    std::string message;
  };
  const Case cases[] = {
      {std::string("\x00\x02\x01", 3), "n int nullable", "1\n\n2\n", ""},
      {std::string("\x00\x02", 2), "n int", "1\n", "Field reading failed: 'n' (record no. 2)."},
      {std::string("\x03", 1), "n int nullable", "", "Field reading failed: 'n' (record no. 1)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    testing::QvdTable table({{"n", 0, 2, 0, IntSymbol(1) + IntSymbol(2), 2}}, 1, c.rows);
    TableReadOptions options;
    options.conversion.textOutput = true;
    const ReadResult result = Read(table.Bytes(), c.layout, options);
    EXPECT_EQ(result.records, c.records);
    EXPECT_EQ(result.message, c.message);
  }
}

TEST(QvdTableReader, ReadsFilesLaidOutAsOtherWritersDo) {
  // No NumberFormat and no Tags (the builder writes neither), fields in descending BitOffset order
  // in rows padded to 3 bytes, numbers stored as duals, a date stored as a whole-day double, and
  // nulls both under Bias -2 and as one past the table.
  testing::QvdTable table({{"amount", 12, 2, -2, DualIntSymbol(5, "5.00") + DoubleSymbol(7.5), 2},
                           {"day", 4, 1, 0, DoubleSymbol(45292.0), 1},
                           {"name", 0, 2, 0, TextSymbol("x") + TextSymbol("y"), 2}},
                          3,
                          // row 1: name 0, day 0, amount stored 2 (symbol 0); row 2: name 2 (null),
                          // amount 0 (null); row 3: name 1, amount stored 3 (symbol 1).
                          std::string("\x00\x20\x00\x02\x00\x00\x01\x30\x00", 9));
  TableReadOptions options;
  options.conversion.textOutput = true;
  const ReadResult result =
      Read(table.Bytes(), "amount string nullable; day date; name string nullable", options);
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(result.records, "5.00,2024-01-01,x\n,2024-01-01,\n7.5,2024-01-01,y\n");
}

TEST(QvdTableReader, RowsOfNoBytesAreDecidedOnce) {
  // Rows of no bytes are all the same row: a filter that rejects it ends the run at once.
  testing::QvdTable table({{"c", 0, 0, 0, IntSymbol(7), 1}}, 0, "");
  table.noOfRecords = uint64_t{1} << 60;
  TableReadOptions options;
  options.filters = {"c==8"};
  const ReadResult result = Read(table.Bytes(), "c int", options);
  EXPECT_EQ(result.message, "");
  EXPECT_EQ(result.records, "");
}

TEST(QvdTableReader, MemoryFollowsTheFileNotTheBitOffsetsItClaims) {
  // A 300-byte file whose one field lies 5 GB into its rows.
  const uint64_t offset = uint64_t{5} << 33;
  for (uint64_t records : {0, 1}) {
    SCOPED_TRACE(records);
    testing::QvdTable table({{"f", offset, 1, 0, IntSymbol(1), 1}}, offset / 8 + 1, "");
    table.noOfRecords = records;
    TableReadOptions options;
    const ReadResult result = Read(table.Bytes(), "f int", options);
    EXPECT_EQ(result.message, records == 0 ? "" : "Error reading field data: 'f'.");
    EXPECT_EQ(result.records, "");
  }
}

}  // namespace
}  // namespace orv
