#include "qvd/symbol_collector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "qvd/flat_table.h"
#include "qvd/symbol_groups.h"
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

using U128 = unsigned __int128;

U128 OrderKey(__int128 v) {
  return static_cast<U128>(v) ^ (U128{1} << 127);
}

// Bits needed for values up to v.
unsigned BitWidth(U128 v) {
  const auto high = static_cast<uint64_t>(v >> 64);
  const auto low = static_cast<uint64_t>(v);
  return high != 0  ? 128 - static_cast<unsigned>(__builtin_clzll(high))
         : low != 0 ? 64 - static_cast<unsigned>(__builtin_clzll(low))
                    : 0;
}

// Least significant digit first over bits [0, bits) of each key: as few passes as digits of up to
// 11 bits allow, of equal width; a pass whose digit is the same in every key is skipped.
template <typename Key>
void RadixSort(std::vector<Key>& keys, unsigned bits) {
  constexpr unsigned kMaxDigitBits = 11;
  if (bits == 0 || keys.size() < 2) {
    return;
  }
  const unsigned passes = (bits + kMaxDigitBits - 1) / kMaxDigitBits;
  const unsigned digitBits = (bits + passes - 1) / passes;
  const Key mask = (Key{1} << digitBits) - 1;
  std::vector<Key> other(keys.size());
  std::vector<size_t> counts(size_t{1} << digitBits);
  for (unsigned shift = 0; shift < bits; shift += digitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const Key key : keys) {
      ++counts[(key >> shift) & mask];
    }
    if (std::find(counts.begin(), counts.end(), keys.size()) != counts.end()) {
      continue;
    }
    size_t at = 0;
    for (size_t& count : counts) {
      size_t n = count;
      count = at;
      at += n;
    }
    for (const Key key : keys) {
      other[counts[(key >> shift) & mask]++] = key;
    }
    keys.swap(other);
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

constexpr uint64_t kAhead = 16;  // records whose loads are started ahead of their use

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
// the symbol of the day it carries into). Few distinct keys are found by hashing; many are sorted
// as keys alone, relative to the least so that they take 32 bits where they can.
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
    if (!Hashed()) {
      Sorted();
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

  bool Hashed();
  void Sorted();
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
// record's symbol looked up.
template <typename T, typename R, typename KeyFn>
bool FixedGrouping<T, R, KeyFn>::Hashed() {
  const uint64_t most = std::clamp<uint64_t>(visit_.values() / 16, 4096, uint64_t{1} << 18);
  FixedKeyTable<Word> table;
  std::vector<R> nans;
  const bool few = visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (IsNaN(w)) {
      nans.push_back(static_cast<R>(r));
    } else {
      table.Insert(w, r);
    }
    return table.size() + nans.size() <= most;
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
  order.reserve(distinct.size() + nans.size());
  const uint64_t f = symbols_.firstValueIndex;
  for (const auto& [w, r] : distinct) {
    table.At(w) = f + order.size();
    order.push_back(r);
  }
  order.insert(order.end(), nans.begin(), nans.end());
  MakeStored(symbols_, order.size(), records_);
  NumberSymbols(dataSet_, symbols_, std::move(order));
  const NaNSymbols<R> nanSymbols(nans, f + distinct.size());
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    ForEachValue([&](uint64_t r, Word w) {
      stored[r] = static_cast<S>(IsNaN(w) ? nanSymbols.IndexOf(r) : table.At(w));
    });
  });
  return true;
}

template <typename T, typename R, typename KeyFn>
void FixedGrouping<T, R, KeyFn>::Sorted() {
  Word least = ~Word{0};
  Word most = 0;
  std::vector<R> nans;
  visit_.ForEach([&](uint64_t r) {
    const Word w = WordOf(dataSet_.ValueAt(r).first);
    if (IsNaN(w)) {
      nans.push_back(static_cast<R>(r));
    } else {
      least = std::min(least, w);
      most = std::max(most, w);
    }
    return true;
  });
  const Word range = least <= most ? most - least : 0;
  const unsigned bits = BitWidth(range);
  if (bits <= 32) {
    SortedAs<uint32_t>(least, bits, nans);
  } else if (bits <= 64) {
    SortedAs<uint64_t>(least, bits, nans);
  } else {
    SortedAs<U128>(least, bits, nans);
  }
}

