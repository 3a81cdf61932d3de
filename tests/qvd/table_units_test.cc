// The units of the QVD table reader on literal bytes: the bit layout of rows, the filter, the
// binding of fields, and the reader as a whole over a file in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvd/field_binding.h"
#include "qvd/filter.h"
#include "qvd/row_layout.h"
#include "qvd/table_reader.h"
#include "tests/drawoff/qvd_builder.h"
#include "types/type_traits_parser.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::DualIntSymbol;
using testing::FieldMetadata;
using testing::IntSymbol;
using testing::TextSymbol;

TypeTraitsCollection Layout(const std::string& text) {
  TypeTraitsCollection layout;
  EXPECT_FALSE(TypeTraitsParser::ParseInlineFields(text, layout));
  layout.Prepare();
  return layout;
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
      {"fits", {FieldMetadata("a", 0, 3), FieldMetadata("b", 3, 5)}, 1, 10, ""},
      {"gap and padding", {FieldMetadata("a", 0, 3), FieldMetadata("b", 9, 5)}, 4, 10, ""},
      {"beyond the row",
       {FieldMetadata("a", 0, 3), FieldMetadata("b", 4, 5)},
       1,
       1,
       "Bad bit layout of field 'b' in QVD table header."},
      {"overlap",
       {FieldMetadata("a", 0, 4), FieldMetadata("b", 3, 2)},
       1,
       1,
       "Bad bit layout of field 'b' in QVD table header."},
      {"wider than 32 bits",
       {FieldMetadata("a", 0, 33)},
       8,
       1,
       "Bad bit layout of field 'a' in QVD table header."},
      {"offset overflow",
       {FieldMetadata("a", UINT64_MAX, 2)},
       8,
       1,
       "Bad bit layout of field 'a' in QVD table header."},
      {"record bytes overflow",
       {FieldMetadata("a", 0, 8)},
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
  EXPECT_EQ(BitSlot::Of(FieldMetadata("a", 0, 3)).SymbolOf(row), 5);
  EXPECT_EQ(BitSlot::Of(FieldMetadata("b", 3, 10)).SymbolOf(row), 118);
  EXPECT_EQ(BitSlot::Of(FieldMetadata("c", 0, 0, 7)).SymbolOf(row), 7);  // width 0: Bias alone
  const char zero[10] = {};
  EXPECT_EQ(BitSlot::Of(FieldMetadata("n", 0, 2, qvd::kNullBias)).SymbolOf(zero), -1);
  EXPECT_EQ(BitSlot::Of(FieldMetadata("n", 0, 3, qvd::kNullBias)).SymbolOf(row), 5 - 2);
  EXPECT_EQ(BitSlot::Of(FieldMetadata("n", 0, 2, qvd::kNullBias)).SymbolOf(row),
            INT64_MIN);  // 1 - 2
  EXPECT_EQ(BitSlot::Of(FieldMetadata("m", 0, 2, -5)).SymbolOf(row), INT64_MIN);
}

TEST(RowLayout, OrdersFieldsByBitsAndNamesTheFieldACutRowLoses) {
  QvdTableMetadata table;
  table.recordByteSize = 4;
  const std::vector<QvdFieldMetadata> fields = {
      FieldMetadata("late", 16, 4), FieldMetadata("early", 0, 8), FieldMetadata("constant", 0, 0)};
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
    QvdFieldMetadata field = FieldMetadata("n", 0, 1);
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

  const std::vector<QvdFieldMetadata> fields = {FieldMetadata(" Name ", 0, 1),
                                                FieldMetadata("Id", 1, 1, -2)};
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

TEST(QvdTableReader, AChunkPastItsOutputBudgetGoesOnRowByRow) {
  // 20,000 rows in chunks of 1,024, each naming one of 4 texts and one of 4 ints. With a text of
  // 300 bytes the rows convert it as they name it, else they go in batches of 256 rows (under
  // 5,000 bytes). Past a budget of 5,000 bytes each chunk's other rows are decoded on the calling
  // thread; with 1,000, which a batch could pass, all rows go the sequential way. Every way writes
  // the same.
  for (const size_t longest : {size_t{5}, size_t{300}}) {
    std::string texts;
    std::string ints;
    for (int s = 0; s < 4; ++s) {
      texts +=
          TextSymbol(std::string(s == 3 ? longest : size_t{1} + s, static_cast<char>('a' + s)));
      ints += IntSymbol(s * 1000);
    }
    std::string rows;
    for (int r = 0; r < 20000; ++r) {
      rows.push_back(static_cast<char>((r * 7 % 4) | (r * 5 % 4) << 2));
    }
    testing::QvdTable table({{"t", 0, 2, 0, texts, 4}, {"n", 2, 2, 0, ints, 4}}, 1, rows);
    for (const bool text : {false, true}) {
      TableReadOptions options;
      options.conversion.textOutput = text;
      options.chunked = false;
      const ReadResult whole = Read(table.Bytes(), "t string; n int", options);
      ASSERT_EQ(whole.message, "");
      options.chunked = true;
      options.chunkBatches = 4;
      for (const auto& [budget, threads] : {std::pair{5000u, 1u}, {5000u, 3u}, {1000u, 3u}}) {
        SCOPED_TRACE(::testing::Message() << longest << text << budget << threads);
        options.chunkOutputBytes = budget;
        options.threads = threads;
        const ReadResult chunked = Read(table.Bytes(), "t string; n int", options);
        EXPECT_EQ(chunked.message, "");
        EXPECT_TRUE(chunked.records == whole.records);
      }
    }
  }
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
