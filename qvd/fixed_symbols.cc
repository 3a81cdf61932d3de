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
#include "runtime/values.h"
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
template <typename T, typename R, typename KeyFn>
class FixedGrouping {
  using K = decltype(std::declval<KeyFn>()(T{}));
  using Word = std::conditional_t<(sizeof(K) > 8), U128, uint64_t>;
  static constexpr bool kFloating = std::is_floating_point_v<K>;

 public:
  FixedGrouping(const VisitOrder& visit, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                uint64_t records, KeyFn key)
      : visit_(visit),
        dataSet_(dataSet),
        symbols_(symbols),
        records_(records),
        key_(key),
        descending_(dataSet.field().sortDirection() == 1) {}

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
  void NumberInOrder(std::vector<R> order, const std::vector<R>& nans, SymbolOf symbolOf);
  void Sorted(const Keys& keys);
  void SortedWords(Word least, unsigned bits, unsigned recordBits, const std::vector<R>& nans);
  void SortedPairs(Word least, unsigned bits, const std::vector<R>& nans);
  template <typename Entry, typename KeyOf, typename RecordOf>
  void NumberRuns(LargeVector<Entry>& entries, KeyOf keyOf, RecordOf recordOf,
                  const std::vector<R>& nans);
  void NumberByRecord(LargeVector<uint64_t>& words, unsigned recordBits,
                      const std::vector<R>& nans);
  std::vector<R> OrderFromStored(uint64_t distinct, const std::vector<R>& nans) const;
  template <typename Rel>
  void SortedAs(Word least, unsigned bits, const std::vector<R>& nans);

  const VisitOrder& visit_;
  const FlowDataSet& dataSet_;
  FieldSymbols<R>& symbols_;
  const uint64_t records_;
  const KeyFn key_;
  const bool descending_;
};

// Up to a few thousand distinct keys (more on longer columns): a table of them, sorted, then each
// record's symbol looked up. Past a few thousand, a column where most values seen are new is
// sorted instead.
template <typename T, typename R, typename KeyFn>
bool FixedGrouping<T, R, KeyFn>::Hashed(const Keys& keys) {
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
  std::vector<R> order;
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
template <typename T, typename R, typename KeyFn>
template <typename SymbolOf>
void FixedGrouping<T, R, KeyFn>::NumberInOrder(std::vector<R> order, const std::vector<R>& nans,
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

template <typename T, typename R, typename KeyFn>
typename FixedGrouping<T, R, KeyFn>::Keys FixedGrouping<T, R, KeyFn>::Scan() const {
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
template <typename T, typename R, typename KeyFn>
bool FixedGrouping<T, R, KeyFn>::Dense(const Keys& keys) {
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
  std::vector<R> order;
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

template <typename T, typename R, typename KeyFn>
void FixedGrouping<T, R, KeyFn>::Sorted(const Keys& keys) {
  const unsigned bits = BitWidth(keys.least <= keys.most ? keys.most - keys.least : 0);
  const unsigned recordBits = BitWidth(records_ - 1);
  if (bits + recordBits <= 64) {
    SortedWords(keys.least, bits, recordBits, keys.nans);
  } else if (bits <= 64) {
    SortedPairs(keys.least, bits, keys.nans);
  } else {
    SortedAs<U128>(keys.least, bits, keys.nans);
  }
}

// Keys relative to the least, each shifted above its record number in one 64-bit word, radix
// sorted on the key bits alone. Records of equal keys may end in any order: any of them stands for
// the symbol.
template <typename T, typename R, typename KeyFn>
void FixedGrouping<T, R, KeyFn>::SortedWords(Word least, unsigned bits, unsigned recordBits,
                                             const std::vector<R>& nans) {
  LargeVector<uint64_t> words(visit_.values() - nans.size());
  size_t at = 0;
  visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (!IsNaN(w)) {
      words[at++] = static_cast<uint64_t>(w - least) << recordBits | r;
    }
    return true;
  });
  RadixSort(words, recordBits, recordBits + bits, [](uint64_t word) { return word; });
  if (words.size() >= kLargeColumn && 2 * recordBits <= 64) {
    NumberByRecord(words, recordBits, nans);
    return;
  }
  const uint64_t recordMask = (uint64_t{1} << recordBits) - 1;
  NumberRuns(
      words, [&](uint64_t word) { return word >> recordBits; },
      [&](uint64_t word) { return word & recordMask; }, nans);
}

// Keys too wide to share a word with the record number: (key, record) pairs, radix sorted.
template <typename T, typename R, typename KeyFn>
void FixedGrouping<T, R, KeyFn>::SortedPairs(Word least, unsigned bits,
                                             const std::vector<R>& nans) {
  using Pair = std::pair<uint64_t, R>;
  LargeVector<Pair> pairs;
  pairs.reserve(visit_.values() - nans.size());
  visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (!IsNaN(w)) {
      pairs.emplace_back(static_cast<uint64_t>(w - least), static_cast<R>(r));
    }
    return true;
  });
  RadixSort(pairs, 0, bits, [](const Pair& p) { return p.first; });
  NumberRuns(
      pairs, [](const Pair& p) { return p.first; }, [](const Pair& p) { return p.second; }, nans);
}

