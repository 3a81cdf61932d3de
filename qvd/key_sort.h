// Sorting and finding the unsigned order keys of fixed-width columns, for symbol collection.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "runtime/large_allocator.h"
#include "runtime/prefetch.h"
#include "runtime/workers.h"

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

// Columns of this many values or more are sorted to spare memory rather than time.
inline constexpr uint64_t kLargeColumn = uint64_t{1} << 22;

namespace key_sort {

inline constexpr unsigned kMaxDigitBits = 11;
inline constexpr size_t kFewEntries = 256;  // compared instead of counted
// An in-place split makes 256 groups: the next free places of so few stay in the cache.
inline constexpr unsigned kSplitDigitBits = 8;

// Entries [0, n) sorted on key bits [low, high), least significant digit first through `scratch`
// (room for n): as few passes as digits of up to 11 bits allow, of equal width; a pass whose digit
// is the same in every entry is skipped.
template <typename Entry, typename KeyOf>
void ByLowDigits(Entry* entries, Entry* scratch, size_t n, unsigned low, unsigned high,
                 KeyOf keyOf) {
  if (n < kFewEntries) {
    std::sort(entries, entries + n, [&](const Entry& a, const Entry& b) {
      return keyOf(a) >> low < keyOf(b) >> low;  // bits above `high` are the same in all
    });
    return;
  }
  const unsigned passes = (high - low + kMaxDigitBits - 1) / kMaxDigitBits;
  const unsigned digitBits = (high - low + passes - 1) / passes;
  const uint64_t mask = (uint64_t{1} << digitBits) - 1;
  std::vector<size_t> counts(size_t{1} << digitBits);
  Entry* from = entries;
  Entry* to = scratch;
  for (unsigned shift = low; shift < high; shift += digitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    for (size_t i = 0; i < n; ++i) {
      ++counts[(keyOf(from[i]) >> shift) & mask];
    }
    if (std::find(counts.begin(), counts.end(), n) != counts.end()) {
      continue;
    }
    size_t at = 0;
    for (size_t& count : counts) {
      at += std::exchange(count, at);
    }
    for (size_t i = 0; i < n; ++i) {
      to[counts[(keyOf(from[i]) >> shift) & mask]++] = from[i];
    }
    std::swap(from, to);
  }
  if (from != entries) {
    std::copy(from, from + n, entries);
  }
}

// Entries [0, n) grouped in place by the digit of key bits [shift, shift + digitBits), in
// ascending order of the digit; `starts` gets each group's start, then n.
template <typename Entry, typename KeyOf>
void GroupByDigit(Entry* entries, size_t n, unsigned shift, unsigned digitBits, KeyOf keyOf,
                  std::vector<size_t>& starts) {
  const uint64_t mask = (uint64_t{1} << digitBits) - 1;
  auto digit = [&](const Entry& e) { return static_cast<size_t>((keyOf(e) >> shift) & mask); };
  starts.assign((size_t{1} << digitBits) + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    ++starts[digit(entries[i]) + 1];
  }
  for (size_t d = 1; d < starts.size(); ++d) {
    starts[d] += starts[d - 1];
  }
  std::vector<size_t> next(starts.begin(), starts.end() - 1);
  for (size_t d = 0; d + 1 < starts.size(); ++d) {
    // Each entry out of place goes to the next free place of its group, whose entry moves on.
    while (next[d] < starts[d + 1]) {
      Entry moving = entries[next[d]];
      for (size_t to = digit(moving); to != d; to = digit(moving)) {
        std::swap(moving, entries[next[to]++]);
      }
      entries[next[d]++] = moving;
    }
  }
}

// Entries [0, n) grouped in place by the top digit of key bits [low, high) (low < high); returns
// the bits the groups are still to be sorted on, [low, the result).
template <typename Entry, typename KeyOf>
unsigned SplitByTopDigit(Entry* entries, size_t n, unsigned low, unsigned high, KeyOf keyOf,
                         std::vector<size_t>& starts) {
  const unsigned digitBits = std::min(kSplitDigitBits, high - low);
  GroupByDigit(entries, n, high - digitBits, digitBits, keyOf, starts);
  return high - digitBits;
}

// Entries [0, n) sorted on key bits [low, high): groups too large for `scratch` (room for `room`
// entries) are split in place by their top digit, the others sorted through it.
template <typename Entry, typename KeyOf>
void ByDigits(Entry* entries, size_t n, unsigned low, unsigned high, KeyOf keyOf, Entry* scratch,
              size_t room) {
  if (high <= low || n < 2) {
    return;
  }
  if (n <= room) {
    ByLowDigits(entries, scratch, n, low, high, keyOf);
    return;
  }
  std::vector<size_t> starts;
  const unsigned shift = SplitByTopDigit(entries, n, low, high, keyOf, starts);
  for (size_t d = 0; d + 1 < starts.size(); ++d) {
    ByDigits(entries + starts[d], starts[d + 1] - starts[d], low, shift, keyOf, scratch, room);
  }
}

}  // namespace key_sort

