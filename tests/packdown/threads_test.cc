// packdown writes the same bytes for every thread count: fields collected in any order, symbols
// and index rows put together in chunks on workers.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/packdown/packdown_support.h"

namespace orv::packdown_test {
namespace {

// Text records of `rows` rows: each field's value drawn from `distinct` values (text made by
// `value`), an empty token (null) one time in `nullEvery` when nonzero.
struct FieldDraw {
  std::string definition;
  uint64_t distinct;
  unsigned nullEvery;
  std::string (*value)(uint64_t);
};

std::string Records(const std::vector<FieldDraw>& fields, uint64_t rows) {
  std::mt19937_64 rng(7);
  std::string text;
  for (uint64_t r = 0; r < rows; ++r) {
    for (size_t i = 0; i < fields.size(); ++i) {
      const FieldDraw& f = fields[i];
      if (f.nullEvery == 0 || rng() % f.nullEvery != 0) {
        text += f.value(rng() % f.distinct);
      }
      text += i + 1 < fields.size() ? "," : "\n";
    }
  }
  return text;
}

std::string Layout(const std::vector<FieldDraw>& fields) {
  std::string layout;
  for (const FieldDraw& f : fields) {
    layout += (layout.empty() ? "" : "; ") + f.definition;
  }
  return layout;
}

std::string Int(uint64_t v) {
  return std::to_string(static_cast<int64_t>(v) - 1000);
}
std::string Double(uint64_t v) {
  return v % 97 == 0 ? "nan" : v % 89 == 0 ? "-0" : std::to_string(static_cast<double>(v) / 7);
}
std::string Text(uint64_t v) {
  return "s" + std::to_string(v * 2654435761u % 100003);
}

TEST(PackdownThreads, SameBytesForEveryThreadCount) {
  const std::vector<FieldDraw> mixed = {
      {"a int nullable", 100, 5, Int},  // few symbols: found by hashing
      {"b int", 30000, 0, Int},         // many: sorted
      {"c double nullable descending", 20000, 3, Double},
      {"d string nullable", 5000, 4, Text},
      {"e string descending", 40000, 0, Text},
      {"f decimal(30,2) nullable", 25000, 7, Int},
      {"g date", 3000, 0, [](uint64_t v) { return std::to_string(2000 + v % 100) + "-03-01"; }},
      {"h int nullable", 1, 1, Int},  // only nulls: the null symbol alone
  };
  std::vector<FieldDraw> many;
  for (int i = 0; i < 40; ++i) {
    many.push_back({"n" + std::to_string(i) + " int nullable", uint64_t{1} << (i % 20), 9, Int});
  }
  const struct {
    const char* name;
    std::vector<FieldDraw> fields;
    uint64_t rows;
  } cases[] = {
      {"mixed, many chunks of rows", mixed, 70000},
      {"mixed, one row", mixed, 1},
      {"mixed, no rows", mixed, 0},
      {"forty fields", many, 20000},
  };
  ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string records = Records(c.fields, c.rows);
    const std::string arguments = "-x -n'<null>' -d " + ShellQuote(Layout(c.fields));
    const testing::ProgramResult one = Packdown(dir, arguments + " --threads=1", records);
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char* threads : {"2", "3"}) {
      const testing::ProgramResult more =
          Packdown(dir, arguments + " --threads=" + threads, records);
      ASSERT_EQ(more.status, 0) << more.err;
      EXPECT_TRUE(more.out == one.out) << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace orv::packdown_test
