// drawoff --csv end to end: quoting, nulls apart from empty texts, the header line, the delimiter
// and line ends, the refusals, and every real sample read without a layout, value for value
// against the rows an independent reader got from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "tests/drawoff/qvd_builder.h"
#include "tests/drawoff/run_program.h"

namespace orv {
namespace {

using testing::DoubleSymbol;
using testing::HexBytes;
using testing::IntSymbol;
using testing::QvdTable;
using testing::TextSymbol;

// s: the texts below, one a row; n: 5 in the even rows, null in the odd; d: 3106.33 throughout.
QvdTable QuotingTable(const std::string& sName = "s") {
  return {
      {{sName, 0, 3, 0,
        TextSymbol("plain") + TextSymbol("a,b") + TextSymbol("say \"hi\"") +
            TextSymbol("line\nbreak") + TextSymbol("cr\rx") + TextSymbol("a;b") + TextSymbol(""),
        7},
       {"n", 3, 2, -2, IntSymbol(5), 1},
       {"d", 0, 0, 0, DoubleSymbol(3106.33), 1}},
      1,
      HexBytes("10 01 12 03 14 05 16")};
}

const char kRows[] =
    "plain,5,3106.33\n"
    "\"a,b\",,3106.33\n"
    "\"say \"\"hi\"\"\",5,3106.33\n"
    "\"line\nbreak\",,3106.33\n"
    "\"cr\rx\",5,3106.33\n"
    "a;b,,3106.33\n"
    "\"\",5,3106.33\n";

class DrawoffCsvTest : public ::testing::Test {
 protected:
  testing::ProgramResult Run(const QvdTable& table, const std::string& arguments) {
    const std::string path = dir.Path("t.qvd");
    testing::WriteFileBytes(path, table.Bytes());
    return testing::RunProgram("drawoff", "-i " + testing::ShellQuote(path) + " " + arguments);
  }
  testing::TempDir dir;
};

TEST_F(DrawoffCsvTest, WritesMinimallyQuotedRecordsUnderAHeader) {
  const std::string rows = kRows;
  const std::string layout = " -d 's string; n int nullable; d double'";
  const struct {
    std::string options;
    std::string out;
  } cases[] = {
      {"--csv", "s,n,d\n" + rows},
      {"--csv --no-header", rows},
      {"--csv" + layout, "s,n,d\n" + rows},
      {"--csv --low-memory" + layout, "s,n,d\n" + rows},
      // The layout's own quote, null token and separator give way to CSV.
      {"--csv -d 's string quote=\"|\"; n int null=\"NULL\" separator=\"|\"; d double'",
       "s,n,d\n" + rows},
      {"--csv -a --first-record=6",
       "s,n,d\r\n"
       "a;b,,3106.33\r\n\"\",5,3106.33\r\n"},
      {"--csv --delimiter=';' --first-record=5",
       "s;n;d\n\"cr\rx\";5;3106.33\n\"a;b\";;3106.33\n\"\";5;3106.33\n"},
      {"--csv --delimiter='\\t' --first-record=6", "s\tn\td\na;b\t\t3106.33\n\"\"\t5\t3106.33\n"},
      {"--csv --filter='n>=5' --filter='s<d'" + layout,
       "s,n,d\n\"cr\rx\",5,3106.33\n\"\",5,3106.33\n"},
      {"--csv --filter='s==a;b'", "s,n,d\na;b,,3106.33\n"},
      {"--csv -m --filter='n>1' --first-record=6", "s,n,d\n\"\",5,3106.33\n"},
      {"--csv -m -d 'd double; n int nullable' --first-record=6", "d,n\n3106.33,\n3106.33,5\n"},
      {"--csv --first-record=8", "s,n,d\n"},
      // Delimited text keeps 17 significant digits and prints the layout's null token.
      {"-y --first-record=6 -d 's string; n int null=\"NULL\"; d double'",
       "a;b,NULL,3106.3299999999999\n,5,3106.3299999999999\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const auto result = Run(QuotingTable(), c.options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
  }
}

TEST_F(DrawoffCsvTest, QuotesFieldNamesAsValues) {
  const auto result = Run(QuotingTable("a, \"b\""), "--csv --first-record=7");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "\"a, \"\"b\"\"\",n,d\n\"\",5,3106.33\n");
}

TEST_F(DrawoffCsvTest, RefusesOptionsThatDontFitCsv) {
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--csv -b",
       "--csv can't be used with --text-output-mac-eol option: CSV records end in LF "
       "or CR LF."},
      {"-b --csv -d 's string'",
       "--csv can't be used with --text-output-mac-eol option: CSV records end in LF or CR LF."},
      {"-y --no-header -d 's string'", "--no-header can't be used without --csv option."},
      {"-y --delimiter=';' -d 's string'", "--delimiter can't be used without --csv option."},
      {"--csv --delimiter=';;'",
       "Invalid CSV delimiter: ';;'; it must be one byte other than '\"', CR and LF."},
      {"--csv --delimiter=''",
       "Invalid CSV delimiter: ''; it must be one byte other than '\"', CR and LF."},
      {"--csv --delimiter='\"'",
       "Invalid CSV delimiter: '\"'; it must be one byte other than '\"', CR and LF."},
      {"--csv --delimiter='\\n'",
       "Invalid CSV delimiter: '\\n'; it must be one byte other than '\"', CR and LF."},
      {"-y", "Data definition has no fields."},
      {"--csv -d 's int; n int nullable; d double'", "Field reading failed: 's' (record no. 1)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const auto result = Run(QuotingTable(), c.options);
    EXPECT_EQ(result.status, 20);
    EXPECT_EQ(testing::FailMessage(result.err), c.message);
    EXPECT_EQ(testing::FailLines(result.err), 1u);
    EXPECT_EQ(result.out, std::string(c.options).starts_with("--csv -d") ? "s,n,d\n" : "");
  }
}

// One RFC 4180 record per entry; an unquoted empty value is null. With `nullText`, a quoted value
// equal to it is null as well (the independent rows print null as "\N").
using Record = std::vector<std::optional<std::string>>;
std::vector<Record> ParseCsv(const std::string& text, const char* nullText = nullptr) {
  std::vector<Record> records(1);
  std::string value;
  bool quoted = false;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '"') {
      quoted = true;
      for (++at; at < text.size() && !(text[at] == '"' && text[at + 1] != '"'); ++at) {
        value.push_back(text[at]);
        at += text[at] == '"' ? 1 : 0;
      }
      continue;
    }
    if (text[at] != ',' && text[at] != '\n') {
      value.push_back(text[at]);
      continue;
    }
    const bool null = (!quoted && value.empty()) || (nullText != nullptr && value == nullText);
    records.back().push_back(null ? std::nullopt : std::optional<std::string>(value));
    value.clear();
    quoted = false;
    if (text[at] == '\n') {
      records.emplace_back();
    }
  }
  records.pop_back();  // after the last line end
  return records;
}