// The keys less the least, as Rel, sorted and made distinct; each record's symbol is then its
// key's position, and a record of each symbol is found from the stored values.
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
  if constexpr (sizeof(Rel) <= 8) {
    RadixSort(keys, bits);
  } else {
    std::sort(keys.begin(), keys.end());
  }
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  if (keys.size() < keys.capacity() / 2) {
    keys.shrink_to_fit();
  }
  const uint64_t f = symbols_.firstValueIndex;
  const uint64_t distinct = keys.size();
  MakeStored(symbols_, distinct + nans.size(), records_);
  std::vector<R> order;  // made once the keys are gone
  const NaNSymbols<R> nanSymbols(nans, f + distinct);
  symbols_.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    {
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
    }
    std::vector<Rel>().swap(keys);  // its memory goes back now
    order.resize(distinct);
    order.insert(order.end(), nans.begin(), nans.end());
    ForEachValue([&](uint64_t r, Word w) {
      if (r + kAhead < records_) {
        __builtin_prefetch(&order[stored[r + kAhead] - std::min<uint64_t>(f, stored[r + kAhead])],
                           1);
      }
      if (!IsNaN(w)) {
        order[stored[r] - f] = static_cast<R>(r);
      }
    });
  });
  NumberSymbols(dataSet_, symbols_, std::move(order));
}

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

}  // namespace

template <typename R>
void MakeStored(FieldSymbols<R>& symbols, uint64_t symbolCount, uint64_t records) {
  symbols.stored =
      StoredIndexes(records, std::max<uint64_t>(symbolCount, 1) - 1 + symbols.firstValueIndex);
}

template <typename R>
void NumberSymbols(const FlowDataSet& dataSet, FieldSymbols<R>& symbols, std::vector<R> order) {
  const TypeTraits& field = dataSet.field();
  symbols.symbolCount = order.size();
  if (const size_t uniform = field.UniformQvdSymbolSize(); uniform != 0) {
    symbols.symbolBytes += uniform * order.size();
  } else {
    for (const R r : order) {
      auto [value, size] = dataSet.ValueAt(r);
      symbols.symbolBytes += field.GetQvdSymbolSize(value, size);
    }
  }
  symbols.order = std::move(order);
}

template <typename R>
FieldSymbols<R> CollectSymbols(FlowDataSet& dataSet, uint64_t records,
                               const std::optional<std::string>& nullText) {
  const TypeTraits& field = dataSet.field();
  FieldSymbols<R> symbols;
  symbols.dataSet = &dataSet;
  // Nulls first, whatever the direction of the field's ordering.
  uint64_t nulls = 0;
  if (field.nullable()) {
    for (uint64_t r = 0; r < records; ++r) {
      nulls += dataSet.ValueAt(r).first == nullptr ? 1 : 0;
    }
  }
  if (nulls > 0) {
    if (nullText) {
      symbols.nullSymbol = *nullText;
      symbols.firstValueIndex = 1;
      symbols.symbolBytes += nullText->size() + 2;
    } else {
      symbols.firstValueIndex = 2;
    }
  }
  const VisitOrder visit(dataSet, records, nulls);
  if (field.AsString() != nullptr) {
    GroupStrings(visit, dataSet, symbols, records);
  } else {
    CollectFixed(visit, dataSet, symbols, records);
  }
  return symbols;
}

#define ORV_COLLECT_SYMBOLS(R)                                                       \
  template void MakeStored(FieldSymbols<R>&, uint64_t, uint64_t);                    \
  template void NumberSymbols(const FlowDataSet&, FieldSymbols<R>&, std::vector<R>); \
  template FieldSymbols<R> CollectSymbols(FlowDataSet&, uint64_t,                    \
                                          const std::optional<std::string>&);
ORV_COLLECT_SYMBOLS(uint8_t)
ORV_COLLECT_SYMBOLS(uint16_t)
ORV_COLLECT_SYMBOLS(uint32_t)
ORV_COLLECT_SYMBOLS(uint64_t)
#undef ORV_COLLECT_SYMBOLS

}  // namespace orv
