// Memory for large arrays: column stores, sort keys and index values (LargeVector), symbol tables
// and their converted entries (LargeBuffer).
//
// A large block is mapped on its own, starts on a huge page boundary and is asked to be backed by
// huge pages, so that filling an array of millions of values takes a few hundred page faults
// instead of a hundred thousand, and visiting its entries in any order costs fewer page walks.
// The kernel may still use small pages (when huge pages are off or memory is fragmented); the
// memory works the same either way. Arrays that are filled at random and may stay sparse (hash
// tables) are better off with small pages.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace orv {

inline constexpr size_t kHugePage = size_t{2} << 20;
inline constexpr size_t kLargeBytes = size_t{4} << 20;

// `bytes` of memory aligned for any type; throws std::bad_alloc when there is none.
void* AllocateLarge(size_t bytes);
// Frees memory from AllocateLarge(`bytes`).
void FreeLarge(void* memory, size_t bytes) noexcept;
// Gives back the whole pages within bytes [begin, end) of memory from AllocateLarge(`bytes`); they
// read as zeros if touched again, the other bytes stay as they are. Small blocks are left alone.
void ReleaseLargePages(void* memory, size_t bytes, size_t begin, size_t end) noexcept;

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

// As LargeAllocator, but values that resize() adds are left uninitialized: for arrays whose values
// are always written before they are read. Pages of a large array that resize() only reserved
// then cost no memory until they are written.
template <typename T>
class UninitializedLargeAllocator : public LargeAllocator<T> {
 public:
  template <typename U>
  struct rebind {
    using other = UninitializedLargeAllocator<U>;
  };

  UninitializedLargeAllocator() = default;
  template <typename U>
  UninitializedLargeAllocator(const UninitializedLargeAllocator<U>& /*other*/) {}

  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <typename T>
using UninitializedLargeVector = std::vector<T, UninitializedLargeAllocator<T>>;

// A zeroed block of memory; one of a huge page or more is mapped on its own, and its pages exist
// only once they are touched.
class LargeBuffer {
 public:
  LargeBuffer() = default;
  // False (and no buffer) when the memory can't be had.
  bool Allocate(size_t size);
  // As Allocate, but only in a mapping of its own, whose untouched pages cost nothing: for room
  // that a file claims and its bytes may never fill.
  bool Reserve(size_t size);
  ~LargeBuffer() { Release(); }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;
  LargeBuffer(LargeBuffer&& other) noexcept { *this = std::move(other); }
  LargeBuffer& operator=(LargeBuffer&& other) noexcept;

  char* data() const { return data_; }
  size_t size() const { return size_; }
  void Release();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace orv
