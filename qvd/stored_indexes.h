// Each record's stored index value in the narrowest of 1, 2, 4 or 8 bytes that holds the largest
// one: a field of 100 symbols over 25 million records keeps 25 MB, not 100. The values start as
// zeros in memory whose pages exist once they are written, so a large array costs only what has
// been written of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "runtime/large_allocator.h"

namespace orv {

class StoredIndexes {
 public:
  StoredIndexes() = default;
  // `records` zeros, room for values up to `largest`.
  StoredIndexes(uint64_t records, uint64_t largest)
      : width_(largest <= UINT8_MAX    ? 1
               : largest <= UINT16_MAX ? 2
               : largest <= UINT32_MAX ? 4
                                       : 8),
        size_(records) {
    if (records > SIZE_MAX / width_ || !values_.Allocate(records * width_)) {
      throw std::bad_alloc();
    }
  }

  uint64_t size() const { return size_; }
  // Once every value is written: gives back the pages of the block past them.
  void ReleaseRoom() { values_.ReleaseRoom(size_ * width_); }
  uint64_t operator[](uint64_t r) const {
    uint64_t value = 0;
    Visit([&](const auto* v) { value = v[r]; });
    return value;
  }
  // Calls f with the typed array, once: loops over records go inside f.
  template <typename F>
  void Visit(F f) {
    switch (width_) {
      case 1:
        return f(reinterpret_cast<uint8_t*>(values_.data()));
      case 2:
        return f(reinterpret_cast<uint16_t*>(values_.data()));
      case 4:
        return f(reinterpret_cast<uint32_t*>(values_.data()));
      default:
        return f(reinterpret_cast<uint64_t*>(values_.data()));
    }
  }
  template <typename F>
  void Visit(F f) const {
    const_cast<StoredIndexes*>(this)->Visit([&](const auto* v) { f(v); });
  }
  // Records [begin, begin + n) widened into out.
  void Read(uint64_t begin, size_t n, uint64_t* out) const {
    Visit([&](const auto* v) {
      for (size_t i = 0; i < n; ++i) {
        out[i] = v[begin + i];
      }
    });
  }

 private:
  LargeBuffer values_;
  size_t width_ = 1;
  uint64_t size_ = 0;
};

}  // namespace orv
