// Whole QVD files written by packdown, compared byte for byte with files put together from the
// format: header lines, CR LF NUL, symbol tables, bit-packed index rows.
#include <gtest/gtest.h>

#include "tests/packdown/packdown_support.h"

namespace orv::packdown_test {
namespace {

// A int nullable holds 5, 3, null, 5, 9; B string holds "a" in every record.
std::string WorkedExample() {
  std::string records;
  for (const char* a : {"00 05000000", "00 03000000", "01", "00 05000000", "00 09000000"}) {
    records += Hex(a) + Hex("01000000") + "a";
  }
  return records;
}

TEST(PackdownGolden, WorkedExampleWithoutNullText) {
  ScratchDir dir;
  auto result = Packdown(dir, "-d 'A int nullable; B string'", WorkedExample());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<QvdTableHeader>\n"
            "  <QvBuildNo>50500</QvBuildNo>\n  <CreatorDoc></CreatorDoc>\n"
            "  <CreateUtcTime></CreateUtcTime>\n  <SourceCreateUtcTime></SourceCreateUtcTime>\n"
            "  <SourceFileUtcTime></SourceFileUtcTime>\n  <SourceFileSize>-1</SourceFileSize>\n"
            "  <StaleUtcTime></StaleUtcTime>\n  <TableName></TableName>\n  <Fields>\n"
            "    <QvdFieldHeader>\n      <FieldName>A</FieldName>\n"
            "      <NumberFormat>\n        <Type>INTEGER</Type>\n        <nDec>0</nDec>\n"
            "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n"
            "        <Thou></Thou>\n      </NumberFormat>\n"
            "      <Tags>\n        <String>$numeric</String>\n"
            "        <String>$integer</String>\n      </Tags>\n"
            "      <BitOffset>0</BitOffset>\n      <BitWidth>3</BitWidth>\n"
            "      <Bias>-2</Bias>\n      <NoOfSymbols>3</NoOfSymbols>\n"
            "      <Offset>0</Offset>\n      <Length>15</Length>\n      <Comment></Comment>\n"
            "    </QvdFieldHeader>\n"
            "    <QvdFieldHeader>\n      <FieldName>B</FieldName>\n"
            "      <NumberFormat>\n        <Type>ASCII</Type>\n        <nDec>0</nDec>\n"
            "        <UseThou>0</UseThou>\n        <Fmt></Fmt>\n        <Dec></Dec>\n"
            "        <Thou></Thou>\n      </NumberFormat>\n"
            "      <Tags>\n        <String>$text</String>\n      </Tags>\n"
            "      <BitOffset>3</BitOffset>\n      <BitWidth>5</BitWidth>\n"
            "      <Bias>0</Bias>\n      <NoOfSymbols>1</NoOfSymbols>\n"
            "      <Offset>15</Offset>\n      <Length>3</Length>\n      <Comment></Comment>\n"
            "    </QvdFieldHeader>\n"
            "  </Fields>\n  <Compression></Compression>\n  <RecordByteSize>1</RecordByteSize>\n"
            "  <NoOfRecords>5</NoOfRecords>\n  <Offset>18</Offset>\n  <Length>5</Length>\n"
            "  <Comment></Comment>\n  <Lineage></Lineage>\n</QvdTableHeader>" +
                Hex("0D0A00  01 03000000  01 05000000  01 09000000  04 61 00  03 02 00 03 04"));
}

TEST(PackdownGolden, WorkedExampleWithEmptyNullText) {
  ScratchDir dir;
  auto result = Packdown(dir, "-n -d 'A int nullable; B string'", WorkedExample());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, Header(FieldHeader("A", kIntTags, 0, 3, 0, 4, 0, 17) +
                                   FieldHeader("B", kTextTags, 3, 5, 0, 1, 17, 3),
                               1, 5, 20) +
                            Hex("04 00  01 03000000  01 05000000  01 09000000  04 61 00  "
                                "02 01 00 02 03"));
}

TEST(PackdownGolden, EmptyInputEndsRightAfterTheHeader) {
  ScratchDir dir;
  for (const char* options : {"", "-x", "-nNULL"}) {
    SCOPED_TRACE(options);
    auto result = Packdown(dir, std::string(options) + " -d 'A int nullable; B string'", "");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, Header(FieldHeader("A", kIntTags, 0, 0, 0, 0, 0, 0) +
                                     FieldHeader("B", kTextTags, 0, 0, 0, 0, 0, 0),
                                 0, 0, 0));
  }
}

