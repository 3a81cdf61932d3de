// Sorting and finding the unsigned order keys of fixed-width columns, for symbol collection.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

using U128 = unsigned __int128;

// Bits needed for values up to v.
inline unsigned BitWidth(U128 v) {
  const auto high = static_cast<uint64_t>(v >> 64);
  const auto low = static_cast<uint64_t>(v);
  return high != 0  ? 128 - static_cast<unsigned>(__builtin_clzll(high))
         : low != 0 ? 64 - static_cast<unsigned>(__builtin_clzll(low))
                    : 0;
}

// Least significant digit first over bits [low, high) of each entry's key: as few passes as digits
// of up to 11 bits allow, of equal width; a pass whose digit is the same in every entry is skipped.
// Stable, so entries of equal keys keep their order.
template <typename Entry, typename Allocator, typename KeyOf>
void RadixSort(std::vector<Entry, Allocator>& entries, unsigned low, unsigned high, KeyOf keyOf) {
  constexpr unsigned kMaxDigitBits = 11;
  if (high <= low || entries.size() < 2) {
    return;
  }
  const unsigned passes = (high - low + kMaxDigitBits - 1) / kMaxDigitBits;
  const unsigned digitBits = (high - low + passes - 1) / passes;
  const uint64_t mask = (uint64_t{1} << digitBits) - 1;
  std::vector<Entry, Allocator> other(entries.size());
  std::vector<size_t> counts(size_t{1} << digitBits);
  for (unsigned shift = low; shift < high; shift += digitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const Entry& entry : entries) {
      ++counts[(keyOf(entry) >> shift) & mask];
    }
    if (std::find(counts.begin(), counts.end(), entries.size()) != counts.end()) {
      continue;
    }
    size_t at = 0;
    for (size_t& count : counts) {
      size_t n = count;
      count = at;
      at += n;
    }
    for (const Entry& entry : entries) {
      other[counts[(keyOf(entry) >> shift) & mask]++] = entry;
    }
    entries.swap(other);
  }
}

// Sorted distinct keys, found through a table of where each run of leading bits starts: a lookup
// searches a few neighbouring keys.
template <typename Key>
class KeyDirectory {
 public:
  KeyDirectory(const std::vector<Key>& keys, unsigned keyBits) : keys_(keys) {
    const unsigned sizeBits = static_cast<unsigned>(BitWidth(keys.size()));
    const unsigned dirBits = std::min(keyBits, sizeBits > 4 ? sizeBits - 4 : 0);
    shift_ = keyBits - dirBits;
    starts_.resize((size_t{1} << dirBits) + 1);
    size_t i = 0;
    for (size_t b = 0; b < starts_.size(); ++b) {
      while (i < keys.size() && (keys[i] >> shift_) < b) {
        ++i;
      }
      starts_[b] = i;
    }
  }
  // Starts loading what Find(key) reads: its directory entry, then (once that is in) its keys.
  [[gnu::always_inline]] void PrefetchEntry(Key key) const {
    __builtin_prefetch(&starts_[static_cast<size_t>(key >> shift_)]);
  }
  [[gnu::always_inline]] void PrefetchKeys(Key key) const {
    __builtin_prefetch(keys_.data() + starts_[static_cast<size_t>(key >> shift_)]);
  }
  // The position of a key that is there.
  [[gnu::always_inline]] uint64_t Find(Key key) const {
    const auto b = static_cast<size_t>(key >> shift_);
    return static_cast<uint64_t>(
        std::lower_bound(keys_.begin() + static_cast<std::ptrdiff_t>(starts_[b]),
                         keys_.begin() + static_cast<std::ptrdiff_t>(starts_[b + 1]), key) -
        keys_.begin());
  }

 private:
  const std::vector<Key>& keys_;
  unsigned shift_ = 0;
  std::vector<uint64_t> starts_;
};

}  // namespace orv
