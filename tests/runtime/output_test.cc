// The buffered writer's copies of short pieces: every length gives exactly its bytes, also when
// the piece ends a page that nothing follows. An in-memory writer keeps every byte, however it
// came.
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

// Each round writes pieces of every kind across the growing buffer's ends (bytes one at a time up
// to a full buffer, a piece larger than the room left, flushes between), then starts over.
TEST(BufferedFileOutput, InMemoryKeepsEveryByteUntilDiscarded) {
  const std::string source(200000, 'q');
  BufferedFileOutput output{BufferedFileOutput::InMemory{}};
  for (int round = 0; round < 3; ++round) {
    std::string expected;
    for (size_t i = 0; i < BufferedFileOutput::kBufferSize + 3; ++i) {
      const char c = static_cast<char>('a' + (i + round) % 26);
      output.WriteByte(c);
      expected += c;
    }
    output.flush();
    output.WriteShort(source.data(), 40);
    output.WriteSmall(source.data(), 9);
    output.Write(source.data(), source.size());
    output.Write("end", 3);
    expected += source.substr(0, 40) + source.substr(0, 9) + source + "end";
    output.flush();
    ASSERT_TRUE(output.buffered() == expected) << round;
    ASSERT_EQ(output.BytesWritten(), expected.size()) << round;
    output.Discard();
  }
}

// Room reserved in the buffer takes what is written there once committed; what can't fit the
// buffer, or goes unbuffered, gets no room (and an in-memory writer grows to give it).
TEST(BufferedFileOutput, ReservedRoomKeepsTheBytesCommitted) {
  std::string sink;
  {
    BufferedFileOutput output(&sink);
    output.Write("head", 4);
    char* room = output.Reserve(3);
    ASSERT_NE(room, nullptr);
    memcpy(room, "abcXYZ", 6);  // bytes past the committed ones are dropped
    output.Commit(3);
    room = output.Reserve(BufferedFileOutput::kBufferSize);
    ASSERT_NE(room, nullptr);  // after writing out what it held
    EXPECT_EQ(sink, "headabc");
    EXPECT_EQ(output.Reserve(BufferedFileOutput::kBufferSize + 1), nullptr);
    output.Write("tail", 4);
  }
  EXPECT_EQ(sink, "headabctail");
  BufferedFileOutput unbuffered(stdout, true);
  EXPECT_EQ(unbuffered.Reserve(1), nullptr);
  BufferedFileOutput memory{BufferedFileOutput::InMemory{}};
  memory.Write("kept", 4);
  char* room = memory.Reserve(200000);
  ASSERT_NE(room, nullptr);
  memset(room, 'z', 200000);
  memory.Commit(200000);
  EXPECT_TRUE(memory.buffered() == "kept" + std::string(200000, 'z'));
}

}  // namespace
}  // namespace orv