// A holds only nulls, B one value; B is the last field and takes the padding.
TEST(PackdownGolden, AllNullFieldWithAndWithoutNullText) {
  ScratchDir dir;
  auto bare = Packdown(dir, "-x -d 'A int nullable; B string'", ",x\n,x\n");
  EXPECT_EQ(bare.out, Header(FieldHeader("A", kIntTags, 0, 2, -2, 0, 0, 0) +
                                 FieldHeader("B", kTextTags, 2, 6, 0, 1, 0, 3),
                             1, 2, 3) +
                          Hex("04 78 00  00 00"));
  auto named = Packdown(dir, "-nN/A -x -d 'A int nullable; B string'", ",x\n,x\n");
  EXPECT_EQ(named.out, Header(FieldHeader("A", kIntTags, 0, 1, 0, 1, 0, 5) +
                                  FieldHeader("B", kTextTags, 1, 7, 0, 1, 5, 3),
                              1, 2, 8) +
                           Hex("04 4E 2F 41 00  04 78 00  00 00"));
}

std::string IntSymbols(int count) {
  std::string symbols;
  for (int32_t v = 0; v < count; ++v) {
    symbols += '\x01' + LittleEndian(v);
  }
  return symbols;
}

// 3 + 7 bits: B grows to 13 and a row takes 2 bytes. 4 + 4 bits share a byte, A in the low half.
TEST(PackdownGolden, LastFieldIsPaddedToWholeBytes) {
  ScratchDir dir;
  std::string text, rows;
  for (int r = 0; r < 128; ++r) {
    text += std::to_string(r % 8) + "," + std::to_string(127 - r) + "\n";
    rows += LittleEndian(static_cast<uint16_t>(r % 8 | (127 - r) << 3));
  }
  EXPECT_EQ(Packdown(dir, "-x -d 'A int; B int'", text).out,
            Header(FieldHeader("A", kIntTags, 0, 3, 0, 8, 0, 40) +
                       FieldHeader("B", kIntTags, 3, 13, 0, 128, 40, 640),
                   2, 128, 680) +
                IntSymbols(8) + IntSymbols(128) + rows);
  text.clear();
  for (int r = 0; r < 16; ++r) {
    text += std::to_string(r) + "," + std::to_string((r + 1) % 16) + "\n";
  }
  EXPECT_EQ(Packdown(dir, "-x -d 'A int; B int'", text).out,
            Header(FieldHeader("A", kIntTags, 0, 4, 0, 16, 0, 80) +
                       FieldHeader("B", kIntTags, 4, 4, 0, 16, 80, 80),
                   1, 16, 160) +
                IntSymbols(16) + IntSymbols(16) +
                Hex("10 21 32 43 54 65 76 87 98 A9 BA CB DC ED FE 0F"));
}

// Nulls stay stored 0 ahead of the values, which a descending field orders from high to low.
TEST(PackdownGolden, DescendingFieldKeepsNullsFirstAndRoundTrips) {
  ScratchDir dir;
  auto result = Packdown(dir, "-x -d 'A int nullable descending'", "5\n\n3\n9\n\n");
  EXPECT_EQ(result.out, Header(FieldHeader("A", kIntTags, 0, 8, -2, 3, 0, 15), 1, 5, 15) +
                            Hex("01 09000000  01 05000000  01 03000000  03 00 04 02 00"));
  WriteFileBytes(dir / "a.qvd", result.out);
  auto back = RunProgram("drawoff", "-y -d 'A int nullable' -i " + ShellQuote(dir / "a.qvd"));
  EXPECT_EQ(back.out, "5\n\n3\n9\n\n");
}

std::string AfterHeader(const std::string& file) {
  const std::string end = std::string("</QvdTableHeader>\r\n") + '\0';
  size_t at = file.find(end);
  return at == std::string::npos ? std::string() : file.substr(at + end.size());
}

// Distinct values: symbols in the field's own order, then one stored byte per record.
TEST(PackdownGolden, SymbolsFollowTheFieldsOrdering) {
  const char* cases[][3] = {
      {"int", "10\n-3\n2\n", "01 FDFFFFFF  01 02000000  01 0A000000  02 00 01"},
      {"double", "0.5\n-inf\n-0.5\n",
       "02 000000000000F0FF  02 000000000000E0BF  02 000000000000E03F  02 00 01"},
      {"double", "2\nnan\n1\n2\n",  // NaN, in no order, goes last and splits nothing
       "02 000000000000F03F  02 0000000000000040  02 000000000000F87F  01 02 00 01"},
      {"decimal(20,2)", "10.00\n-3.00\n2.50\n",
       "04 2D332E3030 00  04 322E3530 00  04 31302E3030 00  02 00 01"},
      {"string", "b\nB\na\n", "04 42 00  04 61 00  04 62 00  02 00 01"},
      {"string collation=\"en\"", "b\nB\na\n", "04 61 00  04 62 00  04 42 00  01 02 00"},
      {"string descending", "b\nB\na\n", "04 62 00  04 61 00  04 42 00  00 02 01"},
      {"date descending", "2000-01-02\n1999-12-31\n2000-01-01\n",
       "01 AF8E0000  01 AE8E0000  01 AD8E0000  00 02 01"},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    auto result = Packdown(dir, "-x -d " + ShellQuote(std::string("F ") + c[0]), c[1]);
    EXPECT_EQ(AfterHeader(result.out), Hex(c[2])) << result.err;
  }
}

