// Delimited text: token conversion per type, printing, quoting, null tokens and separators.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/input.h"
#include "runtime/settings.h"
#include "tests/types/test_support.h"
#include "types/calendar.h"
#include "types/decimal_text.h"
#include "types/floating_point.h"

namespace orv {
namespace {

// Restores the process text settings that a test changes.
struct OptionsGuard {
  TypeTraitsOptions saved = g_TypeTraitsOptions;
  ~OptionsGuard() { g_TypeTraitsOptions = saved; }
};

// Parses records until the clean end and prints each back; the first failure is written as
// "!status@field" and ends the transcript.
std::string Transcript(TypeTraitsCollection& fields, const std::string& text) {
  MemoryInput input(text.data(), text.size());
  return test::Capture([&](BufferedFileOutput& out) {
    for (size_t size = 0;;) {
      for (size_t i = 0; i < fields.size(); ++i) {
        int status = fields[i].Parse(input, size, true);
        if (status != kStatusOk) {
          const bool end = status == kStatusEnd && i == 0;
          return out.Write(end ? "" : "!" + std::to_string(status) + "@" + std::to_string(i));
        }
      }
      for (const auto& field : fields) {
        field->Print(out);
      }
    }
  });
}

TEST(TextRecords, ParseAndPrintBackTable) {
  struct Row {
    const char* layout;
    std::string input, expected;
    int endOfLineMode = 0;
    bool allowMissingSeparatorAtEof = false;
  } rows[] = {
      {"v int", "2147483648\n", "!2@0"},
      {"v int", "-2147483648\n +7\n12abc\n", "-2147483648\n7\n!2@0"},
      {"a string; b string; c string", "x,y\nz,w,v\n", "!2@1"},  // short record
      {"a int; b int", "1,2", "!2@1"},
      {"a int; b int", "1,2", "1,2\n", 0, true},
      {"a int; b int", "1", "!2@0", 0, true},
      {"a int; b string quote=\"'\"", "1,'x'", "1,'x'\n", 0, true},
      {"a int; b string", "1,x\r\n2,y\ny\r\n", "1,x\r\n2,y\ny\r\n", 1},
      {"a int; b string", "1\r\n", "!2@0", 1},
      {"s string quote=\"\\\"\"", "a\"b\n", "\"a\"\"b\"\n"},
      {"a string quote=\"\\\"\"; b string quote=\"\\\"\"", "\"x,\"\"y\"\"\nz\",plain\n",
       "\"x,\"\"y\"\"\nz\",\"plain\"\n"},
      {"a string quote=\"\\\"\"", "\"ab\"c\n", "!2@0"},
      {"a string quote=\"\\\"\"", "\"abc\n", "!2@0"},
      {"a string quote=\"'\" null=\"it's\"", "'it''s'\nit's\n''\n", "'it''s'\n'it''s'\n''\n"},
      {"a string separator=\"||\"; b string separator=\"\\r\\n\"", "x|y||z\r\nq||\r\n",
       "x|y||z\r\nq||\r\n"},
      {"a int separator=\"\\x01\"; b int", "5\x01-6\n", "5\x01-6\n"},
      {"a string; b string separator=\";\"", "x\ny,z;", "x\ny,z;"},
      {"a string(3) separator=none; b int", "abc7\nxyz8\n", "abc7\nxyz8\n"},
      {"a int null=\"NULL\" null=\"-\"; b string nullable", "NULL,\n-,x\n7,y\n",
       "NULL,\nNULL,x\n7,y\n"},
      {"a date null=\"N/A\"; b int nullable", "N/A,\n", "N/A,\n"},
      {"a string null=\"NULL\"; b int", ",1\nNULL,2\n", ",1\nNULL,2\n"},
      {"a decimal(10,2); b decimal", "-0.05,1.5\n", "-0.05,1.5000\n"},
      {"a double; b double; c double", "0.1,-0,1e300\n",
       "0.10000000000000001,-0,1.0000000000000001e+300\n"},
      {"v double", "1e400\n", "!2@0"},
      {"v date(\"%d.%m.%Y\")", "29.02.2024\n", "29.02.2024\n"},
      {"v date", "2024-13-01\n", "!2@0"},
      {"v datetime", "1899-12-31 23:59:59\n1969-12-31 23:59:59\n",
       "1899-12-31 23:59:59\n1969-12-31 23:59:59\n"},
      {"v datetime(\"%d/%m/%Y %H.%M\")", "02/01/1970 10.30\n", "02/01/1970 10.30\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.layout) + " <- '" + row.input + "'");
    OptionsGuard guard;
    g_TypeTraitsOptions.endOfLineMode = row.endOfLineMode;
    g_TypeTraitsOptions.allowMissingSeparatorAtEof = row.allowMissingSeparatorAtEof;
    TypeTraitsCollection fields = test::Layout(row.layout);
    EXPECT_EQ(Transcript(fields, row.input), row.expected);
  }
}

TEST(DecimalText, ParsesScaledAndTruncated) {
  struct Row {
    uint8_t precision, scale;
    const char* text;
    std::optional<long long> expected;
  } rows[] = {
      {5, 2, "123.456", 12345}, {5, 2, "1234.5", {}},
      {5, 2, "1.5e2", 15000},   {5, 2, "15000e-2", 15000},
      {5, 2, "1.25E-3", 0},     {5, 2, "   ", {}},
      {5, 2, "-", {}},          {5, 2, "7E", 700},
      {5, 2, "7e+", 700},       {5, 2, "-0.019", -1},
      {5, 2, "1000", {}},       {5, 2, "1e123", {}},
      {5, 2, "1e-x", {}},       {5, 2, "1.2.3", {}},
      {5, 2, "1,5", {}},        {5, 2, "1.5 ", {}},
      {5, 2, ".5", 50},         {3, 3, "0.999", 999},
      {3, 3, "1", {}},          {18, 4, "-12345678901234.5678", -123456789012345678LL},
      {5, 2, "1.e1", 1000},     {5, 2, "1.5e", 150},
      {5, 2, "+5", 500},        {5, 2, "5e100", {}},
      {5, 2, "5e-2", 5},        {5, 2, "\t-5E+01", -5000},
  };
  for (const Row& row : rows) {
    std::optional<__int128> got = ParseDecimalText(row.text, {row.precision, row.scale});
    ASSERT_EQ(got.has_value(), row.expected.has_value()) << row.text;
    EXPECT_EQ(static_cast<long long>(got.value_or(0)), row.expected.value_or(0)) << row.text;
  }
  const std::string nines(38, '9');
  EXPECT_TRUE((ParseDecimalText(nines, {38, 0}) == decimalPow10[38] - 1));
  EXPECT_FALSE((ParseDecimalText(nines + "9", {38, 0}).has_value()));
  // Fraction digits past the 38th are dropped, but must still be digits.
  const std::string ones = "0." + std::string(40, '1');
  EXPECT_TRUE((ParseDecimalText(ones, {38, 38}) == (decimalPow10[38] - 1) / 9));
  EXPECT_FALSE((ParseDecimalText(ones + "x", {38, 38}).has_value()));
}

TEST(DecimalText, GroupingAndSeparatorsBothWays) {
  struct Row {
    char grouping, separator;
    uint8_t precision, scale;
    long long value;
    const char* text;
  } rows[] = {
      {',', 0, 10, 2, 123450, "1,234.50"},
      {',', 0, 10, 2, 1234567890, "12,345,678.90"},
      {',', 0, 10, 2, -5, "-0.05"},
      {',', 0, 6, 0, 123456, "123,456"},
      {0, 0, 10, 2, 0, "0.00"},
      {0, 0, 4, 4, 5, "0.0005"},
      {0, ',', 5, 2, 314, "3,14"},
      {'.', ',', 9, 2, -123456789, "-1.234.567,89"},
  };
  OptionsGuard guard;
  for (const Row& row : rows) {
    g_TypeTraitsOptions.groupingSeparator = row.grouping;
    DecimalTextSettings settings{row.precision, row.scale, row.separator};
    char out[kDecimalTextCapacity];
    EXPECT_EQ(std::string(out, FormatDecimalText(row.value, settings, out)), row.text);
    EXPECT_EQ(static_cast<long long>(ParseDecimalText(row.text, settings).value_or(0)), row.value);
  }
  g_TypeTraitsOptions.groupingSeparator = ',';
  EXPECT_FALSE((ParseDecimalText("1,234.5,0", {10, 2}).has_value()));
  EXPECT_FALSE((ParseDecimalText("1,234.50", {10, 2, 0, 0, false}).has_value()));
}

// Plain texts are read in 64 bits, others in general; a leading blank sends any text to the
// general reading, so each text must read the same with and without one.
TEST(DecimalText, PlainTextsReadAsInGeneral) {
  const std::string eighteen(18, '9');
  const char* signs[] = {"", "-", "+"};
  const std::string integers[] = {"", "0", "7", "123", "999999999999", eighteen, eighteen + "9"};
  const char* points[] = {"", ".", ","};
  const std::string fractions[] = {"", "5", "05", "123456", eighteen};
  const char* ends[] = {"", "e2", "x"};
  const DecimalTextSettings settings[] = {{1, 0},           {5, 2},  {12, 2},
                                          {18, 0},          {18, 5}, {18, 18},
                                          {19, 2},          {38, 4}, {12, 2, 0, 0, false},
                                          {12, 2, ',', '.'}};
  for (const DecimalTextSettings& setting : settings) {
    for (const char* sign : signs) {
      for (const std::string& integer : integers) {
        for (const char* point : points) {
          for (const std::string& fraction : fractions) {
            for (const char* end : ends) {
              const std::string text = sign + integer + point + fraction + end;
              const auto plain = ParseDecimalText(text, setting);
              const auto general = ParseDecimalText(" " + text, setting);
              ASSERT_EQ(plain.has_value(), general.has_value()) << text;
              EXPECT_TRUE(plain == general) << text << " " << int{setting.precision};
            }
          }
        }
      }
    }
  }
}

// Magnitudes on both sides of 64 bits print the same digits, at every scale: the plain digits of
// the magnitude with the point `scale` digits from the right.
TEST(DecimalText, DigitsAcrossSixtyFourBits) {
  auto plain = [](unsigned __int128 m, int scale, bool negative) {
    std::string digits;
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
      m /= 10;
    } while (m != 0);
    if (digits.size() <= static_cast<size_t>(scale)) {
      digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    }
    if (scale > 0) {
      digits.insert(digits.size() - static_cast<size_t>(scale), ".");
    }
    return (negative ? "-" : "") + digits;
  };
  const unsigned __int128 top = UINT64_MAX;
  const unsigned __int128 magnitudes[] = {0, 1, 5, 123456789, top - 1, top, top + 1,
                                          10'000'000'000'000'000'000u - 1,
                                          static_cast<unsigned __int128>(decimalPow10[19]),
                                          static_cast<unsigned __int128>(decimalPow10[38] - 1),
                                          // pieces of 19 digits with zeros inside, and 39 digits
                                          static_cast<unsigned __int128>(decimalPow10[19]) * 5 + 7,
                                          static_cast<unsigned __int128>(decimalPow10[38]) + 1,
                                          (top + 1) * (top / 2 + 1) - 1};  // 2^127 - 1
  for (const unsigned __int128 m : magnitudes) {
    for (const int scale : {0, 2, 18, 19, 20, 38}) {
      for (const bool negative : {false, true}) {
        const __int128 value = negative ? -static_cast<__int128>(m) : static_cast<__int128>(m);
        char out[kDecimalTextCapacity];
        const DecimalTextSettings settings{38, static_cast<uint8_t>(scale)};
        const std::string want = plain(m, scale, negative && m != 0);
        EXPECT_EQ(std::string(out, FormatDecimalText(value, settings, out)), want) << scale;
      }
    }
  }
}

TEST(DateTimeText, PrintAndParseRoundTripFrom1600To2400) {
  const unsigned seed = 1969;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const char* format = "%Y-%m-%d %H:%M:%S";
  const int64_t low = -11676096000, high = 13569465600;  // 1600-01-01, 2400-01-01
  for (int i = 0; i < 5000; ++i) {
    int64_t seconds = i < 4 ? std::vector<int64_t>{low, high, -1, -2208988801}[i]
                            : low + static_cast<int64_t>(random() % (high - low));
    char text[kTimeTextCapacity];
    text[FormatDateTimeText(seconds, format, text)] = 0;
    ASSERT_EQ(ParseDateTimeText(text, format), seconds) << text;
  }
}

// ISO days and times are read without strptime where they have exactly their form; every text
// must read as strptime reads it, through the same format with %e (which strptime reads as %d).
TEST(DateTimeText, IsoFormsReadAsStrptimeReadsThem) {
  std::vector<std::string> days = {"2024-1-05",  " 2024-01-05", "2024-01-05 ", "2024/01/05",
                                   "2024-01-5x", "+024-01-05",  "2024-01-0",   "99999-01-01"};
  for (const char* year : {"0000", "0001", "1969", "2023", "2024", "9999"}) {
    for (int month = 0; month <= 13; ++month) {
      for (int day = 0; day <= 32; ++day) {
        char text[16];
        snprintf(text, sizeof text, "%s-%02d-%02d", year, month, day);
        days.push_back(text);
      }
    }
  }
  for (const std::string& day : days) {
    EXPECT_EQ(ParseDateText(day, "%Y-%m-%d"), ParseDateText(day, "%Y-%m-%e")) << day;
  }
  std::vector<std::string> times = {"2024-02-29T00:00:00", "2024-02-29  0:00:00",
                                    "2024-02-29 1:02:03", "2024-02-29 01:02:03 "};
  for (const char* day : {"0000-01-01", "1969-12-31", "2024-02-29", "2023-02-29", "9999-12-31"}) {
    for (const char* clock : {"00:00:00", "23:59:59", "24:00:00", "12:60:00", "12:00:60",
                              "12:00:61", "7:00:00x", "1a:00:00"}) {
      times.push_back(std::string(day) + " " + clock);
    }
  }
  for (const std::string& time : times) {
    EXPECT_EQ(ParseDateTimeText(time, "%Y-%m-%d %H:%M:%S"),
              ParseDateTimeText(time, "%Y-%m-%e %H:%M:%S"))
        << time;
  }
}

// Plain decimal numbers read through from_chars; every token must read as strtod reads it whole
// (an overflow refused, an underflow taken as the nearest small value), to the same bits.
TEST(DoubleText, TokensReadAsStrtodReadsThem) {
  auto reference = [](const std::string& token, double& value) {
    errno = 0;
    char* end = nullptr;
    value = strtod(token.c_str(), &end);
    return end != token.c_str() && end == token.c_str() + token.size() &&
           !(errno == ERANGE && std::isinf(value));
  };
  std::vector<std::string> tokens = {"0",
                                     "-0",
                                     "0.0",
                                     "1",
                                     "-1",
                                     "1.5",
                                     "1e308",
                                     "1.8e308",
                                     "-1e309",
                                     "1e-308",
                                     "4.9e-324",
                                     "2.4e-324",
                                     "1e-400",
                                     "-1e-400",
                                     "0.1",
                                     "123456789012345678901234567890",
                                     "9007199254740993",
                                     "+1",
                                     " 1",
                                     "1 ",
                                     "0x1p3",
                                     "inf",
                                     "-inf",
                                     "nan",
                                     "-nan",
                                     ".5",
                                     "-.5",
                                     "5.",
                                     "1e",
                                     "1e+",
                                     "--1",
                                     "",
                                     "-",
                                     "1,5",
                                     "1.5.5",
                                     "1E5",
                                     "-0.000"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = random();
    double v;
    memcpy(&v, &bits, sizeof v);
    char text[40];
    snprintf(text, sizeof text, i % 2 ? "%.17g" : "%.6g", v);
    tokens.push_back(text);
  }
  for (const std::string& token : tokens) {
    double expected = 0;
    double read = 0;
    const bool ok = reference(token, expected);
    ASSERT_EQ(ParseDoubleToken(token, read), ok) << token;
    if (ok) {
      ASSERT_EQ(memcmp(&read, &expected, sizeof read), 0) << token;
    }
  }
}

}  // namespace
}  // namespace orv