// Entries sorted by key: each run of equal keys is a symbol, the run's first record its record; the
// NaNs follow, a symbol each. Each symbol's record is written over the entries already read, so
// that the entries' memory holds them until the entries' pages go back.
template <typename T, typename R, typename KeyFn>
template <typename Entry, typename KeyOf, typename RecordOf>
void FixedGrouping<T, R, KeyFn>::NumberRuns(LargeVector<Entry>& entries, KeyOf keyOf,
                                            RecordOf recordOf, const std::vector<R>& nans) {
  static_assert(sizeof(R) <= sizeof(Entry));
  const size_t n = entries.size();
  uint64_t distinct = 0;
  for (size_t q = 0; q < n; ++q) {
    distinct += q == 0 || keyOf(entries[q]) != keyOf(entries[q - 1]) ? 1 : 0;
  }
  MakeStored(symbols_, distinct + nans.size(), records_);
  const uint64_t f = symbols_.firstValueIndex;
  auto* records = reinterpret_cast<char*>(entries.data());  // symbol s's record at s × sizeof(R)
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    uint64_t symbol = 0;  // one past the current run's
    auto previous = n > 0 ? keyOf(entries[0]) : decltype(keyOf(entries[0])){};
    for (size_t q = 0; q < n; ++q) {
      if (q + kAhead < n) {
        __builtin_prefetch(&stored[recordOf(entries[q + kAhead])], 1);
      }
      const auto r = static_cast<R>(recordOf(entries[q]));
      const auto key = keyOf(entries[q]);
      if (q == 0 || key != previous) {
        memcpy(records + symbol++ * sizeof(R), &r, sizeof r);  // before entry q's end
      }
      previous = key;
      stored[r] = static_cast<S>(f + symbol - 1);
    }
    for (size_t j = 0; j < nans.size(); ++j) {
      stored[nans[j]] = static_cast<S>(f + distinct + j);
    }
  });
  ReleaseLargePages(entries.data(), entries.capacity() * sizeof(Entry), distinct * sizeof(R),
                    SIZE_MAX);
  std::vector<R> order(distinct + nans.size());
  if (distinct > 0) {
    memcpy(order.data(), records, distinct * sizeof(R));
  }
  LargeVector<Entry>().swap(entries);
  std::copy(nans.begin(), nans.end(), order.begin() + static_cast<std::ptrdiff_t>(distinct));
  NumberSymbols(dataSet_, symbols_, std::move(order));
}

// As NumberRuns for a large column's words, in no more memory than they take: each word becomes
// its record above its symbol, the words are sorted by record, the stored values written in record
// order while the words' pages go back as they are read, and each symbol's record is found from
// the stored values at last.
template <typename T, typename R, typename KeyFn>
void FixedGrouping<T, R, KeyFn>::NumberByRecord(LargeVector<uint64_t>& words, unsigned recordBits,
                                                const std::vector<R>& nans) {
  const uint64_t recordMask = (uint64_t{1} << recordBits) - 1;
  const size_t n = words.size();
  uint64_t distinct = 0;
  uint64_t previous = 0;
  for (size_t q = 0; q < n; ++q) {
    const uint64_t key = words[q] >> recordBits;
    distinct += q == 0 || key != previous ? 1 : 0;
    previous = key;
    words[q] = (words[q] & recordMask) << recordBits | (distinct - 1);
  }
  RadixSort(words, recordBits, 2 * recordBits, [](uint64_t word) { return word; });
  MakeStored(symbols_, distinct + nans.size(), records_);
  const uint64_t f = symbols_.firstValueIndex;
  const size_t bytes = words.capacity() * sizeof(uint64_t);
  constexpr size_t kStep = size_t{1} << 18;  // words read between two releases: 2 MiB
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    for (size_t q = 0; q < n; ++q) {
      stored[words[q] >> recordBits] = static_cast<S>(f + (words[q] & recordMask));
      if ((q + 1) % kStep == 0) {
        ReleaseLargePages(words.data(), bytes, (q + 1 - kStep) * sizeof(uint64_t),
                          (q + 1) * sizeof(uint64_t));
      }
    }
    for (size_t j = 0; j < nans.size(); ++j) {
      stored[nans[j]] = static_cast<S>(f + distinct + j);
    }
  });
  LargeVector<uint64_t>().swap(words);
  NumberSymbols(dataSet_, symbols_, OrderFromStored(distinct, nans));
}

