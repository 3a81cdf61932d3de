#include "runtime/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace orv {
namespace {

// Values survive growth across the size where arrays move to their own mappings, and new ones
// start at zero, on both sides of it.
TEST(LargeAllocator, ArraysGrowAndShrinkAcrossTheLargeSize) {
  const size_t large = kLargeBytes / sizeof(uint64_t);
  for (const size_t size : {size_t{0}, size_t{1}, large - 1, large, 3 * large + 5}) {
    SCOPED_TRACE(size);
    LargeVector<uint64_t> values(size);
    for (size_t i = 0; i < size; ++i) {
      ASSERT_EQ(values[i], 0u);
      values[i] = i * 7;
    }
    values.resize(size + large);
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], i < size ? i * 7 : 0) << i;
    }
    values.resize(size / 2);
    values.shrink_to_fit();
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], i * 7);
    }
  }
}

// Releasing a large block's tail keeps the bytes before it.
TEST(LargeAllocator, ReleasedTailKeepsTheHead) {
  for (const size_t keep : {size_t{0}, size_t{1000}, size_t{4096}, kLargeBytes - 1}) {
    SCOPED_TRACE(keep);
    LargeVector<char> bytes(kLargeBytes + 12345);
    for (size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>(i * 31 + 7);
    }
    ReleaseLargeTail(bytes.data(), bytes.capacity(), keep);
    for (size_t i = 0; i < keep; ++i) {
      ASSERT_EQ(bytes[i], static_cast<char>(i * 31 + 7)) << i;
    }
  }
}

}  // namespace
}  // namespace orv
