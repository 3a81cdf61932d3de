// Memory for large arrays: column stores (LargeArray), sort keys (LargeVector), index values,
// symbol tables and their converted entries (LargeBuffer).
//
// A large block is mapped on its own, starts on a huge page boundary and is asked to be backed by
// huge pages, so that filling an array of millions of values takes a few hundred page faults
// instead of a hundred thousand, and visiting its entries in any order costs fewer page walks.
// The kernel may still use small pages (when huge pages are off or memory is fragmented); the
// memory works the same either way. A huge page is memory as a whole once any byte of it is
// written: an array that is done growing gives back the room past its values (ReleaseRoom).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace orv {

inline constexpr size_t kHugePage = size_t{2} << 20;
// Blocks from this size up are mapped on their own: a block of 1 to 2 MiB then takes a huge page,
// twice its bytes at most, where small pages would cost one fault per 4 KiB. A small page's fault
// costs about 40 times what a huge page's does per byte where page tables are shadowed (virtual
// machines), and growing arrays past a few hundred KiB is common: column stores, sort scratch.
inline constexpr size_t kLargeBytes = size_t{1} << 20;

// `bytes` of memory aligned for any type; throws std::bad_alloc when there is none.
void* AllocateLarge(size_t bytes);
// Frees memory from AllocateLarge(`bytes`).
void FreeLarge(void* memory, size_t bytes) noexcept;
// Gives back the whole pages within bytes [begin, end) of memory from AllocateLarge(`bytes`); they
// read as zeros if touched again, the other bytes stay as they are. Small blocks are left alone.
void ReleaseLargePages(void* memory, size_t bytes, size_t begin, size_t end) noexcept;
// For memory from AllocateLarge(`bytes`) whose first `used` bytes are all it will hold: gives back
// the huge pages after the ones that hold them, and the rest of the last of those where it is
// mostly room (a short array's). A long array's last huge page stays whole: splitting it costs more
// than it saves.
void ReleaseLargeRoom(void* memory, size_t bytes, size_t used) noexcept;

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

// As LargeArray::ReleaseRoom, for the room past a vector's values.
template <typename T>
void ReleaseRoom(LargeVector<T>& values) {
  if (values.data() != nullptr) {
    ReleaseLargeRoom(values.data(), values.capacity() * sizeof(T), values.size() * sizeof(T));
  }
}

// Memory from AllocateLarge(`oldBytes`) made `newBytes` long, its first bytes as they were; a large
// block is remapped rather than copied, and a smaller one grows through realloc, which moves a
// block of 128 KiB or more the same way. Throws std::bad_alloc when there is no memory for it.
void* ReallocateLarge(void* memory, size_t oldBytes, size_t newBytes);

// An array of a trivially copyable type in memory from AllocateLarge. A large one grows by
// remapping its block, so growing neither copies the values nor holds two blocks at once; room
// that resize() adds is left uninitialized, and costs no memory until it is written.
template <typename T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  LargeArray() = default;
  ~LargeArray() { Free(); }
  LargeArray(const LargeArray&) = delete;
  LargeArray& operator=(const LargeArray&) = delete;

  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t capacity() const { return capacity_; }

  // Room for `count` values at least, twice the room there was when it must grow.
  void reserve(size_t count) {
    if (count <= capacity_) {
      return;
    }
    const size_t grown = std::max(count, 2 * capacity_);
    if (grown > SIZE_MAX / sizeof(T)) {
      throw std::bad_alloc();
    }
    data_ = static_cast<T*>(data_ == nullptr
                                ? AllocateLarge(grown * sizeof(T))
                                : ReallocateLarge(data_, capacity_ * sizeof(T), grown * sizeof(T)));
    capacity_ = grown;
  }
  void resize(size_t count) {
    reserve(count);
    size_ = count;
  }
  void push_back(T value) {
    reserve(size_ + 1);
    data_[size_++] = value;
  }
  void append(const T* values, size_t count) {
    reserve(size_ + count);
    if (count != 0) {
      memcpy(data_ + size_, values, count * sizeof(T));
    }
    size_ += count;
  }
  // Drops every value, keeping the memory.
  void clear() { size_ = 0; }
  // Gives back the whole pages past the first `used` values, where the array is done growing: a
  // huge page that the last value ends in is otherwise all memory. The room reads as zeros after.
  void ReleaseRoom(size_t used) {
    if (data_ != nullptr) {
      ReleaseLargeRoom(data_, capacity_ * sizeof(T), used * sizeof(T));
    }
  }
  // Drops every value and gives the memory back.
  void Free() {
    if (data_ != nullptr) {
      FreeLarge(data_, capacity_ * sizeof(T));
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// A zeroed block of memory; one of kLargeBytes or more is mapped on its own, and its pages exist
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
  // Gives back the whole pages past the first `used` bytes of a buffer mapped on its own; they
  // read as zeros after.
  void ReleaseRoom(size_t used) {
    if (mapped_) {
      ReleaseLargeRoom(data_, size_, used);
    }
  }
  void Release();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace orv