// A binary date past the end of its month (2023-02-30) is no day: it is refused like any bad
// value, not written as the day it would carry over to.
TEST(PackdownGolden, DatePastTheEndOfItsMonthIsRefused) {
  ScratchDir dir;
  auto result = Packdown(dir, "-d 'A date'", Hex("0103E707 1E02E707 0203E707"));
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(FailLines(result.err), 1u);
  EXPECT_EQ(testing::FailMessage(result.err), "Field reading failed: 'A' (record no. 2).");
}

std::string Format(const char* type, const char* format) {
  return NumberFormat(type, 0, format);
}

// One record of one field: width 0, the single symbol right after the header, then one padding
// byte for the row (a constant table's rows are a byte each).
TEST(PackdownGolden, EveryTypeWritesItsHeaderLinesAndSymbol) {
  const std::string date =
      Format("DATE", "YYYY-MM-DD") +
      "      <Tags>\n        <String>$numeric</String>\n"
      "        <String>$integer</String>\n        <String>$timestamp</String>\n"
      "        <String>$date</String>\n      </Tags>\n";
  const std::string stamp = Format("TIMESTAMP", "YYYY-MM-DD hh:mm:ss") +
                            "      <Tags>\n        <String>$numeric</String>\n"
                            "        <String>$timestamp</String>\n      </Tags>\n";
  const struct {
    const char* field;
    const char* text;
    std::string typeLines;
    const char* symbol;
  } cases[] = {
      {"int", "-2", kIntTags, "01 FEFFFFFF"},
      {"double", "0.5", kRealTags, "02 000000000000E03F"},
      {"double", "-0", kRealTags, "02 0000000000000080"},
      {"decimal(10,0)", "12", FixTags(0), "01 0C000000"},
      {"decimal(10,2)", "12.50", FixTags(2), "02 0000000000002940"},
      {"decimal(12,0)", "3000000000", FixTags(0), "02 000000C00B5AE641"},
      {"decimal(20,2)", "-0.50", FixTags(2), "04 2D302E3530 00"},
      {"decimal(20,0)", "3000000000", FixTags(0), "04 33303030303030303030 00"},
      {"decimal(18,3)", "0.000", FixTags(3), "04 302E303030 00"},
      {"date", "2000-01-01", date, "01 AE8E0000"},
      {"date qvd-format=\"DD.MM.YYYY\"", "1900-01-01",
       Format("DATE", "DD.MM.YYYY") + date.substr(date.find("      <Tags>")), "01 02000000"},
      {"datetime", "1970-01-01 12:00:00", stamp, "02 0000000060F8D840"},
      {"datetime time", "1970-01-01 12:00:00", Format("TIME", "hh:mm:ss") + kNumericTagLines,
       "02 000000000000E03F"},
      {"datetime time", "1969-12-31 18:00:00", Format("TIME", "hh:mm:ss") + kNumericTagLines,
       "02 000000000000D0BF"},
      {"datetime interval", "1970-01-03 06:00:00",
       Format("INTERVAL", "D hh:mm:ss") + kNumericTagLines, "02 0000000000000240"},
      {"datetime qvd-format=\"hh:mm\" time", "1970-01-01 12:00:00",
       Format("TIME", "hh:mm") + kNumericTagLines, "02 000000000000E03F"},
      {"string", "ab", kTextTags, "04 6162 00"},
      {"string", "", kTextTags, "04 00"},
      {"string(3)", "xyz", kTextTags, "04 78797A 00"},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " " + c.text);
    auto result = Packdown(dir, "-x -d " + ShellQuote(std::string("F ") + c.field),
                           c.text + std::string("\n"));
    const std::string symbol = Hex(c.symbol);
    EXPECT_EQ(result.out, Header(FieldHeader("F", c.typeLines, 0, 0, 0, 1, 0, symbol.size()), 1, 1,
                                 symbol.size()) +
                              symbol + '\0');
  }
}

}  // namespace
}  // namespace orv::packdown_test
