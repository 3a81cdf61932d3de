// drawoff run end to end on small QVD files built in the test: the record bytes it writes, its
// options and their messages, and the reading features (start row, filter, null text, binding).
#include <gtest/gtest.h>

#include "tests/drawoff/qvd_builder.h"
#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::DualIntSymbol;
using testing::FailLines;
using testing::FailMessage;
using testing::HexBytes;
using testing::IntSymbol;
using testing::LittleEndian;
using testing::ProgramResult;
using testing::QvdField;
using testing::QvdTable;
using testing::TextSymbol;

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

class DrawoffTest : public ::testing::Test {
 protected:
  std::string Save(const QvdTable& table, const std::string& name = "t.qvd") {
    std::string path = dir.Path(name);
    testing::WriteFileBytes(path, table.Bytes());
    return path;
  }
  // Runs drawoff on `table`; "{qvd}" in `arguments` is the file's path.
  ProgramResult Run(const QvdTable& table, std::string arguments) {
    Replace(arguments, "{qvd}", testing::ShellQuote(Save(table)));
    return testing::RunProgram("drawoff", arguments);
  }
  testing::TempDir dir;
};

// One field of each type; n holds nulls. The fields' bits are not in header order: n takes bits
// 0-1, i bit 2 and s bit 3. d, dt, ts and tm have one symbol and no bits.
QvdTable TypedTable() {
  return {{{"i", 2, 1, 0, IntSymbol(7) + IntSymbol(-1), 2},
           {"d", 0, 0, 0, DoubleSymbol(2.5), 1},
           {"s", 3, 1, 0, TextSymbol("ab") + TextSymbol(""), 2},
           {"dt", 0, 0, 0, IntSymbol(36526), 1},
           {"ts", 0, 0, 0, DoubleSymbol(25569.5), 1},
           {"tm", 0, 0, 0, DoubleSymbol(0.25), 1, "TIME"},
           {"n", 0, 2, -2, IntSymbol(5), 1}},
          1,
          HexBytes("02 0c")};
}

TEST_F(DrawoffTest, WritesEveryTypeAsBinaryRecordsOrText) {
  // i, d, s (flag, length, bytes), dt (day, month, year), ts and tm (seconds), n (flag, value).
  const std::string binary = HexBytes(
      "07000000 0000000000000440 00 02000000 6162 0101d007 c0a8000000000000 6054000000000000"
      " 00 05000000"
      "ffffffff 0000000000000440 00 00000000      0101d007 c0a8000000000000 6054000000000000"
      " 01");
  const std::string first = "7,2.5,ab,2000-01-01,1970-01-01 12:00:00,1970-01-01 06:00:00,5";
  const std::string second = "-1,2.5,,2000-01-01,1970-01-01 12:00:00,1970-01-01 06:00:00,";
  const struct {
    const char* options;
    std::string out;
  } cases[] = {
      {"", binary},
      {"--low-memory", binary},
      {"--guess-uniform-symbol-size", binary},
      {"--unbuffered", binary},
      {"-y", first + "\n" + second + "\n"},
      {"-a", first + "\r\n" + second + "\r\n"},
      {"-b", first + "\r" + second + "\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    auto result = Run(TypedTable(), std::string(c.options) +
                                        " -i {qvd} -d 'i int; d double; s string nullable; dt "
                                        "date; ts datetime; tm datetime; n int nullable'");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
  }
}

// a: 1, 2, 3; b: x, y, z; c: null, 9, 9.
QvdTable AbcTable() {
  return {{{"a", 0, 2, 0, IntSymbol(1) + IntSymbol(2) + IntSymbol(3), 3},
           {"b", 2, 2, 0, TextSymbol("x") + TextSymbol("y") + TextSymbol("z"), 3},
           {"c", 4, 2, -2, IntSymbol(9), 1}},
          1,
          HexBytes("00 25 2a")};
}

const char kAbcRows[] = "1,x,\n2,y,9\n3,z,9\n";

