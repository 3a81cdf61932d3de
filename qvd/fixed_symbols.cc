// Fixed-width symbols: each value's order key gives its symbol, so keys alone are grouped: marked
// in an array when their range is narrow, hashed when they are few, radix sorted when many.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "qvd/flat_table.h"
#include "qvd/key_sort.h"
#include "qvd/symbol_groups.h"
#include "runtime/large_allocator.h"
#include "runtime/prefetch.h"
#include "runtime/values.h"
#include "runtime/workers.h"
#include "types/decimal.h"

namespace orv {

namespace {

// An unsigned key that orders as the value does. Doubles: -0.0 just before 0.0, so that each keeps
// a symbol of its own (the sign is part of the value a QVD symbol stores); NaN the largest key.
template <typename K>
uint64_t OrderKey(K v) {
  if constexpr (std::is_same_v<K, double>) {
    if (std::isnan(v)) {
      return UINT64_MAX;
    }
    uint64_t bits;
    memcpy(&bits, &v, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
  } else if constexpr (std::is_same_v<K, int32_t>) {
    return static_cast<uint32_t>(v) ^ 0x80000000u;
  } else if constexpr (std::is_signed_v<K>) {
    return static_cast<uint64_t>(static_cast<int64_t>(v)) ^ (uint64_t{1} << 63);
  } else {
    return v;
  }
}

U128 OrderKey(__int128 v) {
  return static_cast<U128>(v) ^ (U128{1} << 127);
}

constexpr uint64_t kAhead = 16;      // records whose loads are started ahead of their use
constexpr uint64_t kFewKeys = 4096;  // hashed whatever share of the values they are

// Where each NaN goes: NaN, which no order places, goes last and equals nothing, so each NaN
// record is a symbol of its own, in visit order.
template <typename R>
class NaNSymbols {
 public:
  explicit NaNSymbols(const std::vector<R>& records, uint64_t first) {
    for (size_t j = 0; j < records.size(); ++j) {
      byRecord_.emplace_back(records[j], first + j);
    }
    std::sort(byRecord_.begin(), byRecord_.end());
  }
  uint64_t IndexOf(uint64_t r) const {
    return std::lower_bound(byRecord_.begin(), byRecord_.end(), std::pair<R, uint64_t>(r, 0))
        ->second;
  }

 private:
  std::vector<std::pair<R, uint64_t>> byRecord_;
};

// Fixed-width columns. Each value maps to an unsigned order key (a descending field's complemented)
// from which its symbol's bytes follow, so any record holding a key can stand for its symbol. A
// date's key is its day number (a day past the end of its month, which readers refuse, would share
// the symbol of the day it carries into). Keys of a narrow range are marked in an array, few
// distinct keys are found by hashing, many are sorted as keys alone, relative to the least so that
// they take 32 bits where they can.
template <typename T, typename R, typename KeyFn, bool kRestorable>
class FixedGrouping {
  using K = decltype(std::declval<KeyFn>()(T{}));
  using Word = std::conditional_t<(sizeof(K) > 8), U128, uint64_t>;
  static constexpr bool kFloating = std::is_floating_point_v<K>;

 public:
  FixedGrouping(const VisitOrder& visit, FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                uint64_t records, KeyFn key, TaskPool* pool)
      : visit_(visit),
        dataSet_(dataSet),
        symbols_(symbols),
        records_(records),
        key_(key),
        descending_(dataSet.field().sortDirection() == 1),
        pool_(pool) {}

  void Run() {
    const Keys keys = Scan();
    if (!Dense(keys) && !Hashed(keys)) {
      Sorted(keys);
    }
  }

 private:
  [[gnu::always_inline]] Word WordOf(const char* value) const {
    T v;
    memcpy(&v, value, sizeof v);
    const Word w = OrderKey(key_(v));
    return IsNaN(w) || !descending_ ? w : ~w;
  }
  [[gnu::always_inline]] static bool IsNaN(Word w) { return kFloating && w == ~Word{0}; }

  // Calls f(r, word) for each non-null record, in record order.
  template <typename F>
  [[gnu::always_inline]] void ForEachValue(F f) const {
    for (uint64_t r = 0; r < records_; ++r) {
      const char* value = dataSet_.ValueAt(r).first;
      if (value != nullptr) {
        f(r, WordOf(value));
      }
    }
  }

  // The least and most keys other than NaN, and the NaN records in visit order.
  struct Keys {
    Word least = ~Word{0};
    Word most = 0;
    std::vector<R> nans;
  };
  Keys Scan() const;
  bool Dense(const Keys& keys);
  bool Hashed(const Keys& keys);
  template <typename SymbolOf>
  void NumberInOrder(LargeVector<R> order, const std::vector<R>& nans, SymbolOf symbolOf);
  void Sorted(const Keys& keys);
  template <typename Rel>
  void SortedAs(Word least, unsigned bits, const std::vector<R>& nans);
  template <typename Rel>
  void NumberByKey(const LargeVector<Rel>& keys, Word least, unsigned bits,
                   const std::vector<R>& nans, bool release);
  template <typename Rel>
  void RestoreValues(LargeVector<Rel>& keys, Word least, const std::vector<T>& nanValues);
  LargeVector<R> OrderFromStored(uint64_t distinct, const std::vector<R>& nans) const;
  bool Restorable() const { return kRestorable && dataSet_.field().ValueWidth() == sizeof(T); }
  // The value whose word is w (not a NaN's), where the key gives it back.
  T ValueOf(Word w) const;

  const VisitOrder& visit_;
  FlowDataSet& dataSet_;
  FieldSymbols<R>& symbols_;
  const uint64_t records_;
  const KeyFn key_;
  const bool descending_;
  TaskPool* const pool_;  // free workers help number the records, where there is one
};

// Up to a few thousand distinct keys (more on longer columns): a table of them, sorted, then each
// record's symbol looked up. Past a few thousand, a column where most values seen are new is
// sorted instead.
template <typename T, typename R, typename KeyFn, bool kRestorable>
bool FixedGrouping<T, R, KeyFn, kRestorable>::Hashed(const Keys& keys) {
  const uint64_t most = std::clamp<uint64_t>(visit_.values() / 16, 4096, uint64_t{1} << 18);
  FixedKeyTable<Word> table;
  uint64_t nans = 0;
  uint64_t seen = 0;
  const bool few = visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (IsNaN(w)) {
      ++nans;
    } else {
      table.Insert(w, r);
    }
    const uint64_t found = table.size() + nans;
    ++seen;
    return found <= most && (found <= kFewKeys || 2 * found <= seen);
  });
  if (!few) {
    return false;
  }
  std::vector<std::pair<Word, R>> distinct;
  distinct.reserve(table.size());
  table.ForEach([&](Word w, uint64_t r) { distinct.emplace_back(w, static_cast<R>(r)); });
  std::sort(distinct.begin(), distinct.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  LargeVector<R> order;
  order.reserve(distinct.size() + keys.nans.size());
  for (const auto& [w, r] : distinct) {
    table.At(w) = symbols_.firstValueIndex + order.size();
    order.push_back(r);
  }
  NumberInOrder(std::move(order), keys.nans, [&](Word w) { return table.At(w); });
  return true;
}

// Numbers the symbols of `order` (a record of each distinct key, in key order), then a symbol for
// each NaN record, and gives each record its symbol: `symbolOf(key)`, or the NaN's own.
template <typename T, typename R, typename KeyFn, bool kRestorable>
template <typename SymbolOf>
void FixedGrouping<T, R, KeyFn, kRestorable>::NumberInOrder(LargeVector<R> order,
                                                            const std::vector<R>& nans,
                                                            SymbolOf symbolOf) {
  const NaNSymbols<R> nanSymbols(nans, symbols_.firstValueIndex + order.size());
  order.insert(order.end(), nans.begin(), nans.end());
  MakeStored(symbols_, order.size(), records_);
  NumberSymbols(dataSet_, symbols_, std::move(order));
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    ForEachValue([&](uint64_t r, Word w) {
      stored[r] = static_cast<S>(IsNaN(w) ? nanSymbols.IndexOf(r) : symbolOf(w));
    });
  });
}

