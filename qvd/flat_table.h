// Small open-addressing hash tables for symbol collection: power-of-two slot arrays probed
// linearly, each hash computed once per value. Slots are zeroed memory whose pages cost nothing
// until an entry lands on them, so a table sized for the worst case costs what its entries touch.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/large_allocator.h"
#include "runtime/prefetch.h"

namespace orv {

inline uint64_t MixHash(uint64_t a, uint64_t b) {
  const unsigned __int128 m = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(m) ^ static_cast<uint64_t>(m >> 64);
}

inline uint64_t HashKey(uint64_t key) {
  return MixHash(key ^ 0x9E3779B97F4A7C15ull, 0xD6E8FEB86659FD93ull);
}

inline uint64_t HashKey(unsigned __int128 key) {
  return MixHash(HashKey(static_cast<uint64_t>(key)) ^ static_cast<uint64_t>(key >> 64),
                 0x9E3779B97F4A7C15ull);
}

// Eight bytes at a time, the tail zero-padded; the length seeds the hash.
inline uint64_t HashBytes(const char* p, size_t n) {
  uint64_t h = 0x243F6A8885A308D3ull ^ n;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    memcpy(&w, p, 8);
    h = MixHash(h ^ w, 0xD6E8FEB86659FD93ull);
  }
  uint64_t w = 0;
  memcpy(&w, p, n);
  return MixHash(h ^ w, 0x9E3779B97F4A7C15ull);
}

// An array of `n` zeroed slots. One of a huge page or more is a mapping of its own backed by huge
// pages where the kernel has them: a large table is probed at random, and with small pages nearly
// every probe would also miss the address translation cache.
template <typename Slot>
struct ZeroedSlots {
  static_assert(std::is_trivially_copyable_v<Slot> && alignof(Slot) <= 16);
  explicit ZeroedSlots(size_t n) {
    if (n > SIZE_MAX / sizeof(Slot) || !memory.Allocate(n * sizeof(Slot))) {
      throw std::bad_alloc();
    }
  }
  Slot* get() const { return reinterpret_cast<Slot*>(memory.data()); }
  LargeBuffer memory;
};

// Distinct keys of a fixed-width column, each with a 64-bit value; grows to stay at most half
// full. Value UINT64_MAX is reserved.
template <typename Key>
class FixedKeyTable {
 public:
  // Adds `key` with `value` unless it is there; returns its value's slot and whether it was added.
  std::pair<uint64_t*, bool> Insert(Key key, uint64_t value) {
    if (2 * (size_ + 1) > capacity_) {
      Grow();
    }
    Slot* slot = Probe(key);
    if (slot->used) {
      return {&slot->value, false};
    }
    *slot = {key, value, true};
    ++size_;
    return {&slot->value, true};
  }
  // The value of a key that is there.
  uint64_t& At(Key key) { return Probe(key)->value; }
  size_t size() const { return size_; }
  template <typename F>
  void ForEach(F f) const {
    for (size_t i = 0; i < capacity_; ++i) {
      if (slots_.get()[i].used) {
        f(slots_.get()[i].key, slots_.get()[i].value);
      }
    }
  }

 private:
  struct Slot {
    Key key;
    uint64_t value;
    bool used;
  };
  Slot* Probe(Key key) {
    Slot* slots = slots_.get();
    for (size_t i = HashKey(key) & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
      if (!slots[i].used || slots[i].key == key) {
        return &slots[i];
      }
    }
  }
  void Grow() {
    ZeroedSlots<Slot> old = std::move(slots_);
    const size_t oldCapacity = capacity_;
    capacity_ *= 2;
    slots_ = ZeroedSlots<Slot>(capacity_);
    for (size_t i = 0; i < oldCapacity; ++i) {
      if (old.get()[i].used) {
        *Probe(old.get()[i].key) = old.get()[i];
      }
    }
  }

  size_t capacity_ = 64;
  size_t size_ = 0;
  ZeroedSlots<Slot> slots_{64};
};

// Distinct byte strings by id (0, 1, ...): a slot holds the low bits of the hash, which also place
// it, and id + 1, so a probe compares bytes only when those bits agree. The table starts small and
// doubles to stay at most 70% full, placing its entries again by the bits they hold, so that for
// up to some hundred thousand strings it stays in cache. Past a million slots it grows at once to
// the size for `most` entries, so that many distinct strings cost one table of that size.
template <typename Id>
class StringIdTable {
 public:
  explicit StringIdTable(uint64_t most) : most_(most) {}

  // Starts loading the slot where a search for hash `h` begins.
  void Prefetch(uint64_t h) const {
    PrefetchLine(slots_.get() + (static_cast<Tag>(h) & (capacity_ - 1)));
  }
  // The id of the bytes `value` (size `size`) of hash `h`, or `next` if they are new (then *added
  // is set); `bytesOf(id)` gives an entry's bytes.
  template <typename BytesOf>
  Id Find(uint64_t h, const char* value, size_t size, Id next, bool* added, BytesOf bytesOf) {
    const auto tag = static_cast<Tag>(h);
    Slot* slots = slots_.get();
    for (size_t i = tag & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
      Slot& slot = slots[i];
      if (slot.idPlus1 == 0) {
        slot = {tag, static_cast<Id>(next + 1)};
        *added = true;
        if (++size_ * 10 > capacity_ * 7) {
          Grow();
        }
        return next;
      }
      if (slot.tag == tag) {
        const Id id = static_cast<Id>(slot.idPlus1 - 1);
        auto [bytes, n] = bytesOf(id);
        if (n == size && (size == 0 || memcmp(bytes, value, size) == 0)) {
          return id;
        }
      }
    }
  }

 private:
  using Tag = std::conditional_t<(sizeof(Id) > 4), uint64_t, uint32_t>;
  struct Slot {
    Tag tag;
    Id idPlus1;  // 0: empty
  };
  void Grow() {
    ZeroedSlots<Slot> old = std::move(slots_);
    const size_t oldCapacity = capacity_;
    capacity_ *= 2;
    while (capacity_ >= kSmallCapacity && capacity_ * 7 < most_ * 10) {
      capacity_ *= 2;
    }
    slots_ = ZeroedSlots<Slot>(capacity_);
    Slot* slots = slots_.get();
    for (size_t j = 0; j < oldCapacity; ++j) {
      const Slot& slot = old.get()[j];
      if (slot.idPlus1 != 0) {
        size_t i = slot.tag & (capacity_ - 1);
        while (slots[i].idPlus1 != 0) {
          i = (i + 1) & (capacity_ - 1);
        }
        slots[i] = slot;
      }
    }
  }

  static constexpr size_t kFirstCapacity = 1024;
  static constexpr size_t kSmallCapacity = size_t{1} << 20;
  uint64_t most_;
  size_t capacity_ = kFirstCapacity;
  size_t size_ = 0;
  ZeroedSlots<Slot> slots_{kFirstCapacity};
};

}  // namespace orv
