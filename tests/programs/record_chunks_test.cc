#include "programs/common/record_chunks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orv {
namespace {

// The cut as the definition reads: the last cut byte at or after `from` with an even number of
// quotes before it; the quotes' parity of the whole text.
size_t SlowCut(const std::string& text, size_t from, char quote, bool& odd) {
  size_t cut = 0;
  bool before = false;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n' && !before && at >= from) {
      cut = at + 1;
    }
    before = text[at] == quote ? !before : before;
  }
  odd = before;
  return cut;
}

// Texts of every length around the 64-byte blocks the quotes are counted in, with quotes and line
// ends anywhere, scanned whole or from where an earlier scan of a shorter text ended.
TEST(FindTextCut, CutsAfterTheLastLineEndOutsideQuotes) {
  std::mt19937 random(7);
  const std::string alphabet = "ab,\"\n";
  ChunkCut cut;
  cut.quote = '"';
  for (size_t size : {0, 1, 63, 64, 65, 127, 128, 129, 200, 1000, 4099}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::string text(size, 'x');
      for (char& c : text) {
        c = alphabet[random() % (trial % 2 == 0 ? alphabet.size() : alphabet.size() - 1)];
      }
      const size_t from = size == 0 ? 0 : random() % (size + 1);
      SCOPED_TRACE(::testing::Message() << size << " bytes from " << from << ": " << text);
      bool expectedOdd = false;
      const size_t expected = SlowCut(text, from, '"', expectedOdd);
      bool odd = false;
      SlowCut(text.substr(0, from), 0, '"', odd);  // the parity an earlier scan left
      EXPECT_EQ(FindTextCut(text.data(), text.size(), from, cut, odd), expected);
      EXPECT_EQ(odd, expectedOdd);
    }
  }
}

}  // namespace
}  // namespace orv
