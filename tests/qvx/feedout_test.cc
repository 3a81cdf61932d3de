// feedout end to end: the exact bytes of the QVX file, the value encodings of every type, and the
// messages and exit status of the failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/qvx/feedout_support.h"
#include "tests/qvx/qvx_reader.h"

namespace orv {
namespace {

using qvx_test::CountOf;
using qvx_test::Feedout;
using qvx_test::Hex;
using qvx_test::LittleEndian;
using qvx_test::RecordBytes;
using qvx_test::ScratchDir;
using testing::FailMessage;
using testing::ShellQuote;

const std::string kTableStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<QvxTableHeader>\n"
    "  <MajorVersion>1</MajorVersion>\n"
    "  <MinorVersion>0</MinorVersion>\n"
    "  <TableName></TableName>\n"
    "  <Fields>\n";
const std::string kTableEnd = "  </Fields>\n</QvxTableHeader>";

const std::string kUnknownFormat =
    "      <FieldFormat>\n        <Type>UNKNOWN</Type>\n      </FieldFormat>\n";
const std::string kIntLines =
    "      <Type>QVX_SIGNED_INTEGER</Type>\n      <Extent>QVX_FIX</Extent>\n"
    "      <ByteWidth>4</ByteWidth>\n" +
    kUnknownFormat;
const std::string kDoubleLines =
    "      <Type>QVX_IEEE_REAL</Type>\n      <Extent>QVX_FIX</Extent>\n"
    "      <ByteWidth>8</ByteWidth>\n" +
    kUnknownFormat;
const std::string kDecimal2Lines =
    "      <Type>QVX_SIGNED_INTEGER</Type>\n      <Extent>QVX_FIX</Extent>\n"
    "      <ByteWidth>8</ByteWidth>\n      <FixPointDecimals>2</FixPointDecimals>\n" +
    kUnknownFormat;
const std::string kDateLines =
    "      <Type>QVX_TEXT</Type>\n      <Extent>QVX_COUNTED</Extent>\n"
    "      <ByteWidth>1</ByteWidth>\n      <FieldFormat>\n        <Type>DATE</Type>\n"
    "        <Fmt>YYYY-MM-DD</Fmt>\n      </FieldFormat>\n";
const std::string kTimestampLines =
    "      <Type>QVX_TEXT</Type>\n      <Extent>QVX_COUNTED</Extent>\n"
    "      <ByteWidth>1</ByteWidth>\n      <FieldFormat>\n        <Type>TIMESTAMP</Type>\n"
    "        <Fmt>YYYY-MM-DD hh:mm:ss</Fmt>\n      </FieldFormat>\n";
const std::string kStringLines =
    "      <Type>QVX_TEXT</Type>\n      <Extent>QVX_COUNTED</Extent>\n"
    "      <ByteWidth>8</ByteWidth>\n" +
    kUnknownFormat;

std::string Field(const std::string& escapedName, bool nullable, const std::string& typeLines) {
  return "    <QvxFieldHeader>\n      <FieldName>" + escapedName +
         "</FieldName>\n      <NullRepresentation>" +
         (nullable ? "QVX_NULL_FLAG_SUPPRESS_DATA" : "QVX_NULL_NEVER") + "</NullRepresentation>\n" +
         typeLines + "    </QvxFieldHeader>\n";
}

std::string QvxFile(const std::string& fields, const std::string& records) {
  return kTableStart + fields + kTableEnd + '\0' + records;
}

TEST(FeedoutGolden, WritesEveryTypeByteForByte) {
  ScratchDir dir;
  auto result = Feedout(dir,
                        "-x -d " + ShellQuote("i int nullable; n int; r double; "
                                              "d decimal(10,2) nullable; day date; "
                                              "ts datetime nullable; tm datetime time; "
                                              "s string nullable; c string(3)"),
                        "7,-1,0.5,12.34,2024-02-29,1970-01-01 00:00:00,1970-01-01 12:30:00,hi,XYZ\n"
                        ",2147483647,-2.25,,1999-12-31,,2000-01-01 00:00:01,,abc\n");
  const std::string fields = Field("i", true, kIntLines) + Field("n", false, kIntLines) +
                             Field("r", false, kDoubleLines) + Field("d", true, kDecimal2Lines) +
                             Field("day", false, kDateLines) + Field("ts", true, kTimestampLines) +
                             Field("tm", false, kTimestampLines) + Field("s", true, kStringLines) +
                             Field("c", false, kStringLines);
  const std::string first = Hex("00 07000000  ffffffff  000000000000e03f  00 d204000000000000") +
                            Hex("0a") + "2024-02-29" + Hex("00 13") + "1970-01-01 00:00:00" +
                            Hex("13") + "1970-01-01 12:30:00" + Hex("00 0200000000000000") + "hi" +
                            Hex("0300000000000000") + "XYZ";
  const std::string second = Hex("01  ffffff7f  00000000000002c0  01  0a") + "1999-12-31" +
                             Hex("01 13") + "2000-01-01 00:00:01" + Hex("01 0300000000000000") +
                             "abc";
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, QvxFile(fields, first + second));
}

TEST(FeedoutGolden, EmptyInputWritesOnlyTheHeaderWithEscapedNames) {
  ScratchDir dir;
  auto result = Feedout(dir, "-d " + ShellQuote("\"a<b&c\" int; \"x>y\" string nullable"), "");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(
      result.out,
      QvxFile(Field("a&lt;b&amp;c", false, kIntLines) + Field("x&gt;y", true, kStringLines), ""));
  auto file = qvx_test::ReadQvx(result.out);
  ASSERT_EQ(file.fields.size(), 2u);
  EXPECT_EQ(file.fields[0].name, "a<b&c");
  EXPECT_TRUE(file.rows.empty());
}

struct EncodingCase {
  const char* arguments;
  std::string input;
  std::string expected;
};

TEST(FeedoutEncoding, WritesEachValueInItsQvxForm) {
  const int64_t big = -999999999999999999;
  const EncodingCase cases[] = {
      {"-d 'a int nullable'", Hex("00 07000000"), Hex("00 07000000")},
      {"-d 'a int nullable'", Hex("01"), Hex("01")},
      {"-d 'a int'", Hex("ffffffff"), Hex("ffffffff")},
      {"-d 'a double nullable'", Hex("00") + LittleEndian(-0.0), Hex("00") + LittleEndian(-0.0)},
      {"-x -d 'a decimal(10,2)'", "12.34\n", Hex("d204000000000000")},
      {"-d 'a decimal(18,4) nullable'", Hex("00") + LittleEndian(big),
       Hex("00") + LittleEndian(big)},
      {"-d 'a date'", Hex("1d02e807"), Hex("0a") + "2024-02-29"},
      {"-d 'a date nullable'", Hex("01 00 1f0c0f27"), Hex("01 00 0a") + "9999-12-31"},
      {"-d 'a datetime'", Hex("0000000000000000"), Hex("13") + "1970-01-01 00:00:00"},
      {"-d 'a datetime'", LittleEndian(int64_t{-1}), Hex("13") + "1969-12-31 23:59:59"},
      // The edges of the calendar, years below 1000 with four digits, the largest decimal.
      {"-d 'a date'", Hex("01010000 01010100 1f0cffff"),
       Hex("0a") + "0000-01-01" + Hex("0a") + "0001-01-01" + Hex("0b") + "65535-12-31"},
      {"-d 'a datetime'", LittleEndian(int64_t{-62135596800}) + LittleEndian(int64_t{-62167219200}),
       Hex("13") + "0001-01-01 00:00:00" + Hex("13") + "0000-01-01 00:00:00"},
      {"-d 'a decimal(5,2)'", LittleEndian(int64_t{-99999}), LittleEndian(int64_t{-99999})},
      {"-x -d 'd date(\"%d.%m.%Y\"); t datetime(\"%d.%m.%Y %H:%M\")'",
       "29.02.2024,31.12.1999 23:59\n",
       Hex("0a") + "2024-02-29" + Hex("13") + "1999-12-31 23:59:00"},
      {"-d 'a string'", Hex("00000000"), Hex("0000000000000000")},
      {"-d 'a string nullable'", Hex("00 00000000"), Hex("00 0000000000000000")},
      {"-d 'a string'", Hex("03000000 610062"), Hex("0300000000000000 610062")},
      {"-d 'a int; b string(2) nullable'", Hex("02000000 00 7a7a 03000000 01"),
       Hex("02000000 00 0200000000000000 7a7a 03000000 01")},
  };
  ScratchDir dir;
  for (const EncodingCase& c : cases) {
    auto result = Feedout(dir, c.arguments, c.input);
    EXPECT_EQ(result.status, 0) << c.arguments << "\n" << result.err;
    EXPECT_EQ(RecordBytes(result.out), c.expected) << c.arguments;
  }
}

TEST(FeedoutEncoding, TimeAndIntervalDatetimesMatchPlainDatetimes) {
  ScratchDir dir;
  const std::string input = Hex("00") + LittleEndian(int64_t{45296}) + Hex("01");
  auto plain = Feedout(dir, "-d 't datetime nullable'", input);
  EXPECT_EQ(RecordBytes(plain.out), Hex("00 13") + "1970-01-01 12:34:56" + Hex("01"));
  for (const char* flag : {"time", "interval"}) {
    auto flagged =
        Feedout(dir, "-d " + ShellQuote(std::string("t datetime nullable ") + flag), input);
    EXPECT_EQ(flagged.status, 0) << flagged.err;
    EXPECT_EQ(flagged.out, plain.out) << flag;
  }
}

struct FailureCase {
  std::string arguments;
  std::string input;
  std::string message;
  bool headerWritten;
};

TEST(FeedoutMessages, FailuresNameTheirCauseAndExit20) {
  const FailureCase cases[] = {
      {"--debug-file", "", "Option '--debug-file' requires an argument.", false},
      {"-d 'a int' --bogus", "", "Unrecognized option: '--bogus'.", false},
      {"-d 'a int' --allow-missing-separator-at-eof", "",
       "--allow-missing-separator-at-eof option can be used with --text-input option only.", false},
      {"-d ''", "", "Data definition has no fields.", false},
      {"-d 'a int; a string'", "", "Duplicate field name: 'a'.", false},
      {"/nonexistent/layout.ord", "", "Can't open data definition file: '/nonexistent/layout.ord'.",
       false},
      {"-d 'a int; d decimal(19,2)'", "", "'d' field data type is not supported: 'decimal(19,2)'.",
       false},
      {"-x -d 'a int; b int'", "1,2\nx,3\n",
       "Field reading failed: 'a' (record no. 2), \"x\" is not 'int'.", true},
      {"-x -d 'a int'", std::string(65, '7') + "\n",
       "Field reading failed: 'a' (record no. 1), \"" + std::string(61, '7') +
           "...\" is not 'int'.",
       true},
      {"-x -d 'a int'", "5", "Field reading failed: 'a' (record no. 1), \"5\" is not 'int'.", true},
      {"-d 'a int; b int'", Hex("01000000 02000000 0500"),
       "Field reading failed: 'a' (record no. 2).", true},
      {"-d 'a string nullable'", Hex("00 05000000 6162"),
       "Field reading failed: 'a' (record no. 1).", true},
      {"-d 'a date'", Hex("1d02e807 ffffffff"), "Field reading failed: 'a' (record no. 2).", true},
      {"-d 'a datetime'", LittleEndian(INT64_MIN), "Field reading failed: 'a' (record no. 1).",
       true},
      {"-d 'a decimal(5,2) nullable'", Hex("00") + LittleEndian(INT64_MIN),
       "Field reading failed: 'a' (record no. 1).", true},
      {"-d 'a int nullable'", Hex("00 01000000 02 01000000"),
       "Field reading failed: 'a' (record no. 2).", true},
      {"-x -d 'a date'", "2021-02-30\n",
       "Field reading failed: 'a' (record no. 1), \"2021-02-30\" is not 'date(%Y-%m-%d)'.", true},
  };
  ScratchDir dir;
  for (const FailureCase& c : cases) {
    auto result = Feedout(dir, c.arguments, c.input);
    EXPECT_EQ(result.status, 20) << c.arguments;
    EXPECT_EQ(FailMessage(result.err), c.message) << c.arguments;
    EXPECT_EQ(CountOf(result.err, "|FAIL|"), 1u) << result.err;
    if (c.headerWritten) {
      EXPECT_TRUE(qvx_test::ReadQvx(result.out).error.empty()) << c.arguments;
    } else {
      EXPECT_EQ(result.out, "") << c.arguments;
    }
  }
}

TEST(FeedoutMessages, RecordCutShortKeepsTheCompleteRecordsAndDumpsTheBadOne) {
  ScratchDir dir;
  auto result = Feedout(dir, "-d 'a int; b int nullable' --debug-file=" + dir / "dump",
                        Hex("01000000 00 02000000  03000000 01  05000000 00 0600"));
  EXPECT_EQ(result.status, 20);
  EXPECT_EQ(FailMessage(result.err), "Field reading failed: 'b' (record no. 3).");
  auto file = qvx_test::ReadQvx(result.out);
  EXPECT_EQ(file.error, "");
  using Row = qvx_test::QvxRow;
  EXPECT_EQ(file.rows, (std::vector<Row>{{int64_t{1}, int64_t{2}}, {int64_t{3}, std::nullopt}}));
  EXPECT_EQ(testing::ReadFileBytes(dir / "dump"), Hex("05000000 00 0600"));
}

TEST(FeedoutOptions, PositionalDataDefinitionIsSkippedAfterInlineFields) {
  ScratchDir dir;
  auto result = Feedout(dir, "-d 'a double' " + ShellQuote(dir / "missing.ord"), "");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, QvxFile(Field("a", false, kDoubleLines), ""));
  EXPECT_EQ(CountOf(result.err, "|FAIL|"), 0u);
  EXPECT_EQ(CountOf(result.err, "|WARNING|||Argument '" + dir / "missing.ord" +
                                    "' is ignored: the layout comes from -d; name the input with "
                                    "-i.\n"),
            1u);
}

TEST(FeedoutOptions, InfoLinesFollowTheCommandLineOrder) {
  ScratchDir dir;
  const std::string dump = dir / "dump";
  auto result =
      Feedout(dir, "--unbuffered -x --debug-file=" + dump + " -d 'a int; b int'", "1,2\n");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(RecordBytes(result.out), Hex("01000000 02000000"));
  size_t at = 0;
  for (const std::string& line : std::vector<std::string>{
           "|INFO|unbuffered||\n", "|INFO|text-input||\n", "|INFO|debug-file|" + dump + "|\n",
           "|INFO|fields|2|\n", "|SUCC|||\n"}) {
    size_t found = result.err.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << " after " << at << " in\n" << result.err;
    at = found;
  }
  EXPECT_EQ(CountOf(result.err, "data-definition"), 0u);
}

}  // namespace
}  // namespace orv
