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

// Values appended at once take the form and bytes that appending them one by one gives, after
// whatever came before: nothing, an unused entry, a narrower entry, a wider one.
TEST(SymbolOutputs, ValuesAppendedAtOnceAsOneByOne) {
  const std::string values = "abcdefghijklmnopqrstuvwx";  // 6 values of 4, or 3 of 8
  for (const size_t width : {size_t{4}, size_t{8}}) {
    for (const bool flagged : {false, true}) {
      for (const std::string before : {"", "unused", "\x01", "twelve bytes"}) {
        SCOPED_TRACE(std::to_string(width) + (flagged ? " flagged after '" : " after '") + before);
        const uint64_t n = values.size() / width;
        const uint64_t first = before.empty() ? 0 : 1;
        SymbolOutputs atOnce(first + n);
        SymbolOutputs oneByOne(first + n);
        for (SymbolOutputs* outputs : {&atOnce, &oneByOne}) {
          before == "unused"
              ? outputs->AppendUnused()
              : void(before.empty() || outputs->Append(before, SymbolOutputs::kClean));
        }
        ASSERT_TRUE(atOnce.AppendValues(values.data(), n, width, flagged));
        for (uint64_t i = 0; i < n; ++i) {
          const std::string entry =
              (flagged ? std::string(1, '\0') : "") + values.substr(i * width, width);
          ASSERT_TRUE(oneByOne.Append(entry, SymbolOutputs::kClean));
        }
        EXPECT_EQ(atOnce.fixed(), oneByOne.fixed());
        EXPECT_EQ(atOnce.stride(), oneByOne.stride());
        for (uint64_t e = first; e < first + n; ++e) {
          EXPECT_EQ(atOnce.bytes(e), oneByOne.bytes(e)) << e;
        }
        EXPECT_FALSE(atOnce.AppendValues(values.data(), 1, width, flagged));  // no room left
      }
    }
  }
}

}  // namespace
}  // namespace orv
