// Random records of every type written by packdown and read back by drawoff with the same layout
// must come back byte for byte. The seed is fixed, so a failure replays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

#include "tests/packdown/packdown_support.h"

namespace orv::packdown_test {
namespace {

using Random = std::mt19937_64;
constexpr uint64_t kSeed = 20261207;

int64_t Uniform(Random& rng, int64_t low, int64_t high) {
  return std::uniform_int_distribution<int64_t>(low, high)(rng);
}

std::string RandomText(Random& rng, int64_t length) {
  std::string text;
  while (static_cast<int64_t>(text.size()) < length) {
    auto byte = static_cast<char>(Uniform(rng, 1, 255));
    text += byte == '<' ? "" : std::string(1, byte);  // '<' only in null texts
  }
  return text;
}

__int128 Pow10(int n) {
  return n == 0 ? 1 : 10 * Pow10(n - 1);
}

// Kinds of field: int, double, decimal of precision up to 15 (integer or double symbols), 16 to
// 18 (8 stream bytes, text symbols), 19 to 38 (16 stream bytes), date, datetime, string, string(N).
constexpr int kKinds = 9;

// A field and a pool of its values in stream form (no null flag); records draw from the pool.
struct Column {
  std::string definition;
  bool nullable = false;
  std::vector<std::string> pool;
};

Column MakeColumn(int kind, size_t index, Random& rng, size_t poolSize, int64_t minLength) {
  const auto precision = static_cast<int>(kind == 2   ? Uniform(rng, 1, 15)
                                          : kind == 3 ? Uniform(rng, 16, 18)
                                                      : Uniform(rng, 19, 38));
  const auto scale = static_cast<int>(Uniform(rng, 0, std::min(precision, 8)));
  const int64_t size = Uniform(rng, 1, 8);
  const char* dateTimes[] = {"datetime", "datetime time", "datetime interval"};
  const std::string decimal =
      "decimal(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
  const std::string types[] = {"int",
                               "double",
                               decimal,
                               decimal,
                               decimal,
                               "date",
                               dateTimes[rng() % 3],
                               "string",
                               "string(" + std::to_string(size) + ")"};
  // A double symbol holds v / 10^scale; reading takes its shortest text, which is v again.
  const __int128 step = 1;
  const auto most = static_cast<int64_t>((Pow10(precision) - 1) / step);
  Column column;
  column.nullable = rng() % 2 == 0;
  column.definition =
      "f" + std::to_string(index) + " " + types[kind] + (column.nullable ? " nullable" : "");
  while (column.pool.size() < poolSize) {
    __int128 digits = 0;  // up to `precision` random digits
    for (int64_t n = Uniform(rng, 1, precision); n > 0; --n) {
      digits = digits * 10 + Uniform(rng, 0, 9);
    }
    digits = rng() % 2 ? -digits : digits;
    std::string value;
    if (kind == 0) {
      const int32_t edges[] = {INT32_MIN, INT32_MAX, 0, -1};
      value = LittleEndian(rng() % 8 ? static_cast<int32_t>(rng()) : edges[rng() % 4]);
    } else if (kind == 1) {
      const double edgeValues[] = {
          -0.0, 0.0, INFINITY, -INFINITY, NAN, std::numeric_limits<double>::denorm_min(), DBL_MAX};
      uint64_t bits = rng() | 1;
      value = rng() % 6 ? LittleEndian(bits) : LittleEndian(edgeValues[rng() % 7]);
    } else if (kind == 2) {
      value = LittleEndian(static_cast<int64_t>(Uniform(rng, -most, most) * step));
    } else if (kind == 3) {
      value = LittleEndian(static_cast<int64_t>(digits));
    } else if (kind == 4) {
      value = LittleEndian(digits);
    } else if (kind == 5) {
      const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      auto year = static_cast<uint32_t>(Uniform(rng, 1, 9999));
      auto month = static_cast<uint32_t>(Uniform(rng, 1, 12));
      bool leap = month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      auto day = static_cast<uint32_t>(Uniform(rng, 1, days[month - 1] + leap));
      value = LittleEndian(day | month << 8 | year << 16);
    } else if (kind == 6) {  // seconds from year 1 to year 9999
      value = LittleEndian(Uniform(rng, -62135596800, 253402300799));
    } else if (kind == 7) {
      std::string text = RandomText(rng, Uniform(rng, minLength, 12));
      value = LittleEndian(static_cast<uint32_t>(text.size())) + text;
    } else {
      value = RandomText(rng, size);
    }
    column.pool.push_back(value);
  }
  return column;
}

// Writes the records, runs packdown then drawoff (same layout and null text) and compares.
void ExpectRoundTrip(const std::vector<Column>& columns, uint64_t count, Random& rng,
                     const std::optional<std::string>& nullText) {
  std::string layout, records;
  for (const Column& column : columns) {
    layout += column.definition + ";";
  }
  for (uint64_t r = 0; r < count; ++r) {
    for (const Column& column : columns) {
      const bool isNull = column.nullable && rng() % 5 == 0;
      records += column.nullable ? std::string(1, isNull) : "";
      records += isNull ? "" : column.pool[rng() % column.pool.size()];
    }
  }
  SCOPED_TRACE(std::to_string(count) + " records, " + layout);
  ScratchDir dir;
  WriteFileBytes(dir / "in.bin", records);
  const std::string options =
      (nullText ? ShellQuote("-n" + *nullText) : "") + " -d " + ShellQuote(layout) + " -i ";
  auto packed = RunProgram(
      "packdown", options + ShellQuote(dir / "in.bin") + " -o " + ShellQuote(dir / "a.qvd"));
  ASSERT_EQ(packed.status, 0) << testing::FailMessage(packed.err);
  auto drawn = RunProgram(
      "drawoff", options + ShellQuote(dir / "a.qvd") + " -o " + ShellQuote(dir / "back.bin"));
  ASSERT_EQ(drawn.status, 0) << testing::FailMessage(drawn.err);
  const std::string back = ReadFileBytes(dir / "back.bin");
  ASSERT_EQ(back.size(), records.size());
  EXPECT_EQ(std::mismatch(back.begin(), back.end(), records.begin()).first - back.begin(),
            static_cast<long>(back.size()))
      << "at this byte the records differ";
}

TEST(PackdownRoundTrip, RandomLayoutsOfEveryTypeComeBackByteForByte) {
  Random rng(kSeed);
  const size_t poolSizes[] = {1, 2, 3, 40, 700, 20000};
  const std::optional<std::string> nullTexts[] = {std::nullopt, "<null>", ""};
  for (uint64_t count : {0, 1, 255, 256, 65535, 65536}) {
    for (const auto& nullText : nullTexts) {
      std::vector<int> kinds(kKinds);  // every kind once, a few more at random
      std::iota(kinds.begin(), kinds.end(), 0);
      for (int64_t extra = Uniform(rng, 0, 3); extra > 0; --extra) {
        kinds.push_back(static_cast<int>(Uniform(rng, 0, kKinds - 1)));
      }
      std::shuffle(kinds.begin(), kinds.end(), rng);
      std::vector<Column> columns;
      for (int kind : kinds) {  // an empty null text would take empty strings for nulls
        columns.push_back(MakeColumn(kind, columns.size(), rng, poolSizes[rng() % 6],
                                     nullText && nullText->empty() ? 1 : 0));
      }
      SCOPED_TRACE("null text " + nullText.value_or("(none)"));
      ExpectRoundTrip(columns, count, rng, nullText);
    }
  }
}

TEST(PackdownRoundTrip, TwoMillionRecordsComeBack) {
  Random rng(kSeed + 1);
  std::vector<Column> columns = {MakeColumn(0, 0, rng, 300000, 0),
                                 MakeColumn(1, 1, rng, 1000000, 0), MakeColumn(7, 2, rng, 5000, 0)};
  ExpectRoundTrip(columns, 2000000, rng, "<null>");
}

// Text as drawoff prints it is read by packdown and printed again unchanged.
TEST(PackdownRoundTrip, TextRecordsComeBackAsTheSameText) {
  Random rng(kSeed + 2);
  const std::string layout =
      R"(i int nullable; c decimal(20,2) nullable; d date; s string quote="\""; x double)";
  std::string text;
  for (int r = 0; r < 2000; ++r) {
    auto n = [&](int low, int high) { return static_cast<int>(Uniform(rng, low, high)); };
    const int cents = n(-99999999, 99999999);
    char line[96];
    snprintf(line, sizeof line, "%s%d.%02d,%04d-%02d-%02d,\"", cents < 0 ? "-" : "",
             std::abs(cents) / 100, std::abs(cents) % 100, n(0, 9999), n(1, 12), n(1, 28));
    std::string s;
    for (int k = n(0, 6); k > 0; --k) {
      s += std::string("aZ,\" 7").substr(n(0, 5), 1);
      s += s.back() == '"' ? "\"" : "";
    }
    char x[32];
    const double zero = rng() % 2 ? -0.0 : 0.0;  // each zero comes back with its sign
    snprintf(x, sizeof x, "%.17g", rng() % 8 ? n(-4000000, 4000000) / 4.0 : zero);
    text += (rng() % 4 ? std::to_string(static_cast<int32_t>(rng())) : "") + "," +
            (rng() % 4 ? line : strchr(line, ',')) + s + "\"," + x + "\n";
  }
  ScratchDir dir;
  WriteFileBytes(dir / "in.txt", text);
  auto packed =
      RunProgram("packdown", "-x -d " + ShellQuote(layout) + " -o " + ShellQuote(dir / "a.qvd"),
                 dir / "in.txt");
  ASSERT_EQ(packed.status, 0) << packed.err;
  auto drawn =
      RunProgram("drawoff", "-y -d " + ShellQuote(layout) + " -i " + ShellQuote(dir / "a.qvd"));
  EXPECT_EQ(drawn.out, text);
}

}  // namespace
}  // namespace orv::packdown_test