template <typename T, typename R, typename KeyFn, bool kRestorable>
typename FixedGrouping<T, R, KeyFn, kRestorable>::Keys
FixedGrouping<T, R, KeyFn, kRestorable>::Scan() const {
  Keys keys;
  visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (IsNaN(w)) {
      keys.nans.push_back(static_cast<R>(r));
    } else {
      keys.least = std::min(keys.least, w);
      keys.most = std::max(keys.most, w);
    }
    return true;
  });
  return keys;
}

// Keys within a range no wider than the column (the days of a date column, small counts, ids
// counted up): an array over the range marks the keys there are, which then take their symbols in
// key order without a sort. It takes at most 4 bytes a record (8 for over 4 G records).
template <typename T, typename R, typename KeyFn, bool kRestorable>
bool FixedGrouping<T, R, KeyFn, kRestorable>::Dense(const Keys& keys) {
  if (keys.least > keys.most || keys.most - keys.least >= std::max(records_, kFewKeys)) {
    return false;
  }
  const Word least = keys.least;
  // Each key's first record visited, then its symbol; kNone for a key no record holds.
  using Slot = std::conditional_t<(sizeof(R) > 4), uint64_t, uint32_t>;
  constexpr Slot kNone = ~Slot{0};
  LargeVector<Slot> slots(static_cast<size_t>(keys.most - least) + 1, kNone);
  visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (!IsNaN(w) && slots[static_cast<size_t>(w - least)] == kNone) {
      slots[static_cast<size_t>(w - least)] = static_cast<Slot>(r);
    }
    return true;
  });
  LargeVector<R> order;  // room for a symbol each key or value, whichever are fewer, and the NaNs
  order.reserve(std::min<uint64_t>(slots.size(), visit_.values() - keys.nans.size()) +
                keys.nans.size());
  for (Slot& slot : slots) {
    if (slot != kNone) {
      order.push_back(static_cast<R>(slot));
      slot = static_cast<Slot>(symbols_.firstValueIndex + order.size() - 1);
    }
  }
  NumberInOrder(std::move(order), keys.nans,
                [&](Word w) { return slots[static_cast<size_t>(w - least)]; });
  return true;
}

