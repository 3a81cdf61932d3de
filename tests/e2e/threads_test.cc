// --threads: the output and the log are the same for every thread count, and a bad count is
// refused with one FAIL line.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/drawoff/qvd_builder.h"
#include "tests/e2e/shell_run.h"

namespace orv::testing {
namespace {

TEST(Threads, ABadCountIsRefused) {
  ScratchDir dir;
  for (const char* program : {"drawoff", "packdown", "feedout"}) {
    for (const char* count : {"0", "1025", "two", "-1", ""}) {
      SCOPED_TRACE(std::string(program) + " --threads=" + count);
      const ProgramResult result = Shell(
          dir, std::string("$B/") + program + " -d 'n int' --threads=" + count + " < /dev/null");
      ExpectOneFail(result, std::string("Invalid thread count: '") + count +
                                "'; it must be a whole number from 1 to 1024.");
    }
  }
}

// The log without what may differ between runs: the time, the rate and the thread count.
std::string StableLog(const std::string& err) {
  static const std::regex time("\\|[0-9T:.-]+Z\\|");
  static const std::regex varying("[^\\n]*\\|(rate|threads|input)\\|[^\\n]*\\n");
  return std::regex_replace(std::regex_replace(err, time, "||"), varying, "");
}

// Rows of a text field (200 symbols, one holding a tab) and an int field, one byte each, padded to
// `width`: several chunks of rows. `bad` rows name a symbol past the table; `cut` keeps that many
// bytes of the rows; a `longText` symbol is too long to convert up front, so that the rows need
// the field's descriptor.
struct ChunkedQvd {
  std::vector<size_t> bad = {};
  std::optional<size_t> cut = std::nullopt;
  size_t width = 2;
  size_t count = 40000;
  bool longText = false;

  std::string Bytes() const {
    std::string texts;
    std::string ints;
    for (int i = 0; i < 200; ++i) {
      texts += TextSymbol(i == 150               ? "tab\there"
                          : longText && i == 199 ? std::string(300, 'x')
                                                 : "name " + std::to_string(i));
      ints += IntSymbol(i * 7 - 300);
    }
    std::string rows;
    for (size_t r = 0; r < count; ++r) {
      rows += static_cast<char>((r * 7919) % 200);
      rows += static_cast<char>((r * 104729) % 200);
      rows.append(width - 2, '\0');
    }
    for (size_t r : bad) {
      rows[width * r] = static_cast<char>(230);
    }
    QvdTable table({QvdField("s", 0, 8, 0, texts, 200), QvdField("n", 8, 8, 0, ints, 200)}, width,
                   rows);
    if (cut) {
      table.noOfRecords = count;
      table.dataBytes = texts.size() + ints.size() + *cut;
    }
    return table.Bytes();
  }
};

TEST(Threads, DrawoffWritesAndReportsTheSameForEveryCount) {
  ScratchDir dir;
  WriteFileBytes(dir / "clean.qvd", ChunkedQvd{}.Bytes());
  WriteFileBytes(dir / "bad.qvd", ChunkedQvd{.bad = {17001, 30000}}.Bytes());
  WriteFileBytes(dir / "cut.qvd", ChunkedQvd{.cut = 2 * 25000 + 1}.Bytes());
  WriteFileBytes(dir / "wide.qvd", ChunkedQvd{.bad = {1000}, .width = 3000, .count = 3000}.Bytes());
  WriteFileBytes(dir / "long.qvd", ChunkedQvd{.longText = true}.Bytes());
  WriteFileBytes(dir / "long-bad.qvd", ChunkedQvd{.bad = {17001}, .longText = true}.Bytes());
  const std::string layout = " -d 's string; n int'";
  const std::string runs[] = {
      "-i clean.qvd" + layout,
      "-i clean.qvd -y" + layout,  // row 150's tab: one warning, the same record
      "-i clean.qvd --csv",
      "-i clean.qvd --first-record=9000 -y" + layout,
      "-i clean.qvd --filter='n>=0'" + layout,
      "-i clean.qvd -y --filter='s<name 5' --filter='n!=-300'" + layout,
      "-i bad.qvd --filter='s!=name 3'" + layout,  // a symbol past the table: row by row
      "-i clean.qvd --low-memory -y" + layout,
      "-i bad.qvd" + layout,
      "-i cut.qvd --csv",
      "-i wide.qvd -y" + layout,
      // The text field needs its descriptor in every row: each worker has its own.
      "-i long.qvd" + layout,
      "-i long.qvd -y" + layout,
      "-i long.qvd --csv",
      "-i long.qvd --filter='n<0' -y" + layout,
      "-i long-bad.qvd --low-memory" + layout,
      "-i long-bad.qvd -y" + layout,
  };
  for (const std::string& run : runs) {
    SCOPED_TRACE(run);
    const ProgramResult one = Shell(dir, "$B/drawoff --threads=1 " + run);
    for (const char* threads : {"2", "3", "8"}) {
      const ProgramResult many =
          Shell(dir, std::string("$B/drawoff --threads=") + threads + " " + run);
      EXPECT_EQ(many.status, one.status) << threads;
      EXPECT_TRUE(many.out == one.out) << threads;
      EXPECT_EQ(StableLog(many.err), StableLog(one.err)) << threads;
    }
  }
  // A reader that goes away ends every run quietly (how many records were decoded by then
  // depends on when the pipe closed).
  for (const char* threads : {"1", "2"}) {
    const ProgramResult closed = Shell(dir, std::string("$B/drawoff -i clean.qvd -y --threads=") +
                                                threads + layout + " | head -c 1000");
    EXPECT_EQ(closed.status, 0);
    EXPECT_EQ(closed.out.size(), 1000u);
    EXPECT_NE(closed.err.find("|INFO|output closed|"), std::string::npos);
  }
  // The long text is converted in each row, not up front.
  EXPECT_EQ(Shell(dir, "$B/drawoff -i long.qvd" + layout).err.find("symbol outputs made|s:"),
            std::string::npos);
  // The failures are those of the rows themselves.
  EXPECT_EQ(FailMessage(Shell(dir, "$B/drawoff --threads=2 -i bad.qvd" + layout).err),
            "Field reading failed: 's' (record no. 17002).");
  EXPECT_EQ(FailMessage(Shell(dir, "$B/drawoff --threads=2 -i cut.qvd --csv").err),
            "Error reading field data: 'n'.");
}

}  // namespace
}  // namespace orv::testing
