// packdown --csv and feedout --csv: CSV in, read back through drawoff's text output; the value
// count and conversion failures with their exact FAIL lines; the layout made without one.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

// Writes `csv` to in.csv, runs `packdown --csv OPTIONS` on it and prints the QVD with drawoff -y
// and `readLayout`.
ProgramResult PackAndRead(const ScratchDir& dir, const std::string& csv, const std::string& options,
                          const std::string& readLayout) {
  WriteFileBytes(dir / "in.csv", csv);
  return Shell(dir, "$B/packdown --csv -i in.csv -o out.qvd " + options +
                        " && $B/drawoff -i out.qvd -y -d " + ShellQuote(readLayout));
}

const char kQuotedPair[] = "A string quote=\"\\\"\"; B string quote=\"\\\"\"";

TEST(CsvInput, ReadsQuotingLineEndsHeaderAndDelimiterSettings) {
  const struct {
    const char* name;
    std::string csv;
    std::string options;
    std::string readLayout;
    std::string expected;
  } cases[] = {
      {"delimiter and doubled quote in quotes", "A,B\n\"x,y\",\"say \"\"hi\"\"\"\n",
       "-d 'A string; B string'", kQuotedPair, "\"x,y\",\"say \"\"hi\"\"\"\n"},
      {"CR, LF and CR LF in quotes", "A,B\n\"a\rb\",\"c\nd\r\ne\"\n", "-d 'A string; B string'",
       kQuotedPair, "\"a\rb\",\"c\nd\r\ne\"\n"},
      {"quotes optional per value", "A,B\nx,\"y\"\n\"z\",w\n", "-d 'A string; B string'",
       kQuotedPair, "\"x\",\"y\"\n\"z\",\"w\"\n"},
      {"byte-order mark before the header",
       "\xEF\xBB\xBF"
       "A,B\n1,2\n",
       "-m -d 'A int; B int'", "A int; B int", "1,2\n"},
      {"mixed line ends", "A,B\r\n1,2\n3,4\r\n5,6\n", "-d 'A int; B int'", "A int; B int",
       "1,2\n3,4\n5,6\n"},
      {"last line without its end", "A,B\n1,2\n3,4", "-d 'A int; B int'", "A int; B int",
       "1,2\n3,4\n"},
      {"last quoted value without a line end", "A,B\r\n1,\"x\"", "-d 'A int; B string'",
       "A int; B string", "1,x\n"},
      {"header binds by position", "X,Y\n1,2\n", "-d 'A int; B int'", "A int; B int", "1,2\n"},
      {"header binds by name, extra column ignored", "C,X,A,B\n3,9,1,2\n",
       "-m -d 'A int; B int; C int'", "A int; B int; C int", "1,2,3\n"},
      {"no header line", "1,2\n3,4\n", "--no-header -d 'A int; B int'", "A int; B int",
       "1,2\n3,4\n"},
      {"semicolon delimiter", "A;B\n\"1;5\";2\n", "--delimiter=';' -d 'A string; B int'",
       "A string quote=\"\\\"\"; B int", "\"1;5\",2\n"},
      {"tab delimiter written \\t", "A\tB\nx y\t2\n", "--delimiter='\\t' -d 'A string; B int'",
       "A string; B int", "x y,2\n"},
      {"empty unquoted is null, \"\" an empty string", "A,B\n,\"\"\n\"\",\n",
       "-d 'A string nullable; B string nullable'",
       "A string null=\"NULL\"; B string null=\"NULL\"", "NULL,\n,NULL\n"},
      {"empty value of a non-nullable string", "A,B\n,1\n", "-d 'A string; B int'",
       "A string null=\"NULL\"; B int", ",1\n"},
      {"blank lines between records", "A,B\n1,2\n\n\r\n3,4\n\n", "-d 'A int; B int'",
       "A int; B int", "1,2\n3,4\n"},
      {"one column: an empty line is a null", "A\n1\n\n3\n", "-d 'A int nullable'",
       "A int null=\"NULL\"", "1\nNULL\n3\n"},
      {"header only", "A,B\n", "-d 'A int; B int'", "A int; B int", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const ProgramResult result = PackAndRead(dir, c.csv, c.options, c.readLayout);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, c.expected);
  }
}