template <typename T, typename R, typename KeyFn, bool kRestorable>
void FixedGrouping<T, R, KeyFn, kRestorable>::Sorted(const Keys& keys) {
  const unsigned bits = BitWidth(keys.least <= keys.most ? keys.most - keys.least : 0);
  if (bits <= 32) {
    SortedAs<uint32_t>(keys.least, bits, keys.nans);
  } else if (sizeof(Word) <= 8 || bits <= 64) {
    SortedAs<uint64_t>(keys.least, bits, keys.nans);
  } else if constexpr (sizeof(Word) > 8) {
    SortedAs<U128>(keys.least, bits, keys.nans);
  }
}

// Many distinct keys: the keys alone, less the least, as Rel, sorted and made distinct; each
// record's symbol is then its key's position. Where a key gives its value back, the store itself
// becomes the symbols' values, written from the keys, and no record of each symbol is kept; in a
// large column the store's pages go back as the records are numbered, so that the store, the keys
// and the stored values are never all held at once. Otherwise a record of each symbol is found
// from the stored values.
template <typename T, typename R, typename KeyFn, bool kRestorable>
template <typename Rel>
void FixedGrouping<T, R, KeyFn, kRestorable>::SortedAs(Word least, unsigned bits,
                                                       const std::vector<R>& nans) {
  LargeVector<Rel> keys;
  keys.reserve(visit_.values() - nans.size());
  ForEachValue([&](uint64_t, Word w) {
    if (!IsNaN(w)) {
      keys.push_back(static_cast<Rel>(w - least));
    }
  });
  if constexpr (sizeof(Rel) <= 8) {
    RadixSort(
        keys, 0, bits, [](Rel k) { return uint64_t{k}; }, pool_);
  } else {
    std::sort(keys.begin(), keys.end());
  }
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  ReleaseLargePages(keys.data(), keys.capacity() * sizeof(Rel), keys.size() * sizeof(Rel),
                    SIZE_MAX);
  MakeStored(symbols_, keys.size() + nans.size(), records_);
  const bool restore = Restorable();
  std::vector<T> nanValues;  // kept before the store's pages go
  for (size_t j = 0; restore && j < nans.size(); ++j) {
    memcpy(&nanValues.emplace_back(), dataSet_.ValueAt(nans[j]).first, sizeof(T));
  }
  NumberByKey(keys, least, bits, nans, restore && records_ >= kLargeColumn);
  if (restore) {
    RestoreValues(keys, least, nanValues);
    return;
  }
  const uint64_t distinct = keys.size();
  LargeVector<Rel>().swap(keys);  // its memory goes back before the order is made
  NumberSymbols(dataSet_, symbols_, OrderFromStored(distinct, nans));
}

