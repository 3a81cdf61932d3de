#include "runtime/large_allocator.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// Whether any page of [begin, end) is in memory.
bool AnyResident(const char* begin, const char* end) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t from = reinterpret_cast<uintptr_t>(begin) & ~(page - 1);
  const size_t length = reinterpret_cast<uintptr_t>(end) - from;
  std::vector<unsigned char> pages((length + page - 1) / page);
  EXPECT_EQ(mincore(reinterpret_cast<void*>(from), length, pages.data()), 0);
  return std::any_of(pages.begin(), pages.end(), [](unsigned char p) { return (p & 1) != 0; });
}

// A short array's room goes back from the page after its values, which stay; the room reads as
// zeros and takes values again. A long array keeps its last huge page whole, room and all.
TEST(LargeAllocator, AShortArraysRoomGoesBackAndItsValuesStay) {
  const size_t mib = size_t{1} << 20;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const struct {
    size_t used;  // bytes written and kept, of a block of twice as many
    bool released;
  } cases[] = {{mib + 200000, true}, {2 * mib + 120000, true}, {8 * mib - 4096, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.used);
    LargeArray<char> bytes;
    bytes.resize(2 * c.used);
    memset(bytes.data(), 0x5A, bytes.size());
    bytes.ReleaseRoom(c.used);
    const size_t room = (c.used + page - 1) / page * page;
    EXPECT_EQ(static_cast<size_t>(std::count(bytes.data(), bytes.data() + c.used, 0x5A)), c.used);
    if (c.released) {
      EXPECT_FALSE(AnyResident(bytes.data() + room, bytes.data() + bytes.size()));
    }
    EXPECT_EQ(bytes[room], c.released ? 0 : 0x5A);
    EXPECT_EQ(bytes[bytes.size() - 1], 0);  // past the huge pages that hold the values
    bytes[bytes.size() - 1] = 7;
    EXPECT_EQ(bytes[bytes.size() - 1], 7);
  }
}

}  // namespace
}  // namespace orv