TEST(CsvInput, FailsWithOneLineNamingRecordAndCounts) {
  const struct {
    std::string csv;
    std::string options;
    std::string message;
  } cases[] = {
      {"A,B,C\n1,2,3\n1,2,3,4\n", "-d 'A int; B int; C int'",
       "Record no. 2 has 4 values; the layout has 3 fields."},
      {"A,B,C\n1,2\n1,2,3\n", "-d 'A int; B int; C int'",
       "Record no. 1 has 2 values; the layout has 3 fields."},
      {"A,B,C\n1,2,3\n4", "-d 'A int; B int; C int'",
       "Record no. 2 has 1 values; the layout has 3 fields."},
      {"A,B,C\n1,x,3,4,5\n", "-d 'A int; B int; C int'",
       "Record no. 1 has 5 values; the layout has 3 fields."},
      {"\n1,2\n1,x\n", "--no-header -d 'A int; B int'",
       "Field reading failed: 'B' (record no. 2), \"x\" is not 'int'."},
      {"A,B\n1,x\n", "-d 'A int; B int'",
       "Field reading failed: 'B' (record no. 1), \"x\" is not 'int'."},
      {"A,B\n1,\"x\"y\n", "-d 'A int; B string'",
       "Field reading failed: 'B' (record no. 1), \"x\" is not 'string'."},
      {"A,B\n1,\"x\n", "-d 'A int; B string'",
       "Field reading failed: 'B' (record no. 1), \"x\\n\" is not 'string'."},
      {"A,B\n1,2\n", "-d 'A int; B int; C int'",
       "The header has 2 names; the layout has 3 fields."},
      {"A,B\n1,2\n", "-m -d 'A int; C int'", "Field 'C' is not in the header."},
      {"A,B,A\n1,2,3\n", "-m -d 'A int'", "The header names 'A' twice."},
      {"B,A,X\n1,2\n", "-m -d 'A int; B int'",
       "Record no. 1 has 2 values; the header has 3 columns."},
      {"X,A\n\"x\"y,1\n", "-m -d 'A int'", "Record no. 1: the value of column 1 can't be read."},
      {"", "-d 'A int'", "The CSV input has no header line."},
      {"A\n1\n", "-x -d 'A int'",
       "--csv can't be used with the delimited text options (-x, -a, -b)."},
      {"A\n1\n", "-m --no-header -d 'A int'",
       "--match-fields needs the header line: not with --no-header."},
      {"A\n1\n", "--delimiter=ab -d 'A int'",
       "--delimiter takes one byte other than '\"', CR and LF."},
      {"A\n1\n", "--no-header", "--no-header needs a layout: -d or a layout file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options + " on " + c.csv);
    ScratchDir dir;
    WriteFileBytes(dir / "in.csv", c.csv);
    ExpectOneFail(Shell(dir, "$B/packdown --csv -i in.csv -o out.qvd " + c.options), c.message);
    EXPECT_FALSE(fs::exists(dir / "out.qvd"));
  }
}

TEST(CsvInput, CsvSettingsNeedCsv) {
  ScratchDir dir;
  ExpectOneFail(Shell(dir, "$B/packdown -x --no-header -d 'A int' < /dev/null"),
                "--no-header goes with --csv only.");
  ExpectOneFail(Shell(dir, "$B/feedout -m -d 'A int' < /dev/null"),
                "--match-fields goes with --csv only.");
  ExpectOneFail(Shell(dir, "$B/feedout --csv < /dev/null"), "Data definition has no fields.");
}

// The INFO line of the made layout, from packdown's standard error.
std::string LayoutLine(const std::string& err) {
  const size_t at = err.find("|INFO|layout|");
  return at == std::string::npos ? "" : err.substr(at + 13, err.find('|', at + 13) - at - 13);
}

TEST(CsvInference, TypeIsTheNarrowestThatPrintsEveryValueUnchanged) {
  const struct {
    std::string values;  // the lines under the header `C`
    std::string type;
  } cases[] = {
      {"1\n-2147483648\n2147483647\n", "int"},
      {"2147483648\n", "double"},
      {"1.50\n-0.25\n12.00\n", "decimal(4,2)"},
      {"0.123\n", "decimal(4,3)"},
      {"0.1\n1.5\n2\n", "double"},
      {"1e+21\n", "double"},
      {"2024-02-29\n0001-01-01\n", "date"},
      {"2024-02-29 23:59:59\n", "datetime"},
      {"1\n\n3\n", "int nullable"},
      {"\n\n", "string nullable"},
      {"\"\"\n", "string"},
      {"abc\n1\n", "string"},
      {"007\n", "string"},
      {"+3\n", "string"},
      {"1e3\n", "string"},
      {"1.5\n1.50\n", "string"},
      {"-0\n", "double"},
      {"-0.00\n", "string"},
      {"1.\n", "string"},
      {".5\n", "string"},
      {"nan\n", "string"},
      {"2023-02-29\n", "string"},
      {"2024-1-05\n", "string"},
      {"2024-02-29T23:59:59\n", "string"},
      {"2024-02-29 24:00:00\n", "string"},
      {"1900-02-29\n", "string"},
      {"2023-13-01\n", "string"},
      {"2023-02-00\n", "string"},
      {"2023-0a-01\n", "string"},
      {"2000-02-29 00:00:00\n1999-12-31 23:59:59\n", "datetime"},
      {"2024-02-29 23:60:00\n", "string"},
      {"2024-02-29 23:59:60\n", "string"},
      {"12345678901234567890123456789012345678.5\n", "string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values);
    ScratchDir dir;
    WriteFileBytes(dir / "in.csv", "C\n" + c.values);
    const ProgramResult result = Shell(dir, "$B/packdown --csv -i in.csv -o out.qvd");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(LayoutLine(result.err), "C " + c.type);
  }
}

TEST(CsvInference, MadeLayoutReadsBackTheSameBytes) {
  const std::string body =
      "1,2.50,0.5,2024-02-29,2024-02-29 23:59:59,plain,\n"
      "-7,-10.25,1.25,1999-12-31,1970-01-01 00:00:00,007,x\n";
  ScratchDir dir;
  WriteFileBytes(dir / "in.csv", "Id,\"Unit Price\",Ratio,Day,Stamp,Code,Note\n" + body);
  ProgramResult packed = Shell(dir, "$B/packdown --csv -i in.csv -o out.qvd");
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::string layout = LayoutLine(packed.err);
  EXPECT_EQ(layout,
            "Id int; \"Unit Price\" decimal(4,2); Ratio double; Day date; Stamp datetime; Code "
            "string; Note string nullable");
  const ProgramResult read = Shell(dir, "$B/drawoff -i out.qvd -y -d " + ShellQuote(layout));
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, body);
}

TEST(CsvInference, HeaderNamesMustMakeAValidLayout) {
  const struct {
    std::string csv;
    std::string message;
  } cases[] = {
      {"A,A\n1,2\n", "Duplicate field name: 'A'."},
      {"A,\n1,2\n", "Header name 2 ('') is not a valid field name."},
      {"A,\"x\ty\"\n1,2\n", "Header name 2 ('x\ty') is not a valid field name."},
      {"", "The CSV input has no header line to name the fields."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.csv);
    ScratchDir dir;
    WriteFileBytes(dir / "in.csv", c.csv);
    ExpectOneFail(Shell(dir, "$B/packdown --csv -i in.csv -o out.qvd"), c.message);
  }
}

TEST(CsvInput, FeedoutWritesTheSameQvxAsFromDelimitedText) {
  ScratchDir dir;
  const std::string layout = "'A int; B string nullable; C decimal(6,2)'";
  WriteFileBytes(dir / "in.txt", "1,x,2.50\n2,,-1.00\n");
  WriteFileBytes(dir / "in.csv", "C,B,A\r\n2.50,\"x\",1\r\n-1.00,,2");
  const ProgramResult text = Shell(dir, "$B/feedout -x -i in.txt -d " + layout);
  const ProgramResult csv = Shell(dir, "$B/feedout --csv -m -i in.csv -d " + layout);
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out, text.out);
  EXPECT_GT(csv.out.size(), 100u);
}

