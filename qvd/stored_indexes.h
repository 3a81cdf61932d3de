// Each record's stored index value in the narrowest of 1, 2, 4 or 8 bytes that holds the largest
// one: a field of 100 symbols over 25 million records keeps 25 MB, not 100.
#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "runtime/large_allocator.h"

namespace orv {

class StoredIndexes {
 public:
  StoredIndexes() = default;
  // `records` zeros, room for values up to `largest`.
  StoredIndexes(uint64_t records, uint64_t largest) {
    if (largest <= UINT8_MAX) {
      values_ = LargeVector<uint8_t>(records);
    } else if (largest <= UINT16_MAX) {
      values_ = LargeVector<uint16_t>(records);
    } else if (largest <= UINT32_MAX) {
      values_ = LargeVector<uint32_t>(records);
    } else {
      values_ = LargeVector<uint64_t>(records);
    }
  }

  uint64_t size() const {
    return std::visit([](const auto& v) { return static_cast<uint64_t>(v.size()); }, values_);
  }
  uint64_t operator[](uint64_t r) const {
    return std::visit([r](const auto& v) { return static_cast<uint64_t>(v[r]); }, values_);
  }
  // Calls f with the typed array, once: loops over records go inside f.
  template <typename F>
  void Visit(F f) {
    std::visit([&f](auto& v) { f(v.data()); }, values_);
  }
  // Records [begin, begin + n) widened into out.
  void Read(uint64_t begin, size_t n, uint64_t* out) const {
    std::visit(
        [&](const auto& v) {
          for (size_t i = 0; i < n; ++i) {
            out[i] = v[begin + i];
          }
        },
        values_);
  }

 private:
  std::variant<LargeVector<uint8_t>, LargeVector<uint16_t>, LargeVector<uint32_t>,
               LargeVector<uint64_t>>
      values_;
};

}  // namespace orv
