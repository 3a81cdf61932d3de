// Text tokens: each type converts a token only when it takes all of it, refuses calendar values
// that name no real day or second, and stops reading a token that grows past what the type can
// hold, however much input follows.
#include "types/text_token.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <cstdio>
#include <cstring>

#include "runtime/input.h"
#include "runtime/settings.h"
#include "tests/types/test_support.h"

namespace orv {
namespace {

// Parses the records of `text` and prints each back; the first failure is written as "!@field"
// and ends the transcript.
std::string Transcript(std::string_view layout, const std::string& text, int endOfLineMode = 0) {
  const TypeTraitsOptions saved = g_TypeTraitsOptions;
  g_TypeTraitsOptions.endOfLineMode = endOfLineMode;
  TypeTraitsCollection fields = test::Layout(layout);
  MemoryInput input(text.data(), text.size());
  std::string transcript = test::Capture([&](BufferedFileOutput& out) {
    for (size_t size = 0;;) {
      for (size_t i = 0; i < fields.size(); ++i) {
        if (int status = fields[i].Parse(input, size, true); status != kStatusOk) {
          const bool end = status == kStatusEnd && i == 0;
          return out.Write(end ? "" : "!@" + std::to_string(i));
        }
      }
      for (const auto& field : fields) {
        field->Print(out);
      }
    }
  });
  g_TypeTraitsOptions = saved;
  return transcript;
}

struct Row {
  std::string layout;
  std::string input;
  std::string expected;
  int endOfLineMode = 0;
};

void ExpectTranscripts(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.layout + " <- '" + row.input + "'");
    EXPECT_EQ(Transcript(row.layout, row.input, row.endOfLineMode), row.expected);
  }
}

TEST(TextTokens, NumbersAndDatesTakeTheWholeToken) {
  ExpectTranscripts({
      {"A int; B int", "1,2,3\n", "!@1"},  // the last field's token runs to the line end
      {"v int", "1.9\n", "!@0"},
      {"v int", "12abc\n", "!@0"},
      {"v int", "1e9\n", "!@0"},
      {"v int", "0x10\n", "!@0"},
      {"v int", "7 \n", "!@0"},
      {"v int",
       std::string("1\0"
                   "2\n",
                   4),
       "!@0"},
      {"v int", " \t+7\n-0\n", "7\n0\n"},  // leading blanks, as before
      {"v int", "1\n2\r\n", "!@0", 1},     // "1\n2" is one token when lines end in CR LF
      {"v double", "1,5\n", "!@0"},
      {"v double", "1e9x\n", "!@0"},
      {"v double",
       std::string("2\0"
                   "5\n",
                   4),
       "!@0"},
      {"v double", " 2.5\n0x10\n-inf\n1e-400\n", "2.5\n16\n-inf\n0\n"},
      {"v date", "2024-01-01 10:00:00\n", "!@0"},
      {"v date", "2024-01-01x\n", "!@0"},
      {"v datetime", "2024-01-01 10:00:00 UTC\n", "!@0"},
      {"v datetime(\"%Y-%m-%d\")", "2024-01-01\n", "2024-01-01\n"},
      {"a int; s string", "1,x,y z\n", "1,x,y z\n"},  // a string still takes the rest
      {"a int; b decimal(5,2)", "1,1.5 \n", "!@1"},
  });
}

TEST(TextTokens, CalendarTextNamesARealDayAndSecond) {
  ExpectTranscripts({
      {"v date", "2021-02-30\n", "!@0"},
      {"v date", "2023-02-29\n", "!@0"},
      {"v date", "2024-04-31\n", "!@0"},
      {"v date", "2024-02-29\n2024-04-30\n0001-01-01\n", "2024-02-29\n2024-04-30\n0001-01-01\n"},
      {"v date(\"%d.%m.%Y\")", "31.06.2024\n", "!@0"},
      {"v date(\"%m/%Y\")", "02/2024\n", "02/2024\n"},  // the first of the month
      {"v datetime", "2021-02-30 00:00:00\n", "!@0"},
      {"v datetime", "2021-12-31 23:59:60\n", "!@0"},
      {"v datetime", "2021-12-31 23:59:61\n", "!@0"},
      {"v datetime", "2021-12-31 10:00:00.75\n", "!@0"},
      {"v datetime", "2024-02-29 23:59:59\n0000-01-01 00:00:00\n",
       "2024-02-29 23:59:59\n0000-01-01 00:00:00\n"},
      {"v datetime(\"%H:%M:%S\")", "10:00:00\n", "10:00:00\n"},
      {"v datetime(\"%H:%M:%S\")", "10:00:00.75\n", "!@0"},
      {"v datetime(\"%H:%M:%S\") time", "23:59:60\n", "!@0"},
  });
}