// The same value: equal texts, or numbers that read as the same double (%.17g against the
// shortest form).
bool SameValue(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (a == b) {
    return true;
  }
  if (!a || !b || a->empty() || b->empty()) {
    return false;
  }
  char* aEnd = nullptr;
  char* bEnd = nullptr;
  const double x = strtod(a->c_str(), &aEnd);
  const double y = strtod(b->c_str(), &bEnd);
  return *aEnd == '\0' && *bEnd == '\0' && x == y;
}

TEST(DrawoffCsvSamples, EverySampleWithoutLayoutGivesTheIndependentValues) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_SAMPLES_DIR)) {
    const std::filesystem::path rows = entry.path();
    if (rows.extension() != ".rows") {
      continue;
    }
    ++files;
    const std::string qvd = std::filesystem::path(rows).replace_extension(".qvd").string();
    SCOPED_TRACE(qvd);
    const auto result = testing::RunProgram("drawoff", "--csv -i " + testing::ShellQuote(qvd));
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<Record> got = ParseCsv(result.out);
    const std::vector<Record> expected = ParseCsv(testing::ReadFileBytes(rows.string()), "\\N");
    ASSERT_FALSE(got.empty());
    got.erase(got.begin());  // the header line
    ASSERT_EQ(got.size(), expected.size());
    size_t differences = 0;
    for (size_t r = 0; r < got.size() && differences < 5; ++r) {
      ASSERT_EQ(got[r].size(), expected[r].size()) << "record " << r + 1;
      for (size_t f = 0; f < got[r].size(); ++f) {
        if (!SameValue(got[r][f], expected[r][f])) {
          ++differences;
          ADD_FAILURE() << "record " << r + 1 << " field " << f + 1 << ": "
                        << got[r][f].value_or("(null)") << " against "
                        << expected[r][f].value_or("(null)");
        }
      }
    }
  }
  EXPECT_EQ(files, 17u);
}

}  // namespace
}  // namespace orv