// The fields of a `.rows` file's first record (quoted values, `,` between them).
size_t FirstRecordFields(const std::string& rows) {
  size_t fields = 1;
  bool quoted = false;
  for (size_t i = 0; i < rows.size() && (quoted || rows[i] != '\n'); ++i) {
    quoted = rows[i] == '"' ? !quoted : quoted;
    fields += !quoted && rows[i] == ',' ? 1 : 0;
  }
  return fields;
}

// A `.rows` file as CSV: a null's `"\N"` becomes an empty unquoted value; a header line first.
std::string RowsToCsv(const std::string& rows, size_t fields) {
  std::string csv;
  for (size_t i = 1; i <= fields; ++i) {
    csv += "F" + std::to_string(i) + (i == fields ? "\n" : ",");
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const bool start = i == 0 || rows[i - 1] == ',' || rows[i - 1] == '\n';
    if (start && rows.compare(i, 4, "\"\\N\"") == 0 &&
        (i + 4 == rows.size() || rows[i + 4] == ',' || rows[i + 4] == '\n')) {
      i += 3;
      continue;
    }
    csv.push_back(rows[i]);
  }
  return csv;
}

TEST(CsvInput, RealSampleRowsComeBackThroughCsv) {
  for (const char* name :
       {"lego-colors", "lego-inventories", "lego-inventory_sets", "lego-part_categories",
        "lego-parts", "lego-sets", "lego-themes", "qv11-tab1", "qv11-tab2", "sense-test1",
        "sense-test2", "sense-test3", "sense-small", "sense-medium", "sense-stockholm_temp"}) {
    SCOPED_TRACE(name);
    const std::string rows = ReadFileBytes(std::string(ORV_SAMPLES_DIR "/") + name + ".rows");
    ASSERT_FALSE(rows.empty());
    const size_t fields = FirstRecordFields(rows);
    std::string packLayout;
    std::string readLayout;
    for (size_t i = 1; i <= fields; ++i) {
      const std::string sep = i == 1 ? "" : "; ";
      packLayout += sep + "F" + std::to_string(i) + " string nullable";
      readLayout += sep + "F" + std::to_string(i) + " string null=\"\\\\N\" quote=\"\\\"\"";
    }
    ScratchDir dir;
    const ProgramResult read =
        PackAndRead(dir, RowsToCsv(rows, fields), "-d " + ShellQuote(packLayout), readLayout);
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(read.out == rows)
        << "first difference at byte "
        << std::mismatch(rows.begin(), rows.end(), read.out.begin(), read.out.end()).first -
               rows.begin();
  }
}

}  // namespace
}  // namespace orv::testing