// Each record's stored value: its key's position among `keys`, or its NaN's own symbol. The
// records are taken a block at a time, their keys sorted, so that the keys are looked up in
// ascending order, reading `keys` front to back rather than at random; workers of the pool that
// are free take blocks too. With `release`, the store's pages go back once a block is read.
template <typename T, typename R, typename KeyFn, bool kRestorable>
template <typename Rel>
void FixedGrouping<T, R, KeyFn, kRestorable>::NumberByKey(const LargeVector<Rel>& keys, Word least,
                                                          unsigned bits, const std::vector<R>& nans,
                                                          bool release) {
  struct Pair {
    Rel key;
    uint32_t at;  // the record, less the block's first
  };
  constexpr uint64_t kBlock = (uint64_t{8} << 20) / sizeof(Pair);  // 8 MiB of keys a block
  const uint64_t f = symbols_.firstValueIndex;
  const NaNSymbols<R> nanSymbols(nans, f + keys.size());
  const KeyDirectory<Rel> directory(keys.data(), keys.size(), bits);
  std::vector<LargeVector<Pair>> pairsOf(SharedTakers(pool_));  // each taker's own
  std::vector<LargeVector<Pair>> scratchOf(SharedTakers(pool_));
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    RunShared(pool_, (records_ + kBlock - 1) / kBlock, [&](uint64_t block, unsigned h) {
      const uint64_t first = block * kBlock;
      const uint64_t end = std::min(records_, first + kBlock);
      LargeVector<Pair>& pairs = pairsOf[h];
      pairs.clear();
      for (uint64_t r = first; r < end; ++r) {
        const char* value = dataSet_.ValueAt(r).first;
        if (value == nullptr) {
          continue;
        }
        if (const Word w = WordOf(value); IsNaN(w)) {
          stored[r] = static_cast<S>(nanSymbols.IndexOf(r));
        } else {
          pairs.push_back({static_cast<Rel>(w - least), static_cast<uint32_t>(r - first)});
        }
      }
      if constexpr (sizeof(Rel) <= 8) {
        scratchOf[h].resize(pairs.size());
        key_sort::ByLowDigits(pairs.data(), scratchOf[h].data(), pairs.size(), 0, bits,
                              [](const Pair& p) { return uint64_t{p.key}; });
      } else {
        std::sort(pairs.begin(), pairs.end(),
                  [](const Pair& a, const Pair& b) { return a.key < b.key; });
      }
      // Lookups whose run start is loaded ahead; their keys are loaded half as far ahead.
      constexpr size_t kRunsAhead = 16;
      for (size_t j = 0; j < pairs.size(); ++j) {
        if (j + kRunsAhead < pairs.size()) {
          directory.PrefetchRun(pairs[j + kRunsAhead].key);
        }
        if (j + kRunsAhead / 2 < pairs.size()) {
          directory.PrefetchKeys(pairs[j + kRunsAhead / 2].key);
        }
        stored[first + pairs[j].at] = static_cast<S>(f + directory.Find(pairs[j].key));
      }
      if (release) {
        dataSet_.ReleaseValues(first, end);  // whole pages only: a neighbour's stay
      }
    });
  });
}

// The store made the symbols' values in symbol order: each distinct key's value, the keys' pages
// going back as they are read, then the NaNs'.
template <typename T, typename R, typename KeyFn, bool kRestorable>
template <typename Rel>
void FixedGrouping<T, R, KeyFn, kRestorable>::RestoreValues(LargeVector<Rel>& keys, Word least,
                                                            const std::vector<T>& nanValues) {
  constexpr size_t kStep = size_t{1} << 19;  // keys read between two releases
  const size_t distinct = keys.size();
  char* values = dataSet_.KeepFirst(distinct + nanValues.size());
  for (size_t s = 0; s < distinct; ++s) {
    const T v = ValueOf(static_cast<Word>(keys[s]) + least);
    memcpy(values + s * sizeof(T), &v, sizeof v);
    if ((s + 1) % kStep == 0) {
      ReleaseLargePages(keys.data(), keys.capacity() * sizeof(Rel), (s + 1 - kStep) * sizeof(Rel),
                        (s + 1) * sizeof(Rel));
    }
  }
  LargeVector<Rel>().swap(keys);
  if (!nanValues.empty()) {
    memcpy(values + distinct * sizeof(T), nanValues.data(), nanValues.size() * sizeof(T));
  }
  NumberSymbols(dataSet_, symbols_, {}, distinct + nanValues.size());
}

