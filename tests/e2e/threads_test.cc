// --threads: the output and the log are the same for every thread count, and a bad count is
// refused with one FAIL line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
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
  static const std::regex varying("[^\\n]*\\|(rate|threads|input|unbuffered)\\|[^\\n]*\\n");
  return std::regex_replace(std::regex_replace(err, time, "||"), varying, "");
}

// Rows of a text field (200 symbols, one holding a tab) and an int field, one byte each, padded to
// `width`: several chunks of rows. `bad` rows name a symbol past the table; `cut` keeps that many
// bytes of the rows, `cutInTables` half the int table; `badInt` damages the int table; a
// `longText` symbol is too long to convert up front, so that the rows need the field's descriptor.
struct ChunkedQvd {
  std::vector<size_t> bad = {};
  std::optional<size_t> cut = std::nullopt;
  size_t width = 2;
  size_t count = 40000;
  bool longText = false;
  bool cutInTables = false;
  bool badInt = false;

  std::string Bytes() const {
    std::string texts;
    std::string ints;
    for (int i = 0; i < 200; ++i) {
      texts += TextSymbol(i == 150               ? "tab\there"
                          : longText && i == 199 ? std::string(300, 'x')
                                                 : "name " + std::to_string(i));
      ints += IntSymbol(i * 7 - 300);
    }
    if (badInt) {
      ints[5 * 120] = '\x09';  // no kind of symbol
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
    if (cutInTables) {
      table.dataBytes = texts.size() + ints.size() / 2;
    }
    return table.Bytes();
  }
};

TEST(Threads, DrawoffWritesAndReportsTheSameForEveryCount) {
  ScratchDir dir;
  WriteFileBytes(dir / "clean.qvd", ChunkedQvd{}.Bytes());
  WriteFileBytes(dir / "bad.qvd", ChunkedQvd{.bad = {17001, 30000}}.Bytes());
  WriteFileBytes(dir / "cut.qvd", ChunkedQvd{.cut = 2 * 25000 + 1}.Bytes());
  WriteFileBytes(dir / "cut-tables.qvd", ChunkedQvd{.cutInTables = true}.Bytes());
  WriteFileBytes(dir / "bad-table.qvd", ChunkedQvd{.badInt = true}.Bytes());
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
      "-i cut-tables.qvd" + layout,  // the text table's debug lines, then the int table's failure
      "-i bad-table.qvd" + layout,
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
    // Unbuffered, every row goes the row-by-row way: the others go in chunks, one thread too.
    const ProgramResult one = Shell(dir, "$B/drawoff --unbuffered " + run);
    for (const char* threads : {"1", "2", "3", "8"}) {
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
  EXPECT_EQ(FailMessage(Shell(dir, "$B/drawoff --threads=2 -i bad-table.qvd" + layout).err),
            "Symbol table of field 'n' is damaged.");
}

// Two tables of 140,000 symbols, whose outputs are made in parts once there are more workers than
// such tables: texts that grow wider from part to part, one with a tab, and an int table with one
// symbol that isn't an int. `badRow` names that symbol; with `longText` one text is too long to
// keep up front, so that the text table is converted as the rows name its symbols.
std::string PartedQvd(std::optional<size_t> badRow, bool longText = false) {
  constexpr uint32_t kSymbols = 140000;
  constexpr uint32_t kBadSymbol = 120000;
  std::string texts;
  std::string ints;
  for (uint32_t i = 0; i < kSymbols; ++i) {
    texts +=
        TextSymbol(i == 100000               ? "tab\there"
                   : longText && i == 130000 ? std::string(300, 'y')
                                             : std::string(1 + i / 10000, 'x') + std::to_string(i));
    ints += i == kBadSymbol ? TextSymbol("oops") : IntSymbol(static_cast<int32_t>(i) * 3 - 1000);
  }
  std::string rows;
  for (uint32_t r = 0; r < 150000; ++r) {
    uint64_t n = (uint64_t{r} * 7919) % kSymbols;
    n = n == kBadSymbol && badRow != r ? n + 1 : n;
    n = badRow == r ? kBadSymbol : n;
    const uint64_t bits = (uint64_t{r} * 104729) % kSymbols | n << 18;
    for (int b = 0; b < 5; ++b) {
      rows += static_cast<char>(bits >> (8 * b));
    }
  }
  return QvdTable(
             {QvdField("s", 0, 18, 0, texts, kSymbols), QvdField("n", 18, 18, 0, ints, kSymbols)},
             5, rows)
      .Bytes();
}

TEST(Threads, DrawoffMakesLargeTablesInPartsAlike) {
  ScratchDir dir;
  WriteFileBytes(dir / "parted.qvd", PartedQvd(std::nullopt));
  WriteFileBytes(dir / "parted-bad.qvd", PartedQvd(70000));
  WriteFileBytes(dir / "parted-long.qvd", PartedQvd(std::nullopt, true));
  const std::string layout = " -d 's string; n int'";
  const std::string runs[] = {
      "-i parted.qvd" + layout,
      "-i parted.qvd -y" + layout,  // the tab: one warning
      "-i parted.qvd --csv",
      "-i parted-bad.qvd -y" + layout,
      "-i parted-long.qvd -y" + layout,
  };
  for (const std::string& run : runs) {
    SCOPED_TRACE(run);
    const ProgramResult one = Shell(dir, "ORV_LOG_LEVEL=debug $B/drawoff --threads=1 " + run);
    for (const char* threads : {"3", "8"}) {
      const ProgramResult many = Shell(
          dir, std::string("ORV_LOG_LEVEL=debug $B/drawoff --threads=") + threads + " " + run);
      EXPECT_EQ(many.status, one.status) << threads;
      EXPECT_TRUE(many.out == one.out) << threads;
      EXPECT_EQ(StableLog(many.err), StableLog(one.err)) << threads;
    }
  }
  EXPECT_EQ(FailMessage(Shell(dir, "$B/drawoff --threads=8 -i parted-bad.qvd" + layout).err),
            "Field reading failed: 'n' (record no. 70001).");
}

// A damaged table is reported before a later one that the input cuts short, as one thread would.
TEST(Threads, DrawoffReportsTheFirstBadTableForEveryCount) {
  ScratchDir dir;
  const std::string texts = TextSymbol("a") + "\x09zz" + TextSymbol("c");
  const std::string ints = IntSymbol(1) + IntSymbol(2) + IntSymbol(3);
  const std::string rows = std::string("\x00\x01\x02", 3);
  const QvdTable damaged({QvdField("s", 0, 2, 0, texts, 3), QvdField("n", 2, 2, 0, ints, 3)}, 1,
                         rows);
  QvdTable cut = damaged;
  cut.dataBytes = texts.size() + 4;  // inside the second table
  QvdTable cutFirst = damaged;
  cutFirst.fields[0].symbols = TextSymbol("a") + TextSymbol("b") + TextSymbol("c");
  cutFirst.dataBytes = 3;
  WriteFileBytes(dir / "damaged.qvd", damaged.Bytes());
  WriteFileBytes(dir / "cut.qvd", cut.Bytes());
  WriteFileBytes(dir / "cut-first.qvd", cutFirst.Bytes());
  std::vector<std::string> messages;
  for (const char* file : {"damaged.qvd", "cut.qvd", "cut-first.qvd"}) {
    SCOPED_TRACE(file);
    const std::string run = std::string(" -i ") + file + " -d 's string; n int'";
    const ProgramResult one = Shell(dir, "$B/drawoff --threads=1" + run);
    EXPECT_EQ(one.status, 20);
    messages.push_back(FailMessage(one.err));
    for (const char* threads : {"2", "3"}) {
      const ProgramResult many = Shell(dir, std::string("$B/drawoff --threads=") + threads + run);
      EXPECT_EQ(many.status, 20);
      EXPECT_EQ(StableLog(many.err), StableLog(one.err)) << threads;
    }
  }
  EXPECT_EQ(messages[1], messages[0]);  // the damage in the first table, not the cut after it
  EXPECT_NE(messages[2], messages[0]);
}

// A large table of plain ints and one of plain doubles for a nullable field, read where the file
// holds them (with 3 workers, where parts would be made of such tables): the records, and the
// lines of text and CSV, are those of the symbols (and nulls), and a row past the tables is
// reported at its record for every count.
TEST(Threads, DrawoffReadsPlainNumberTablesWhereTheFileHoldsThem) {
  constexpr uint32_t kSymbols = 140000;
  std::string ints;
  std::string doubles;
  for (uint32_t i = 0; i < kSymbols; ++i) {
    ints += IntSymbol(static_cast<int32_t>(i * 7919));
    doubles += DoubleSymbol(i * 0.5);
  }
  ScratchDir dir;
  for (const std::optional<uint32_t> badRow : {std::optional<uint32_t>(), {60001u}}) {
    std::string rows;
    std::string expected[3] = {"", "", "n,d\n"};  // binary, text, CSV
    size_t written[3] = {};                       // the output's bytes before the bad row
    for (uint32_t r = 0; r < 90000; ++r) {
      for (int m = 0; m < 3 && r == badRow; ++m) {
        written[m] = expected[m].size();
      }
      const uint32_t n = r == badRow ? kSymbols : (r * 31) % kSymbols;
      const uint32_t d = r % kSymbols;
      const bool null = r % 7 == 3;
      const uint64_t bits = n | uint64_t{null ? 0 : d + 2} << 18;  // d's bias: -2, 0 is null
      for (int b = 0; b < 5; ++b) {
        rows += static_cast<char>(bits >> (8 * b));
      }
      expected[0] += LittleEndian(static_cast<int32_t>(n * 7919)) +
                     (null ? std::string(1, '\1') : std::string(1, '\0') + LittleEndian(d * 0.5));
      const std::string line = std::to_string(static_cast<int32_t>(n * 7919)) + "," +
                               (null ? "" : std::to_string(d / 2) + (d % 2 ? ".5" : "")) + "\n";
      expected[1] += line;
      expected[2] += line;
    }
    WriteFileBytes(dir / "plain.qvd", QvdTable({QvdField("n", 0, 18, 0, ints, kSymbols),
                                                QvdField("d", 18, 18, -2, doubles, kSymbols)},
                                               5, rows)
                                          .Bytes());
    // CSV without a layout reads both fields as strings, which print alike.
    const char* modes[4] = {"", " -y", " --csv", " --csv"};
    for (int m = 0; m < 4; ++m) {
      for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(::testing::Message() << threads << modes[m] << m << badRow.has_value());
        const ProgramResult run =
            Shell(dir, std::string("$B/drawoff --threads=") + threads + modes[m] + " -i plain.qvd" +
                           (m < 3 ? " -d 'n int; d double nullable'" : ""));
        EXPECT_EQ(run.status, badRow ? 20 : 0) << run.err;
        const int e = std::min(m, 2);
        EXPECT_TRUE(run.out == expected[e].substr(0, badRow ? written[e] : std::string::npos));
        if (badRow) {
          EXPECT_EQ(FailMessage(run.err), "Field reading failed: 'n' (record no. 60002).");
        }
      }
    }
  }
}

// Tables of 100,000 times and decimals, which take reading and which the rows name once each, read
// as the rows name them (with --low-memory from the tables' mappings too): the records hold the
// seconds and hundredths that went in as text, for every count, and print as that text.
TEST(Threads, DrawoffReadsTimesAndDecimalsAsRowsNameThem) {
  std::string text;
  std::string records;
  char line[64];
  for (int i = 0; i < 100000; ++i) {
    const int t = i * 17;
    snprintf(line, sizeof line, "2021-03-%02d %02d:%02d:%02d,%d.%02d\n", 1 + t / 86400,
             t / 3600 % 24, t / 60 % 60, t % 60, (i * 3 + 7) / 100, (i * 3 + 7) % 100);
    text += line;
    records += '\0' + LittleEndian(int64_t{1614556800} + t) + LittleEndian(int64_t{i * 3 + 7});
  }
  ScratchDir dir;
  WriteFileBytes(dir / "in.txt", text);
  const std::string layout = " -d 't datetime nullable; a decimal(12,2)'";
  ASSERT_EQ(Shell(dir, "$B/packdown -x -i in.txt -o in.qvd" + layout).status, 0);
  for (const char* options :
       {"--threads=1", "--threads=3", "--low-memory --threads=1", "--low-memory --threads=3"}) {
    SCOPED_TRACE(options);
    const std::string run = std::string("$B/drawoff -i in.qvd ") + options + layout;
    ASSERT_EQ(Shell(dir, run + " -o out.bin && " + run + " -y -o out.txt").status, 0);
    EXPECT_TRUE(ReadFileBytes(dir / "out.bin") == records);
    EXPECT_TRUE(ReadFileBytes(dir / "out.txt") == text);
    EXPECT_NE(Shell(dir, "ORV_LOG_LEVEL=debug " + run + " -o /dev/null").err.find("made|t:"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace orv::testing