// Sorts entries on bits [low, high) of each entry's key; entries of equal keys end in any order.
// Up to 4 Mi entries the sort runs least significant digit first through scratch as large as the
// entries. Beyond, where memory counts more, the scratch is a 64th of that: groups of entries up
// to that size are sorted through it, larger ones first split in place by their most significant
// digit (which costs some speed).
// With a pool, the groups of a large sort's first split are sorted by whichever of this thread and
// the pool's free workers takes them, each through scratch of its own.
template <typename Entry, typename Allocator, typename KeyOf>
void RadixSort(std::vector<Entry, Allocator>& entries, unsigned low, unsigned high, KeyOf keyOf,
               TaskPool* pool = nullptr) {
  const size_t n = entries.size();
  const size_t room = n < kLargeColumn ? n : n / 64;
  if (n <= room || high <= low || SharedTakers(pool) < 2) {
    std::vector<Entry, Allocator> scratch(room);
    key_sort::ByDigits(entries.data(), n, low, high, keyOf, scratch.data(), room);
    return;
  }
  std::vector<size_t> starts;
  const unsigned shift = key_sort::SplitByTopDigit(entries.data(), n, low, high, keyOf, starts);
  std::vector<std::vector<Entry, Allocator>> scratch(SharedTakers(pool));
  RunShared(pool, starts.size() - 1, [&](uint64_t d, unsigned h) {
    if (scratch[h].empty()) {
      scratch[h].resize(room);
    }
    key_sort::ByDigits(entries.data() + starts[d], starts[d + 1] - starts[d], low, shift, keyOf,
                       scratch[h].data(), room);
  });
}

// Sorted distinct keys, found through a table of where each run of leading bits starts: a lookup
// searches a few neighbouring keys.
template <typename Key>
class KeyDirectory {
 public:
  // The n keys from `keys`, of up to keyBits bits each.
  KeyDirectory(const Key* keys, size_t n, unsigned keyBits) : keys_(keys) {
    const unsigned sizeBits = static_cast<unsigned>(BitWidth(n));
    const unsigned dirBits = std::min(keyBits, sizeBits > 4 ? sizeBits - 4 : 0);
    shift_ = keyBits - dirBits;
    starts_.resize((size_t{1} << dirBits) + 1);
    size_t i = 0;
    for (size_t b = 0; b < starts_.size(); ++b) {
      while (i < n && (keys[i] >> shift_) < b) {
        ++i;
      }
      starts_[b] = i;
    }
  }
  // For lookups of ascending keys a few apart: starts loading where the key's run starts, then,
  // a few lookups later, the first and middle keys of that run.
  void PrefetchRun(Key key) const { PrefetchLine(&starts_[static_cast<size_t>(key >> shift_)]); }
  void PrefetchKeys(Key key) const {
    const uint64_t* start = &starts_[static_cast<size_t>(key >> shift_)];
    PrefetchLine(keys_ + start[0]);
    PrefetchLine(keys_ + (start[0] + start[1]) / 2);
  }
  // The position of a key that is there: a search of its few neighbours without branches, whose
  // outcome no predictor could foresee.
  [[gnu::always_inline]] uint64_t Find(Key key) const {
    const auto b = static_cast<size_t>(key >> shift_);
    const Key* base = keys_ + starts_[b];
    for (uint64_t n = starts_[b + 1] - starts_[b]; n > 1;) {
      const uint64_t half = n / 2;
      base = base[half] <= key ? base + half : base;
      n -= half;
    }
    return static_cast<uint64_t>(base - keys_);
  }

 private:
  const Key* keys_;
  unsigned shift_ = 0;
  LargeVector<uint64_t> starts_;
};

}  // namespace orv