template <typename T, typename R, typename KeyFn, bool kRestorable>
T FixedGrouping<T, R, KeyFn, kRestorable>::ValueOf(Word w) const {
  const Word key = descending_ ? ~w : w;
  if constexpr (std::is_same_v<K, double>) {
    const uint64_t bits = (key >> 63) != 0 ? key & ~(uint64_t{1} << 63) : ~key;
    double v;
    memcpy(&v, &bits, sizeof v);
    return v;
  } else if constexpr (std::is_same_v<K, int32_t>) {
    return static_cast<T>(static_cast<int32_t>(static_cast<uint32_t>(key) ^ 0x80000000u));
  } else if constexpr (std::is_same_v<K, __int128>) {
    return static_cast<T>(key ^ (U128{1} << 127));
  } else if constexpr (std::is_signed_v<K>) {
    return static_cast<T>(static_cast<int64_t>(static_cast<uint64_t>(key) ^ (uint64_t{1} << 63)));
  } else {
    return static_cast<T>(key);
  }
}

// Each symbol's record, found from the stored values (any record of a symbol stands for it), then
// the NaNs'.
template <typename T, typename R, typename KeyFn, bool kRestorable>
LargeVector<R> FixedGrouping<T, R, KeyFn, kRestorable>::OrderFromStored(
    uint64_t distinct, const std::vector<R>& nans) const {
  const uint64_t f = symbols_.firstValueIndex;
  LargeVector<R> order(distinct);
  order.insert(order.end(), nans.begin(), nans.end());
  symbols_.stored.Visit([&](const auto* stored) {
    for (uint64_t r = 0; r < records_; ++r) {
      if (r + kAhead < records_) {
        PrefetchLineForWrite(
            &order[stored[r + kAhead] - std::min<uint64_t>(f, stored[r + kAhead])]);
      }
      const uint64_t s = stored[r];
      if (s >= f && s - f < distinct) {
        order[s - f] = static_cast<R>(r);
      }
    }
  });
  return order;
}

}  // namespace

// The fixed-width types by their stored representation. A date's key (its day number) doesn't
// give back the date's bytes; the other keys do.
template <typename R>
void CollectFixed(const VisitOrder& visit, FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                  uint64_t records, TaskPool* pool) {
  auto run = [&]<typename T, bool kRestorable = true>(auto key) {
    FixedGrouping<T, R, decltype(key), kRestorable>(visit, dataSet, symbols, records, key, pool)
        .Run();
  };
  auto same = [](auto v) { return v; };
  const std::string& type = dataSet.field().typeWord();
  if (type == "int") {
    run.template operator()<int32_t>(same);
  } else if (type == "double") {
    run.template operator()<double>(same);
  } else if (type == "decimal") {
    // Up to 18 digits every value fits 64 bits (the stream holds 8 bytes).
    if (dataSet.field().AsDecimal()->precision() <= 18) {
      run.template operator()<__int128>([](__int128 v) { return static_cast<int64_t>(v); });
    } else {
      run.template operator()<__int128>(same);
    }
  } else if (type == "date") {
    run.template operator()<uint32_t, false>(
        [](uint32_t packed) { return date::FromPacked(packed).CarriedEpochDays(); });
  } else {
    run.template operator()<int64_t>(same);
  }
}

template void CollectFixed(const VisitOrder&, FlowDataSet&, FieldSymbols<uint8_t>&, uint64_t,
                           TaskPool*);
template void CollectFixed(const VisitOrder&, FlowDataSet&, FieldSymbols<uint16_t>&, uint64_t,
                           TaskPool*);
template void CollectFixed(const VisitOrder&, FlowDataSet&, FieldSymbols<uint32_t>&, uint64_t,
                           TaskPool*);
template void CollectFixed(const VisitOrder&, FlowDataSet&, FieldSymbols<uint64_t>&, uint64_t,
                           TaskPool*);

}  // namespace orv
