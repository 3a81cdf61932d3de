// Memory for large arrays (column stores, sort keys, index values).
//
// An allocation of kLargeBytes or more is mapped on its own and asked to be backed by huge pages,
// so that filling an array of millions of values takes a few hundred page faults instead of a
// hundred thousand; a smaller one comes from operator new. The kernel may still use small pages
// (when huge pages are off or memory is fragmented); the array works the same either way. Arrays
// that are filled at random and may stay sparse (hash tables) are better off with small pages.
#pragma once

#include <cstddef>
#include <vector>

namespace orv {

inline constexpr size_t kLargeBytes = size_t{4} << 20;

// `bytes` of memory aligned for any type; throws std::bad_alloc when there is none.
void* AllocateLarge(size_t bytes);
// Frees memory from AllocateLarge(`bytes`).
void FreeLarge(void* memory, size_t bytes) noexcept;

template <typename T>
class LargeAllocator {
 public:
  using value_type = T;

  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>& /*other*/) {}

  T* allocate(size_t count) { return static_cast<T*>(AllocateLarge(count * sizeof(T))); }
  void deallocate(T* memory, size_t count) noexcept { FreeLarge(memory, count * sizeof(T)); }

  friend bool operator==(const LargeAllocator& /*a*/, const LargeAllocator& /*b*/) { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace orv
