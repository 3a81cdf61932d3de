// CSV values: quoted only when they must be, an empty text as "", doubles in their shortest form.
#include "types/csv_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/types/test_support.h"

namespace orv {
namespace {

TEST(CsvValue, QuotesOnlyTextThatHoldsTheDelimiterAQuoteOrALineEnd) {
  const struct {
    std::string_view text;
    char delimiter;
    const char* written;
  } cases[] = {
      {"plain", ',', "plain"},
      {"", ',', R"("")"},
      {" padded ", ',', " padded "},
      {"a,b", ',', R"("a,b")"},
      {"a,b", ';', "a,b"},
      {"a;b", ';', R"("a;b")"},
      {"a\tb", '\t', "\"a\tb\""},
      {R"(say "hi")", ',', R"("say ""hi""")"},
      {R"(")", ',', R"("""")"},
      {"two\nlines", ',', "\"two\nlines\""},
      {"cr\rhere", ',', "\"cr\rhere\""},
      {"'single'", ',', "'single'"},
      {"caf\xc3\xa9", ',', "caf\xc3\xa9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const std::string written =
        test::Capture([&](BufferedFileOutput& out) { WriteCsvValue(out, c.text, c.delimiter); });
    EXPECT_EQ(written, c.written);
  }
}

TEST(CsvValue, DelimiterIsAnyByteButQuoteAndLineEnds) {
  for (char delimiter : {',', ';', '\t', '|', ' ', '\0'}) {
    EXPECT_TRUE(IsCsvDelimiter(delimiter)) << int{delimiter};
  }
  for (char delimiter : {'"', '\n', '\r'}) {
    EXPECT_FALSE(IsCsvDelimiter(delimiter)) << int{delimiter};
  }
}

TEST(CsvDouble, ShortestTextThatReadsBack) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {3106.33, "3106.33"},
      {2032.43, "2032.43"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0, "0"},
      {-0.0, "-0"},
      {-1.5, "-1.5"},
      {100000, "100000"},
      {1e-4, "0.0001"},
      {2.5e-5, "2.5e-05"},
      {9999999999999998, "9999999999999998"},
      {1e16, "1e+16"},
      {9007199254740993.0, "9007199254740992"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {std::nan(""), "nan"},
  };
  for (const auto& c : cases) {
    char text[32];
    EXPECT_EQ(std::string(text, FormatShortestDouble(c.value, text)), c.text);
  }
}

}  // namespace
}  // namespace orv
