#include "runtime/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

// A LargeArray keeps its values as it grows from small blocks to large ones and, remapped, from
// large to larger, whichever way it grows; a cleared one keeps its room.
TEST(LargeAllocator, LargeArraysKeepTheirValuesAsTheyGrow) {
  const size_t large = kLargeBytes / sizeof(uint64_t);
  LargeArray<uint64_t> values;
  uint64_t next = 0;
  for (const size_t step : {size_t{1}, large - 3, size_t{7}, 2 * large, large / 2, 3 * large}) {
    SCOPED_TRACE(step);
    if (step % 2 == 1) {
      for (size_t i = 0; i < step; ++i) {
        values.push_back(next++ * 7);
      }
    } else {
      std::vector<uint64_t> more(step);
      for (uint64_t& value : more) {
        value = next++ * 7;
      }
      values.append(more.data(), more.size());
    }
    ASSERT_EQ(values.size(), next);
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], i * 7) << i;
    }
  }
  const size_t room = values.capacity();
  values.clear();
  values.resize(room);
  EXPECT_EQ(values.capacity(), room);
}

// Releasing pages of a large block keeps the bytes around them.
TEST(LargeAllocator, ReleasedPagesKeepTheBytesAroundThem) {
  const size_t size = kLargeBytes + 12345;
  const struct {
    size_t begin;
    size_t end;
  } cases[] = {{0, size}, {1000, size}, {4096, 3 * 4096 + 5}, {kLargeBytes - 1, size}, {7, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.begin) + ".." + std::to_string(c.end));
    LargeVector<char> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>(i * 31 + 7);
    }
    ReleaseLargePages(bytes.data(), bytes.capacity(), c.begin, c.end);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i < c.begin || i >= c.end) {
        ASSERT_EQ(bytes[i], static_cast<char>(i * 31 + 7)) << i;
      }
    }
  }
}

}  // namespace
}  // namespace orv