// Years below 1000 print with four digits in the default formats and wherever a format has %Y;
// the text reads back as the same value.
TEST(TextTokens, YearsBelowAThousandPrintFourDigits) {
  ExpectTranscripts({
      {"v date", "1-1-1\n999-12-31\n", "0001-01-01\n0999-12-31\n"},
      {"v date(\"%d.%m.%Y\")", "5.6.7\n", "05.06.0007\n"},
      {"v date(\"%Y %%Y\")", "0012 %Y\n", "0012 %Y\n"},
      {"v date(\"%d %B %Y\")", "01 March 0000\n", "01 March 0000\n"},
      {"v date", "65535-12-31\n", "!@0"},  // %Y reads four digits at most
      {"v datetime", "1-01-01 01:02:03\n", "0001-01-01 01:02:03\n"},
      {"v datetime(\"%Y%m%d %H\")", "00450102 07\n", "00450102 07\n"},
  });
}

// A token without an end fails once it passes its type's limit: of a gigabyte of 0x00 bytes
// after `prefix` (a sparse file), at most the limit and a buffer or two are read.
TEST(TextTokens, GigabyteTokenFailsOnceItsTypeCanHoldNoMore) {
  const struct {
    const char* layout;
    const char* prefix;
  } cases[] = {
      {"v int", ""},           {"v int", "   "},
      {"v double", "1"},       {"v date", ""},
      {"v datetime", "2024"},  {"v decimal(10,2)", "9"},
      {"v string(5)", "ab"},   {"v string(5) quote=\"'\"", "'a"},
      {"a int; b int", "1,2"},
  };
  char path[] = "/tmp/orv_token_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  unlink(path);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    TypeTraitsCollection fields = test::Layout(c.layout);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    ASSERT_EQ(pwrite(fd, c.prefix, strlen(c.prefix), 0), static_cast<ssize_t>(strlen(c.prefix)));
    ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    FILE* file = fdopen(dup(fd), "rb");
    ASSERT_NE(file, nullptr);
    {
      std::unique_ptr<IFileInput> input = IFileInput::Create(file, false, false, false);
      size_t size = 0;
      int status = kStatusOk;
      for (size_t i = 0; i < fields.size() && status == kStatusOk; ++i) {
        status = fields[i].Parse(*input, size, false);
      }
      EXPECT_EQ(status, kStatusBad);
      EXPECT_LT(input->BytesConsumed(), 1u << 20);
    }
    fclose(file);
  }
  close(fd);
}

// The limits leave room for every text the type reads: leading blanks, a double written out in
// full, long names of days and months, and null tokens longer than any value.
TEST(TextTokens, LimitsLeaveRoomForEveryValidText) {
  char full[1200];
  const int length = snprintf(full, sizeof full, "-%.1074f", DBL_TRUE_MIN);
  ASSERT_EQ(length, 1077);
  const std::string nullToken(2000, 'N');
  ExpectTranscripts({
      {"v int", std::string(256, ' ') + "-2147483648\n", "-2147483648\n"},
      {"v int", std::string(257, ' ') + "-2147483648\n", "!@0"},
      {"v double", std::string(full) + "\n", "-4.9406564584124654e-324\n"},
      {"v decimal(38,2)", std::string(full) + "\n", "0.00\n"},
      {"v date(\"%A %d %B %Y\")", "Wednesday 30 September 2020\n", "Wednesday 30 September 2020\n"},
      {"v string(3) quote=\"'\"", "'a''b'\n'a''bc'\n", "'a''b'\n!@0"},
      {"v int null=\"" + nullToken + "\"", nullToken + "\n", nullToken + "\n"},
  });
}

// The end of a token is found wherever it lies: every token length up to past two 16-byte
// blocks, ending in the separator, a line end or the input's end, in delimited text and in CSV.
TEST(TextTokens, EndIsFoundAtEveryPlace) {
  for (size_t length = 0; length <= 40; ++length) {
    std::string token;
    for (size_t i = 0; i < length; ++i) {
      token.push_back("a\x80q\xff \""[i % 6]);  // high bytes and quotes inside the token
    }
    SCOPED_TRACE(length);
    for (const char delimiter : {',', ';', '\0'}) {
      const std::string text = token + delimiter + token + "\n" + token;
      MemoryInput input(text.data(), text.size());
      std::string read;
      bool quoted = false;
      text_token::CsvEnd end = text_token::CsvEnd::kNone;
      const text_token::CsvEnd ends[] = {text_token::CsvEnd::kValue, text_token::CsvEnd::kLine,
                                         text_token::CsvEnd::kInput};
      for (const text_token::CsvEnd want : ends) {
        read.clear();
        if (token.empty() || token[0] != '"') {
          ASSERT_EQ(text_token::ReadCsv(input, delimiter, 100, read, quoted, end), kStatusOk);
          EXPECT_EQ(read, token);
          EXPECT_EQ(end, want);
        }
      }
    }
    const std::string unquoted = token + "\n";
    EXPECT_EQ(Transcript("s string; t string", token + "," + unquoted), token + "," + unquoted);
    EXPECT_EQ(Transcript("s string; t string", unquoted), "!@0");  // the line ends first
  }
}

}  // namespace
}  // namespace orv
