#include "qvd/symbol_collector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <unordered_map>

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

// Least significant digit first over bits [low, high) of each entry's key: as few passes as
// digits of up to 11 bits allow, of equal width; a pass whose digit is the same in every entry is
// skipped. Stable, so entries of equal keys keep their order.
template <typename Entry, typename KeyOf>
void RadixSort(std::vector<Entry>& entries, unsigned low, unsigned high, KeyOf keyOf) {
  constexpr unsigned kMaxDigitBits = 11;
  if (high <= low || entries.size() < 2) {
    return;
  }
  const unsigned passes = (high - low + kMaxDigitBits - 1) / kMaxDigitBits;
  const unsigned digitBits = (high - low + passes - 1) / passes;
  const uint64_t mask = (uint64_t{1} << digitBits) - 1;
  std::vector<Entry> other(entries.size());
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

// Bits needed for values up to v.
unsigned BitWidth(uint64_t v) {
  return v == 0 ? 0 : 64 - static_cast<unsigned>(__builtin_clzll(v));
}

// Numbers a field's symbols while its records are visited in value order: a record either opens
// the next symbol or joins the one the record before it opened. Its per-record methods are forced
// inline: they run in the sorts' inner loops.
template <typename R>
class SymbolNumbering {
 public:
  SymbolNumbering(const FlowDataSet& dataSet, FieldSymbols<R>& symbols)
      : dataSet_(dataSet),
        field_(dataSet.field()),
        symbols_(symbols),
        firstValueIndex_(symbols.firstValueIndex),
        uniformSize_(field_.UniformQvdSymbolSize()) {}

  [[gnu::always_inline]] void Add(R r, bool same) {
    if (count_ > 0 && same) {
      symbols_.stored[r] = static_cast<R>(count_ - 1 + firstValueIndex_);
      return;
    }
    symbols_.order[count_] = r;
    symbols_.stored[r] = static_cast<R>(count_ + firstValueIndex_);
    if (uniformSize_ != 0) {
      symbols_.symbolBytes += uniformSize_;
    } else {
      auto [value, size] = dataSet_.ValueAt(r);
      symbols_.symbolBytes += field_.GetQvdSymbolSize(value, size);
    }
    ++count_;
  }

  // Loads ahead what Add(r) is going to touch, for records visited out of storage order.
  [[gnu::always_inline]] void Prefetch(size_t r) const {
    if (uniformSize_ == 0) {
      dataSet_.Prefetch(r);
    }
    __builtin_prefetch(&symbols_.stored[r], 1);
  }

  uint64_t count() const { return count_; }

 private:
  const FlowDataSet& dataSet_;
  const TypeTraits& field_;
  FieldSymbols<R>& symbols_;
  const uint64_t firstValueIndex_;
  const size_t uniformSize_;  // 0: symbol sizes differ by value
  uint64_t count_ = 0;
};

// The key of record r's value, its stored bytes read as a T.
template <typename T, typename R, typename Key>
[[gnu::always_inline]] inline auto KeyOf(const FlowDataSet& dataSet, R r, Key key) {
  T v;
  memcpy(&v, dataSet.ValueAt(r).first, sizeof v);
  return key(v);
}

// The order keys of the records in [begin, end), in that order, with their range. A descending
// field's keys are complemented so that they order the other way; NaN's key stays the largest.
struct OrderKeys {
  std::vector<uint64_t> keys;
  uint64_t least = UINT64_MAX;
  uint64_t most = 0;
};

// Flattened so that reading each record's key stays inline in the loop.
template <typename T, typename Iterator, typename Key>
[[gnu::flatten]] OrderKeys CollectOrderKeys(Iterator begin, Iterator end,
                                            const FlowDataSet& dataSet, Key key, bool descending) {
  constexpr bool kFloating = std::is_floating_point_v<decltype(key(T{}))>;
  const auto n = static_cast<size_t>(end - begin);
  OrderKeys out;
  out.keys.resize(n);
  for (size_t p = 0; p < n; ++p) {
    uint64_t k = OrderKey(KeyOf<T>(dataSet, begin[static_cast<std::ptrdiff_t>(p)], key));
    if (descending && !(kFloating && k == UINT64_MAX)) {
      k = ~k;
    }
    out.keys[p] = k;
    out.least = std::min(out.least, k);
    out.most = std::max(out.most, k);
  }
  return out;
}

// Whether two neighbours in key order hold the same symbol; `relative` is the key less the least.
// NaN equals nothing, not even NaN.
template <typename K>
[[gnu::always_inline]] inline bool SameSymbol(uint64_t relative, uint64_t previousRelative,
                                              uint64_t least) {
  return relative == previousRelative &&
         !(std::is_floating_point_v<K> && relative + least == UINT64_MAX);
}

// Keys relative to the least, each shifted above its record number in one 64-bit word: sorting
// the words moves half the bytes that (key, record) pairs would.
template <typename K, typename R, typename Iterator>
void GroupPackedWords(OrderKeys& ordered, Iterator begin, unsigned keyBits, unsigned recordBits,
                      SymbolNumbering<R>& numbering) {
  std::vector<uint64_t>& keys = ordered.keys;
  const size_t n = keys.size();
  for (size_t p = 0; p < n; ++p) {
    keys[p] = (keys[p] - ordered.least) << recordBits |
              static_cast<uint64_t>(begin[static_cast<std::ptrdiff_t>(p)]);
  }
  RadixSort(keys, recordBits, recordBits + keyBits, [](uint64_t word) { return word; });
  const uint64_t recordMask = (uint64_t{1} << recordBits) - 1;
  constexpr size_t kAhead = 16;  // records visited in key order: load them ahead
  for (size_t q = 0; q < n; ++q) {
    if (q + kAhead < n) {
      numbering.Prefetch(static_cast<size_t>(keys[q + kAhead] & recordMask));
    }
    const uint64_t k = keys[q] >> recordBits;
    const bool same = q > 0 && SameSymbol<K>(k, keys[q - 1] >> recordBits, ordered.least);
    numbering.Add(static_cast<R>(keys[q] & recordMask), same);
  }
}

// Keys too wide to share a word with the record number: (key, record) pairs are sorted instead.
template <typename K, typename R, typename Iterator>
void GroupKeyRecordPairs(OrderKeys& ordered, Iterator begin, unsigned keyBits,
                         SymbolNumbering<R>& numbering) {
  const size_t n = ordered.keys.size();
  std::vector<std::pair<uint64_t, R>> keyed(n);
  for (size_t p = 0; p < n; ++p) {
    keyed[p] = {ordered.keys[p] - ordered.least, begin[static_cast<std::ptrdiff_t>(p)]};
  }
  ordered.keys = {};
  RadixSort(keyed, 0, keyBits, [](const std::pair<uint64_t, R>& e) { return e.first; });
  for (size_t q = 0; q < n; ++q) {
    const uint64_t k = keyed[q].first;
    numbering.Add(keyed[q].second, q > 0 && SameSymbol<K>(k, keyed[q - 1].first, ordered.least));
  }
}

// Keys wider than 64 bits (decimals of more than 18 digits) are compared, not radix sorted.
template <typename T, typename R, typename Iterator, typename Key>
void GroupByComparison(Iterator begin, Iterator end, const FlowDataSet& dataSet, Key key,
                       bool descending, SymbolNumbering<R>& numbering) {
  using K = decltype(key(T{}));
  std::vector<std::pair<K, R>> keyed;
  keyed.reserve(static_cast<size_t>(end - begin));
  for (Iterator it = begin; it != end; ++it) {
    keyed.emplace_back(KeyOf<T>(dataSet, *it, key), *it);
  }
  if (descending) {
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
  } else {
    std::sort(keyed.begin(), keyed.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  for (size_t q = 0; q < keyed.size(); ++q) {
    numbering.Add(keyed[q].second, q > 0 && keyed[q].first == keyed[q - 1].first);
  }
}

// Fixed-width columns: the records sorted by key for locality, then runs of equal keys grouped
// into symbols. NaN, which no order places, goes last and equals nothing, so each NaN is a symbol
// of its own. A date's key is its day number (a day past the end of its month, which readers
// refuse, would share the symbol of the day it carries into). Keys of up to 64 bits are radix
// sorted.
template <typename T, typename R, typename Iterator, typename Key>
void GroupFixed(Iterator begin, Iterator end, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                Key key) {
  using K = decltype(key(T{}));
  const bool descending = dataSet.field().sortDirection() == 1;
  SymbolNumbering<R> numbering(dataSet, symbols);
  if constexpr (sizeof(K) <= 8) {
    OrderKeys ordered = CollectOrderKeys<T>(begin, end, dataSet, key, descending);
    const unsigned keyBits = begin == end ? 0 : BitWidth(ordered.most - ordered.least);
    const size_t records = symbols.stored.size();
    const unsigned recordBits = BitWidth(records == 0 ? 0 : records - 1);
    if (keyBits + recordBits <= 64 && recordBits < 64) {
      GroupPackedWords<K>(ordered, begin, keyBits, recordBits, numbering);
    } else {
      GroupKeyRecordPairs<K>(ordered, begin, keyBits, numbering);
    }
  } else {
    GroupByComparison<T>(begin, end, dataSet, key, descending, numbering);
  }
  symbols.symbolCount = numbering.count();
}

// Strings: records with identical bytes always share a symbol, so the distinct byte strings are
// found first (by hashing, without copying a value), then only those are ordered with the field's
// less functor (collation, case) and neighbours that its equal functor calls equal are merged.
template <typename R, typename Iterator>
void GroupStrings(Iterator begin, Iterator end, const FlowDataSet& dataSet,
                  FieldSymbols<R>& symbols) {
  const TypeTraits& field = dataSet.field();
  std::unordered_map<std::string_view, R> ids;
  std::vector<R> firstRecord;  // by distinct id
  for (Iterator it = begin; it != end; ++it) {
    auto [value, size] = dataSet.ValueAt(*it);
    auto [entry, added] =
        ids.try_emplace(std::string_view(value, size), static_cast<R>(firstRecord.size()));
    if (added) {
      firstRecord.push_back(*it);
    }
    symbols.stored[*it] = entry->second;  // the distinct id, for now
  }
  ids = {};

  std::vector<R> byValue(firstRecord.size());
  for (size_t id = 0; id < byValue.size(); ++id) {
    byValue[id] = static_cast<R>(id);
  }
  const LessFunctor less = field.getLessFunctor(false);
  const LessFunctor equal = field.getEqualFunctor(false);
  auto valueOf = [&](R id) { return dataSet.ValueAt(firstRecord[id]); };
  std::sort(byValue.begin(), byValue.end(), [&](R a, R b) {
    auto [av, as] = valueOf(a);
    auto [bv, bs] = valueOf(b);
    return less(av, as, bv, bs);
  });

  const uint64_t f = symbols.firstValueIndex;
  std::vector<R> symbolOf(firstRecord.size());
  std::vector<R> representatives;
  std::pair<const char*, size_t> representative{nullptr, 0};
  for (R id : byValue) {
    auto value = valueOf(id);
    if (representatives.empty() ||
        !equal(value.first, value.second, representative.first, representative.second)) {
      representatives.push_back(firstRecord[id]);
      symbols.symbolBytes += field.GetQvdSymbolSize(value.first, value.second);
      representative = value;
    }
    symbolOf[id] = static_cast<R>(representatives.size() - 1 + f);
  }
  // The records are still listed in [begin, end): remap them before the representatives take the
  // front of the order array.
  for (Iterator it = begin; it != end; ++it) {
    symbols.stored[*it] = symbolOf[symbols.stored[*it]];
  }
  std::copy(representatives.begin(), representatives.end(), symbols.order.begin());
  symbols.symbolCount = representatives.size();
}

// The fixed-width types by their stored representation.
template <typename R, typename Iterator>
void CollectFixed(Iterator begin, Iterator end, const FlowDataSet& dataSet,
                  FieldSymbols<R>& symbols) {
  auto same = [](auto v) { return v; };
  const std::string& type = dataSet.field().typeWord();
  if (type == "int") {
    GroupFixed<int32_t>(begin, end, dataSet, symbols, same);
  } else if (type == "double") {
    GroupFixed<double>(begin, end, dataSet, symbols, same);
  } else if (type == "decimal") {
    // Up to 18 digits every value fits 64 bits (the stream holds 8 bytes), which radix sorts.
    if (dataSet.field().AsDecimal()->precision() <= 18) {
      GroupFixed<__int128>(begin, end, dataSet, symbols,
                           [](__int128 v) { return static_cast<int64_t>(v); });
    } else {
      GroupFixed<__int128>(begin, end, dataSet, symbols, same);
    }
  } else if (type == "date") {
    GroupFixed<uint32_t>(begin, end, dataSet, symbols, [](uint32_t packed) {
      return date::FromPacked(packed).CarriedEpochDays();
    });
  } else {
    GroupFixed<int64_t>(begin, end, dataSet, symbols, same);
  }
}

}  // namespace

template <typename R>
FieldSymbols<R> CollectSymbols(FlowDataSet& dataSet, uint64_t records,
                               const std::optional<std::string>& nullText) {
  const TypeTraits& field = dataSet.field();
  FieldSymbols<R> symbols;
  symbols.dataSet = &dataSet;
  symbols.order.resize(records);
  symbols.stored.assign(records, 0);
  for (uint64_t r = 0; r < records; ++r) {
    symbols.order[r] = static_cast<R>(r);
  }

  // Nulls first, whatever the direction of the field's ordering.
  auto valuesBegin = symbols.order.begin();
  if (field.nullable()) {
    valuesBegin = std::partition(symbols.order.begin(), symbols.order.end(),
                                 [&](R r) { return dataSet.ValueAt(r).first == nullptr; });
  }
  const auto nulls = static_cast<uint64_t>(valuesBegin - symbols.order.begin());
  if (nulls > 0) {
    if (nullText) {
      symbols.nullSymbol = *nullText;
      symbols.firstValueIndex = 1;
      symbols.symbolBytes += nullText->size() + 2;
    } else {
      symbols.firstValueIndex = 2;
    }
  }

  if (field.AsString() != nullptr) {
    GroupStrings(valuesBegin, symbols.order.end(), dataSet, symbols);
    return symbols;
  }
  CollectFixed(valuesBegin, symbols.order.end(), dataSet, symbols);
  return symbols;
}

template FieldSymbols<uint8_t> CollectSymbols(FlowDataSet&, uint64_t,
                                              const std::optional<std::string>&);
template FieldSymbols<uint16_t> CollectSymbols(FlowDataSet&, uint64_t,
                                               const std::optional<std::string>&);
template FieldSymbols<uint32_t> CollectSymbols(FlowDataSet&, uint64_t,
                                               const std::optional<std::string>&);
template FieldSymbols<uint64_t> CollectSymbols(FlowDataSet&, uint64_t,
                                               const std::optional<std::string>&);

}  // namespace orv
