// Symbol output tables: the form and width chosen from the entries, and their bytes kept exactly.
#include "qvd/symbol_outputs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

struct Case {
  const char* what;
  bool leadingUnused;  // entry 0 appended as unused
  std::vector<std::string> entries;
  bool fixed;
  size_t stride;
};

TEST(SymbolOutputs, ChoosesFormAndWidthAndKeepsEveryEntry) {
  const Case cases[] = {
      {"one width", false, {"abcd", "efgh", "ijkl"}, true, 4},
      {"unused null, then one width", true, {"12345678", "87654321"}, true, 8},
      {"a shorter entry adds a length byte", false, {"abcd", "ab", "abcd"}, false, 5},
      {"a longer entry widens", false, {"ab", "abcdef"}, false, 7},
      {"growth by half again at least", false, {"a", "bb", "ccc", "dddd", "eeeee"}, false, 6},
      {"empty entries", false, {"", "", ""}, true, 0},
      {"empty then not", false, {"", "xyz"}, false, 4},
      {"the longest kept", false, {"a", std::string(62, 'z')}, false, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t first = c.leadingUnused ? 1 : 0;
    SymbolOutputs outputs(c.entries.size() + first);
    if (c.leadingUnused) {
      outputs.AppendUnused();
    }
    for (const std::string& entry : c.entries) {
      ASSERT_TRUE(outputs.Append(entry, SymbolOutputs::kClean));
    }
    EXPECT_EQ(outputs.fixed(), c.fixed);
    EXPECT_EQ(outputs.stride(), c.stride);
    EXPECT_TRUE(outputs.clean());
    for (size_t e = 0; e < c.entries.size(); ++e) {
      EXPECT_EQ(outputs.bytes(e + first), c.entries[e]) << e;
    }
  }
}

TEST(SymbolOutputs, RefusesWhatItCannotHold) {
  SymbolOutputs tooLong(2);
  EXPECT_TRUE(tooLong.Append("a", SymbolOutputs::kClean));
  EXPECT_FALSE(tooLong.Append(std::string(63, 'z'), SymbolOutputs::kClean));
  SymbolOutputs outgrown(100, 400);
  EXPECT_TRUE(outgrown.Append("abcd", SymbolOutputs::kClean));
  EXPECT_FALSE(outgrown.Append("abcde", SymbolOutputs::kClean));
  SymbolOutputs full(1);
  EXPECT_TRUE(full.Append("a", SymbolOutputs::kClean));
  EXPECT_FALSE(full.Append("b", SymbolOutputs::kClean));
}

TEST(SymbolOutputs, KeepsMarksOnlyOnceOneIsSet) {
  SymbolOutputs outputs(4);
  ASSERT_TRUE(outputs.Append("1", SymbolOutputs::kClean));
  EXPECT_TRUE(outputs.clean());
  ASSERT_TRUE(outputs.Append("", SymbolOutputs::kUnreadable));
  ASSERT_TRUE(outputs.Append("3", SymbolOutputs::kBreaksText));
  ASSERT_TRUE(outputs.Append("4", SymbolOutputs::kClean));
  EXPECT_FALSE(outputs.clean());
  EXPECT_EQ(outputs.mark(0), SymbolOutputs::kClean);
  EXPECT_EQ(outputs.mark(1), SymbolOutputs::kUnreadable);
  EXPECT_EQ(outputs.mark(2), SymbolOutputs::kBreaksText);
  EXPECT_EQ(outputs.mark(3), SymbolOutputs::kClean);
  EXPECT_EQ(outputs.bytes(2), "3");
}

TEST(SymbolOutputs, LargeTablesKeepTheirBytesAcrossWidening) {
  // Over 2 MiB: its own mapping; widening moves every entry so far.
  const size_t n = 600000;
  SymbolOutputs outputs(n);
  for (size_t e = 0; e < n; ++e) {
    std::string entry = std::to_string(e);
    ASSERT_TRUE(outputs.Append(entry, SymbolOutputs::kClean));
  }
  EXPECT_FALSE(outputs.fixed());
  for (size_t e : {size_t{0}, size_t{9}, size_t{10}, size_t{99999}, n - 1}) {
    EXPECT_EQ(outputs.bytes(e), std::to_string(e));
  }
}

}  // namespace
}  // namespace orv