// Each symbol's record, found from the stored values (any record of a symbol stands for it), then
// the NaNs'.
template <typename T, typename R, typename KeyFn>
std::vector<R> FixedGrouping<T, R, KeyFn>::OrderFromStored(uint64_t distinct,
                                                           const std::vector<R>& nans) const {
  const uint64_t f = symbols_.firstValueIndex;
  std::vector<R> order(distinct);
  order.insert(order.end(), nans.begin(), nans.end());
  symbols_.stored.Visit([&](const auto* stored) {
    for (uint64_t r = 0; r < records_; ++r) {
      if (r + kAhead < records_) {
        __builtin_prefetch(&order[stored[r + kAhead] - std::min<uint64_t>(f, stored[r + kAhead])],
                           1);
      }
      const uint64_t s = stored[r];
      if (s >= f && s - f < distinct) {
        order[s - f] = static_cast<R>(r);
      }
    }
  });
  return order;
}

// Keys wider than 64 bits: the keys less the least, as Rel, sorted and made distinct; each
// record's symbol is then its key's position, and a record of each symbol is found from the stored
// values.
template <typename T, typename R, typename KeyFn>
template <typename Rel>
void FixedGrouping<T, R, KeyFn>::SortedAs(Word least, unsigned bits, const std::vector<R>& nans) {
  std::vector<Rel> keys;
  keys.reserve(visit_.values() - nans.size());
  ForEachValue([&](uint64_t, Word w) {
    if (!IsNaN(w)) {
      keys.push_back(static_cast<Rel>(w - least));
    }
  });
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  if (keys.size() < keys.capacity() / 2) {
    keys.shrink_to_fit();
  }
  const uint64_t f = symbols_.firstValueIndex;
  const uint64_t distinct = keys.size();
  MakeStored(symbols_, distinct + nans.size(), records_);
  const NaNSymbols<R> nanSymbols(nans, f + distinct);
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    // Records in storage order, their keys anywhere: each lookup's loads start ahead of it.
    const KeyDirectory<Rel> directory(keys, bits);
    auto ahead = [&](uint64_t r, auto prefetch) {
      const char* value = r < records_ ? dataSet_.ValueAt(r).first : nullptr;
      if (value != nullptr && !IsNaN(WordOf(value))) {
        prefetch(static_cast<Rel>(WordOf(value) - least));
      }
    };
    ForEachValue([&](uint64_t r, Word w) {
      ahead(r + 4 * kAhead, [&](Rel k) { directory.PrefetchEntry(k); });
      ahead(r + 2 * kAhead, [&](Rel k) { directory.PrefetchKeys(k); });
      stored[r] = static_cast<S>(IsNaN(w) ? nanSymbols.IndexOf(r)
                                          : f + directory.Find(static_cast<Rel>(w - least)));
    });
  });
  std::vector<Rel>().swap(keys);  // its memory goes back before the order is made
  NumberSymbols(dataSet_, symbols_, OrderFromStored(distinct, nans));
}

}  // namespace

// The fixed-width types by their stored representation.
template <typename R>
void CollectFixed(const VisitOrder& visit, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                  uint64_t records) {
  auto run = [&]<typename T>(auto key) {
    FixedGrouping<T, R, decltype(key)>(visit, dataSet, symbols, records, key).Run();
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
    run.template operator()<uint32_t>(
        [](uint32_t packed) { return date::FromPacked(packed).CarriedEpochDays(); });
  } else {
    run.template operator()<int64_t>(same);
  }
}

template void CollectFixed(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint8_t>&, uint64_t);
template void CollectFixed(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint16_t>&,
                           uint64_t);
template void CollectFixed(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint32_t>&,
                           uint64_t);
template void CollectFixed(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint64_t>&,
                           uint64_t);

}  // namespace orv