TEST_F(DrawoffTest, RefusesBadOptionsAndLayouts) {
  const std::string all = " -d 'a int; b string; c int nullable'";
  const struct {
    const char* environment;
    std::string arguments;
    const char* message;
  } cases[] = {
      {"", "--input", "Option '--input' requires an argument."},
      {"", "-d 'a int' -i", "Option '-i' requires an argument."},
      {"", "-d 'a int' --bogus", "Unrecognized option: '--bogus'."},
      {"", "-d 'a int' -x", "Unrecognized option: '-x'."},
      {"", "-i {qvd} --first-record=0" + all, "Invalid first record no.: '0'."},
      {"", "-i {qvd} --first-record=abc" + all, "Invalid first record no.: '0'."},
      {"", "-i {qvd} -a -b" + all,
       "--text-output-dos-eol can't be used with --text-output-mac-eol option."},
      {"", "--low-memory" + all, "Unspecified input file."},
      {"", "-i /nonexistent/t.qvd" + all, "Can't open input file: '/nonexistent/t.qvd'."},
      {"", "-i {qvd} -o /nonexistent/out" + all, "Can't open output file: '/nonexistent/out'."},
      {"", "-i {qvd} -d ''", "Data definition has no fields."},
      {"", "-i {qvd} -d 'a intx'",
       "Data definition error at line 1, column 3: unknown type 'intx'."},
      {"", "-i {qvd} -d 'a int; a int; c int nullable'", "Duplicate field name: 'a'."},
      {"", "-i {qvd} -d 'a int; b string; c int nullable; d int'",
       "Unexpected number of fields in QVD table: 3."},
      {"", "-i {qvd} -d 'a int; b string'", "Unexpected number of fields in QVD table: 3."},
      {"ORV_FIELD_SUBSET", "-i {qvd} -m -d 'a int; b string'",
       "Unexpected number of fields in QVD table: 3."},
      {"", "-i {qvd} -m -d 'a int; x string'", "Unrecognized field name: 'x'."},
      {"", "-i {qvd} --filter=a=5" + all, "Filter condition parsing failed."},
      {"", "-i {qvd} --filter=x==1" + all,
       "Filter field 'x' is not in the layout: a field must be in the layout (-d or the layout "
       "file) to filter on it."},
      {"", "-i {qvd} '--filter=x>=1<2'" + all,
       "Filter field 'x>=1' is not in the layout: a field must be in the layout (-d or the layout "
       "file) to filter on it."},
      {"", "-i {qvd} --filter=a==abc" + all, "Error reading filter value: 'abc,'."},
      {"", "-i {qvd} --filter=a==5x" + all, "Error reading filter value: '5x,'."},
      {"", "-i {qvd} --filter=a==1.5" + all, "Error reading filter value: '1.5,'."},
      {"", "-i {qvd} '--filter=c>=9 '" + all, "Error reading filter value: '9 \\n'."},
      {"", "-i {qvd} -d 'a int; b string; c int'",
       "Incompatible types, field 'c' must be nullable."},
      {"", "-i {qvd} -m -d 'c int; a int'", "Incompatible types, field 'c' must be nullable."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    if (*c.environment != '\0') {
      setenv(c.environment, "0", 1);
    }
    auto result = Run(AbcTable(), c.arguments);
    unsetenv("ORV_FIELD_SUBSET");
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(FailMessage(result.err), c.message);
    EXPECT_EQ(FailLines(result.err), 1u) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(DrawoffTest, BindsFieldsByPositionOrByName) {
  std::string layoutFile = dir.Path("abc.ord");
  testing::WriteFileBytes(layoutFile, "a int\nb string\nc int nullable\n");
  const struct {
    std::string arguments;
    const char* out;
  } cases[] = {
      {"-d 'a int; b string; c int nullable'", kAbcRows},
      {"-d 'p int; q string; r int nullable'", kAbcRows},
      {testing::ShellQuote(layoutFile), kAbcRows},
      // -n takes only an attached text, so the file stays positional.
      {"-n " + testing::ShellQuote(layoutFile), kAbcRows},
      {"-m -d 'b string; a int'", "x,1\ny,2\nz,3\n"},
      {"-m -d 'c int nullable; a int' --filter=c==9", "9,2\n9,3\n"},
  };
  for (const auto& c : cases) {
    for (const char* mode : {"", "--low-memory"}) {
      SCOPED_TRACE(c.arguments + " " + mode);
      auto result = Run(AbcTable(), "-y -i {qvd} " + std::string(mode) + " " + c.arguments);
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.out, c.out);
    }
  }
}

TEST_F(DrawoffTest, LogsEachOptionAsInfoLine) {
  std::string out = dir.Path("out.txt");
  auto result = Run(AbcTable(), "-y -i {qvd} -o " + out +
                                    " --first-record=2 --filter=a!=1 -m -nN --low-memory "
                                    "--guess-uniform-symbol-size --unbuffered -d "
                                    "'a int; b string; c int nullable'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(testing::ReadFileBytes(out), "2,y,9\n3,z,9\n");
  for (std::string line : {"text-output|", "input|{qvd}", "output|{out}", "first-record|2",
                           "filter|a!=1", "match-fields|", "null-as-string|N", "low-memory|",
                           "guess-uniform-symbol-size|", "unbuffered|", "fields|3"}) {
    Replace(line, "{qvd}", dir.Path("t.qvd"));
    Replace(line, "{out}", out);
    EXPECT_NE(result.err.find("|INFO|" + line + "|\n"), std::string::npos) << line;
  }
  EXPECT_EQ(result.err.find("data-definition"), std::string::npos);
}

TEST_F(DrawoffTest, StartsAtTheFirstRecordAsked) {
  QvdTable table{{{"a", 0, 4, 0, "", 10}}, 1, ""};
  std::string all;
  for (int i = 0; i < 10; ++i) {
    table.fields[0].symbols += IntSymbol(i + 1);
    table.rows.push_back(static_cast<char>(i));
    all += std::to_string(i + 1) + "\n";
  }
  const struct {
    const char* first;
    std::string out;
  } cases[] = {
      {"1", all}, {"4", all.substr(6)}, {"10", "10\n"}, {"11", ""}, {"18446744073709551615", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    auto result = Run(table, "-y -i {qvd} -d 'a int' --first-record=" + std::string(c.first));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
  }
}

TEST_F(DrawoffTest, FilterKeepsMatchingRowsWithNullSmallest) {
  // a: null, 3, 5, 7; s: r1 to r4.
  QvdTable table{{{"a", 0, 3, -2, IntSymbol(3) + IntSymbol(5) + IntSymbol(7), 3},
                  {"s", 3, 2, 0,
                   TextSymbol("r1") + TextSymbol("r2") + TextSymbol("r3") + TextSymbol("r4"), 4}},
                 1,
                 HexBytes("00 0a 13 1c")};
  const std::string layout = " -d 'a int nullable; s string'";
  const struct {
    std::string arguments;
    const char* out;
  } cases[] = {
      {"--filter=a==5" + layout, "5,r3\n"},
      {"--filter=a!=5" + layout, ",r1\n3,r2\n7,r4\n"},
      {"'--filter=a<5'" + layout, ",r1\n3,r2\n"},
      {"'--filter=a<=5'" + layout, ",r1\n3,r2\n5,r3\n"},
      {"'--filter=a>5'" + layout, "7,r4\n"},
      {"'--filter=a>=5'" + layout, "5,r3\n7,r4\n"},
      {"--filter=a==" + layout, ",r1\n"},
      {"'--filter=s>r2'" + layout, "5,r3\n7,r4\n"},
      {"--filter=s==r1" + layout, ",r1\n"},
      {"'--filter=a<5' -d 'a int nullable descending; s string'", ",r1\n3,r2\n"},
      {"-m '--filter=a>3' -d 's string; a int nullable'", "r3,5\nr4,7\n"},
  };
  for (const auto& c : cases) {
    for (const char* mode : {"", "--low-memory"}) {
      SCOPED_TRACE(c.arguments + " " + mode);
      auto result = Run(table, "-y -i {qvd} " + std::string(mode) + " " + c.arguments);
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.out, c.out);
    }
  }
}

TEST_F(DrawoffTest, NullTextTurnsOnlyTextSymbolsIntoNull) {
  // t: the text symbols NULL and x; n: one dual symbol 7 shown as NULL.
  QvdTable table{{{"t", 0, 1, 0, TextSymbol("NULL") + TextSymbol("x"), 2},
                  {"n", 0, 0, 0, DualIntSymbol(7, "NULL"), 1}},
                 1,
                 HexBytes("00 01")};
  const struct {
    const char* arguments;
    int status;
    std::string out;
    const char* message;
  } cases[] = {
      {"-y -d 't string nullable; n int'", 0, "NULL,7\nx,7\n", ""},
      {"-y -nNULL -d 't string nullable; n int'", 0, ",7\nx,7\n", ""},
      {"-y --null-as-string=NULL --filter=t== -d 't string nullable; n int'", 0, ",7\n", ""},
      {"-y -nNULL -d 't string nullable null=\"-\"; n int'", 0, "-,7\nx,7\n", ""},
      {"-y -nNULL -d 't string; n int'", 0, ",7\nx,7\n", ""},
      {"-nNULL -d 't string nullable; n int'", 0, HexBytes("01 07000000 00 01000000 78 07000000"),
       ""},
      {"-nNULL -d 't string; n int'", 20, "", "Field reading failed: 't' (record no. 1)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    auto result = Run(table, "-i {qvd} " + std::string(c.arguments));
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(FailMessage(result.err), c.message);
  }
}

TEST_F(DrawoffTest, TakesEachFieldsBitsFromTheRow) {
  std::string eight, many;
  for (int i = 0; i < 64; ++i) {
    (i < 8 ? eight : many) += IntSymbol(i);
  }
  many = eight + many;
  // 0xB5 0x01: a = 101b, b = 110110b.
  QvdTable narrow{{{"a", 0, 3, 0, eight, 8}, {"b", 3, 6, 0, many, 64}}, 2, HexBytes("b5 01")};
  auto result = Run(narrow, "-y -i {qvd} -d 'a int; b int'");
  EXPECT_EQ(result.out, "5,54\n") << result.err;
  // y = 1 in bits 0-2, x = 2 in bits 3-34, z = 31 in bits 35-39.
  QvdTable wide{{{"y", 0, 3, 0, eight, 8},
                 {"x", 3, 32, 0, eight.substr(0, 15), 3},
                 {"z", 35, 5, 0, many.substr(0, 160), 32}},
                5,
                HexBytes("11 00 00 00 f8")};
  result = Run(wide, "-y -i {qvd} -d 'y int; x int; z int'");
  EXPECT_EQ(result.out, "1,2,31\n") << result.err;
}

TEST_F(DrawoffTest, RowsWithoutBitsHoldSymbolZeroOrNull) {
  QvdTable table{{{"a", 0, 0, -2, "", 0}, {"b", 0, 0, 0, TextSymbol("k"), 1}}, 0, ""};
  table.noOfRecords = 3;
  auto result = Run(table, "-y -i {qvd} -d 'a int nullable; b string'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, ",k\n,k\n,k\n");
  table.noOfRecords = 0;
  result = Run(table, "-y -i {qvd} -d 'a int nullable; b string'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "");
}

// Row 1 names symbol 0, which the field takes; row 2 symbol 1, a value the field's binary form
// cannot hold: a decimal beyond the stream's 8 bytes, a datetime beyond the years of a date.
TEST_F(DrawoffTest, RefusesSymbolsBeyondWhatTheFieldCanHold) {
  const struct {
    const char* layout;
    std::string symbols;
    const char* text;  // the first record, printed
  } cases[] = {
      {"a decimal(18,0)", DoubleSymbol(9e18) + DoubleSymbol(1e20), "9000000000000000000"},
      {"a decimal(18,0)", DoubleSymbol(-9e18) + DoubleSymbol(-1e19), "-9000000000000000000"},
      {"a decimal(18,18)", IntSymbol(9) + IntSymbol(10), "9.000000000000000000"},
      {"a decimal(18,2)", TextSymbol("1.5") + TextSymbol("1e17"), "1.50"},
      {"a datetime", DoubleSymbol(2.5) + DoubleSymbol(3e7), "1900-01-01 12:00:00"},
      {"a datetime", DoubleSymbol(-693959) + DoubleSymbol(-693960), "0000-01-01 00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.layout) + " " + c.text);
    QvdTable table{{{"a", 0, 1, 0, c.symbols, 2}}, 1, HexBytes("00 01")};
    for (const char* output : {"", "-y"}) {
      auto result = Run(table, std::string(output) + " -i {qvd} -d '" + c.layout + "'");
      EXPECT_EQ(result.status, 20);
      EXPECT_EQ(FailMessage(result.err), "Field reading failed: 'a' (record no. 2).");
      if (*output != '\0') {
        EXPECT_EQ(result.out, std::string(c.text) + "\n");
      }
    }
  }
  // Sixteen bytes hold what eight cannot.
  QvdTable wide{{{"a", 0, 0, 0, DoubleSymbol(1e20), 1}}, 1, HexBytes("00")};
  auto result = Run(wide, "-y -i {qvd} -d 'a decimal(19,0)'");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "100000000000000000000\n");
}

TEST_F(DrawoffTest, FailureNamesTheRecordCountedFromTheFileStart) {
  // Row 7 points at a double symbol, which an int field does not take.
  QvdTable table{
      {{"a", 0, 1, 0, IntSymbol(1) + DoubleSymbol(2), 2}}, 1, HexBytes("00 00 00 00 00 00 01 00")};
  for (int first : {1, 5}) {
    SCOPED_TRACE(first);
    auto result = Run(table, "-i {qvd} -d 'a int' --first-record=" + std::to_string(first));
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(FailMessage(result.err), "Field reading failed: 'a' (record no. 7).");
    std::string written;
    for (int i = first; i < 7; ++i) {
      written += IntSymbol(1).substr(1);
    }
    EXPECT_EQ(result.out, written);
  }
}

TEST_F(DrawoffTest, RowsPastTheFirstHundredsReportTheirOwnRecordNumbers) {
  // 600 rows of a (0, 1, 2 in turn) and b ("x", or "y\nz" from row 300 on, which breaks the
  // text); row 450 names a's symbol 3, which the table lacks.
  QvdTable table{{{"a", 0, 2, 0, IntSymbol(0) + IntSymbol(1) + IntSymbol(2), 3},
                  {"b", 2, 1, 0, TextSymbol("x") + TextSymbol("y\nz"), 2}},
                 1,
                 ""};
  std::string text;
  std::string binary;
  for (int r = 1; r <= 600; ++r) {
    const int a = r == 450 ? 3 : r % 3;
    const int b = r >= 300 ? 1 : 0;
    table.rows += static_cast<char>(a | b << 2);
    if (r < 450) {
      text += std::to_string(a) + (b ? ",y\nz\n" : ",x\n");
      binary += IntSymbol(a).substr(1) +
                (b ? std::string("\x03\0\0\0y\nz", 7) : std::string("\x01\0\0\0x", 5));
    }
  }
  for (const char* mode : {"", "--low-memory"}) {
    for (bool asText : {true, false}) {
      SCOPED_TRACE(std::string(mode) + (asText ? " text" : " binary"));
      auto result =
          Run(table, std::string(mode) + (asText ? " -y" : "") + " -i {qvd} -d 'a int; b string'");
      EXPECT_EQ(result.status, 20);
      EXPECT_EQ(FailMessage(result.err), "Field reading failed: 'a' (record no. 450).");
      EXPECT_TRUE(result.out == (asText ? text : binary)) << result.out.size();
      const std::string warning =
          "|WARNING|||Value of field 'b' contains its separator or the record separator and can't "
          "be "
          "read back (record no. 300).\n";
      EXPECT_EQ(result.err.find(warning) != std::string::npos, asText) << result.err;
    }
  }
}

TEST_F(DrawoffTest, ReportsUniformSymbolSizesFoundOrGuessed) {
  // a: 300 ints (uniform 5, a guess fits); b: texts of two lengths; c: two 3-byte texts.
  QvdTable table{{{"a", 0, 9, 0, "", 300},
                  {"b", 9, 1, 0, TextSymbol("x") + TextSymbol("yy"), 2},
                  {"c", 10, 1, 0, TextSymbol("abc") + TextSymbol("def"), 2}},
                 2,
                 HexBytes("2b 07 00 00")};
  for (int i = 0; i < 300; ++i) {
    table.fields[0].symbols += IntSymbol(i * 10);
  }
  for (const char* mode : {"", "--low-memory"}) {
    for (bool guess : {false, true}) {
      SCOPED_TRACE(std::string(mode) + (guess ? " guessing" : ""));
      auto result = Run(table, std::string(mode) + (guess ? " --guess-uniform-symbol-size" : "") +
                                   " -y -i {qvd} -d 'a int; b string; c string'");
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.out, "2990,yy,def\n0,x,abc\n");
      const std::string a =
          guess ? "|DEBUG|uniform symbol size (guess)|a|\n" : "|DEBUG|uniform symbol size|a|\n";
      EXPECT_NE(result.err.find(a), std::string::npos) << result.err;
      EXPECT_EQ(result.err.find("size|b|"), std::string::npos) << result.err;
      EXPECT_NE(result.err.find("|DEBUG|uniform symbol size|c|\n"), std::string::npos);
    }
  }
}

TEST_F(DrawoffTest, LongSymbolTablesGiveTheSameRecords) {
  // 20 texts take 170 bytes, 200 texts 1890 and 30000 texts 348890: offsets of 8, 16 and 32
  // bits, and in low-memory mode symbols far apart in a long table.
  for (int count : {20, 200, 30000}) {
    QvdTable table{{{"v", 0, 15, 0, "", static_cast<uint64_t>(count)}}, 2, ""};
    for (int i = 0; i < count; ++i) {
      table.fields[0].symbols += TextSymbol("value" + std::to_string(i));
    }
    std::string expected;
    for (int s : {count - 1, 0, count / 2, 1, count - 2}) {
      table.rows += {static_cast<char>(s & 0xFF), static_cast<char>(s >> 8)};
      expected += "value" + std::to_string(s) + "\n";
    }
    for (const char* mode : {"", "--low-memory"}) {
      SCOPED_TRACE(std::to_string(count) + " " + mode);
      auto result = Run(table, std::string(mode) + " -y -i {qvd} -d 'v string'");
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.out, expected);
    }
  }
}

// Rows whose batch of records is larger than the output's buffer (twelve 50-byte texts a row),
// on the calling thread and on a worker.
TEST_F(DrawoffTest, WritesRecordsWiderThanItsBuffer) {
  std::vector<QvdField> fields;
  std::string layout;
  for (int f = 0; f < 12; ++f) {
    std::string symbols;
    for (int k = 0; k < 4; ++k) {
      symbols += TextSymbol(std::string(49, static_cast<char>('a' + f)) + std::to_string(k));
    }
    fields.emplace_back("f" + std::to_string(f), 2 * f, 2, 0, symbols, 4);
    layout += "f" + std::to_string(f) + " string; ";
  }
  std::string rows, text, binary;
  for (uint32_t r = 0; r < 8500; ++r) {  // a chunk of rows for a worker, and more
    uint32_t bits = 0;
    for (uint32_t f = 0; f < 12; ++f) {
      const uint32_t k = (r + f * f) % 4;
      bits |= k << (2 * f);
      const std::string value = std::string(49, static_cast<char>('a' + f)) + std::to_string(k);
      text += value + (f == 11 ? "\n" : ",");
      binary += LittleEndian(uint32_t{50}) + value;
    }
    rows += LittleEndian(bits).substr(0, 3);
  }
  const QvdTable table(fields, 3, rows);
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    auto result = Run(table, std::string("--threads=") + threads + " -i {qvd} -d '" + layout + "'");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out == binary);
    result = Run(table, std::string("--threads=") + threads + " -y -i {qvd} -d '" + layout + "'");
    EXPECT_TRUE(result.out == text);
  }
}

}  // namespace
}  // namespace orv
