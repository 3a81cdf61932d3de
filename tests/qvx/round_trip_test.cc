// Random records of every type that QVX carries, written as a binary record stream, converted by
// feedout and decoded again: every value must come back. The seeds are fixed, so a failure replays.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "tests/qvx/feedout_support.h"
#include "tests/qvx/qvx_reader.h"

namespace orv {
namespace {

using qvx_test::LittleEndian;
using qvx_test::QvxCell;

enum Kind { kInt, kDouble, kDecimal, kDate, kDateTime, kString, kFixedString, kKinds };

struct Column {
  Kind kind;
  bool nullable;
  int precision;  // decimal(precision,2)
  int size;       // string(size)
  std::string Declaration() const {
    static const char* const kTypes[] = {"int", "double", "decimal", "date", "datetime", "string"};
    std::string type = kTypes[kind == kFixedString ? kString : kind];
    if (kind == kDecimal) {
      type += "(" + std::to_string(precision) + ",2)";
    }
    if (kind == kFixedString) {
      type += "(" + std::to_string(size) + ")";
    }
    return type + (nullable ? " nullable" : "");
  }
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  int64_t Between(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random_);
  }

  // Appends one value of `column` to `stream`; returns what the QVX file must hold for it.
  QvxCell Value(const Column& column, std::string& stream) {
    if (column.nullable) {
      stream.push_back(Between(0, 3) == 0 ? 1 : 0);
      if (stream.back() == 1) {
        return std::nullopt;
      }
    }
    if (column.kind == kInt) {
      auto v = static_cast<int32_t>(random_());
      stream += LittleEndian(v);
      return int64_t{v};
    }
    if (column.kind == kDouble) {
      auto v = std::bit_cast<double>(static_cast<uint64_t>(random_()) << 32 | random_());
      v = v == v ? v : 0.25;  // a NaN would never compare equal
      stream += LittleEndian(v);
      return v;
    }
    if (column.kind == kDecimal) {
      const auto limit = static_cast<int64_t>(std::pow(10.0, column.precision));
      int64_t v = Between(-(limit - 1), limit - 1);
      stream += LittleEndian(v);
      return v;
    }
    if (column.kind == kDate || column.kind == kDateTime) {
      tm t{};
      t.tm_year = static_cast<int>(Between(1000, 9999)) - 1900;
      t.tm_mon = static_cast<int>(Between(0, 11));
      const int year = t.tm_year + 1900;
      const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      t.tm_mday = static_cast<int>(Between(1, days[t.tm_mon]));
      char text[64];
      if (column.kind == kDate) {
        stream += LittleEndian(static_cast<uint32_t>(t.tm_mday | (t.tm_mon + 1) << 8 | year << 16));
        snprintf(text, sizeof text, "%04d-%02d-%02d", year, t.tm_mon + 1, t.tm_mday);
        return std::string(text);
      }
      t.tm_hour = static_cast<int>(Between(0, 23));
      t.tm_min = static_cast<int>(Between(0, 59));
      t.tm_sec = static_cast<int>(Between(0, 59));
      snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, t.tm_mon + 1, t.tm_mday,
               t.tm_hour, t.tm_min, t.tm_sec);
      stream += LittleEndian(static_cast<int64_t>(timegm(&t)));
      return std::string(text);
    }
    const int64_t length = column.kind == kFixedString ? column.size
                           : Between(0, 7) == 0        ? Between(256, 700)
                                                       : Between(0, 20);
    std::string v;
    for (int64_t i = 0; i < length; ++i) {
      v.push_back(static_cast<char>(random_()));
    }
    if (column.kind == kString) {
      stream += LittleEndian(static_cast<uint32_t>(length));
    }
    stream += v;
    return v;
  }

 private:
  std::mt19937 random_;
};

TEST(FeedoutRoundTrip, BinaryRecordsComeBackFromTheQvxFile) {
  qvx_test::ScratchDir dir;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    Generator generator(seed);
    std::vector<Column> columns;
    std::string layout;
    for (int kind = 0; kind < kKinds; ++kind) {
      for (bool nullable : {false, true}) {
        columns.push_back(
            {Kind(kind), nullable, int(generator.Between(3, 18)), int(generator.Between(1, 12))});
        layout += "f" + std::to_string(columns.size()) + " " + columns.back().Declaration() + ";";
      }
    }
    std::string stream;
    std::vector<qvx_test::QvxRow> expected(400);
    for (auto& row : expected) {
      for (const Column& column : columns) {
        row.push_back(generator.Value(column, stream));
      }
    }
    const std::string arguments = "-d " + testing::ShellQuote(layout);
    auto result = qvx_test::Feedout(dir, arguments, stream);
    ASSERT_EQ(result.status, 0) << "seed " << seed << ": " << result.err;
    if (seed == 1) {  // holding nothing back must not change a byte
      EXPECT_EQ(qvx_test::Feedout(dir, "--unbuffered " + arguments, stream).out, result.out);
    }
    auto file = qvx_test::ReadQvx(result.out);
    ASSERT_EQ(file.error, "") << "seed " << seed;
    ASSERT_EQ(file.fields.size(), columns.size());
    EXPECT_EQ(file.fields[2 * kDecimal].fixPointDecimals, 2);
    ASSERT_EQ(file.rows.size(), expected.size()) << "seed " << seed;
    for (size_t r = 0; r < expected.size(); ++r) {
      ASSERT_EQ(file.rows[r], expected[r]) << "seed " << seed << ", record " << r + 1;
    }
  }
}

}  // namespace
}  // namespace orv
