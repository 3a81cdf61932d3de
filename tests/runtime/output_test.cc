// The buffered writer's copies of short pieces: every length gives exactly its bytes, also when
// the piece ends a page that nothing follows.
#include "runtime/output.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace orv {
namespace {

TEST(BufferedFileOutput, ShortAndSmallWritesGiveExactlyTheirBytes) {
  std::string source;
  for (int i = 0; i < 128; ++i) {
    source += static_cast<char>('A' + i % 57);
  }
  std::string sink;
  std::string expected;
  {
    BufferedFileOutput output(&sink);
    for (size_t n = 0; n <= 64; ++n) {
      output.WriteShort(source.data() + n, n);
      expected.append(source, n, n);
    }
    for (size_t n = 0; n <= BufferedFileOutput::kSlack; ++n) {
      output.WriteSmall(source.data(), n);
      expected.append(source, 0, n);
    }
    // More than a buffer of short pieces.
    for (int i = 0; i < 20000; ++i) {
      output.WriteShort(source.data() + i % 50, 7);
      expected.append(source, i % 50, 7);
    }
  }
  EXPECT_TRUE(sink == expected);
}

TEST(BufferedFileOutput, WriteShortReadsNothingPastThePiece) {
  // The piece ends at a page followed by an inaccessible page.
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* p = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  char* base = static_cast<char*>(p);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  for (size_t i = 0; i < page; ++i) {
    base[i] = static_cast<char>('a' + i % 26);
  }
  std::string sink;
  std::string expected;
  {
    BufferedFileOutput output(&sink);
    for (size_t n = 1; n <= 64; ++n) {
      output.WriteShort(base + page - n, n);
      expected.append(base + page - n, n);
    }
  }
  EXPECT_TRUE(sink == expected);
  munmap(p, 2 * page);
}

}  // namespace
}  // namespace orv
