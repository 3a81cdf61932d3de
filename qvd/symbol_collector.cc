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

// Fixed-width columns: (key, record) pairs sorted by key for locality, then runs of equal keys
// grouped into symbols. NaN, which no order places, goes last and equals nothing, so each NaN is a
// symbol of its own. A date's key is its day number, so that a day past the end of its month is
// the same symbol as the day it carries into.
// An unsigned key that orders as the value does. Doubles: -0.0 is 0.0, NaN the largest key.
template <typename K>
uint64_t OrderKey(K v) {
  if constexpr (std::is_same_v<K, double>) {
    if (std::isnan(v)) {
      return UINT64_MAX;
    }
    if (v == 0) {
      v = 0.0;
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

// Fixed-width columns: (key, record) pairs sorted by key for locality, then runs of equal keys
// grouped into symbols. NaN, which no order places, goes last and equals nothing, so each NaN is a
// symbol of its own. A date's key is its day number, so that a day past the end of its month is
// the same symbol as the day it carries into. Keys of up to 64 bits are radix sorted.
template <typename T, typename R, typename Iterator, typename Key>
void GroupFixed(Iterator begin, Iterator end, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                Key key) {
  const TypeTraits& field = dataSet.field();
  const bool descending = field.sortDirection() == 1;
  using K = decltype(key(T{}));
  constexpr bool kFloating = std::is_floating_point_v<K>;
  const uint64_t f = symbols.firstValueIndex;
  uint64_t count = 0;
  const size_t uniformSize = field.UniformQvdSymbolSize();
  auto add = [&](R r, bool same) {
    if (count > 0 && same) {
      symbols.stored[r] = static_cast<R>(count - 1 + f);
      return;
    }
    symbols.order[count] = r;
    symbols.stored[r] = static_cast<R>(count + f);
    if (uniformSize != 0) {
      symbols.symbolBytes += uniformSize;
    } else {
      auto [value, size] = dataSet.ValueAt(r);
      symbols.symbolBytes += field.GetQvdSymbolSize(value, size);
    }
    ++count;
  };
  auto valueOf = [&](R r) {
    T v;
    memcpy(&v, dataSet.ValueAt(r).first, sizeof v);
    return key(v);
  };
  if constexpr (sizeof(K) <= 8) {
    // Keys relative to the smallest; when they and a record number fit one 64-bit word
    // together, the words are sorted (half the bytes of key and record pairs).
    const auto n = static_cast<size_t>(end - begin);
    std::vector<uint64_t> keys(n);
    uint64_t least = UINT64_MAX;
    uint64_t most = 0;
    for (size_t p = 0; p < n; ++p) {
      uint64_t k = OrderKey(valueOf(begin[static_cast<std::ptrdiff_t>(p)]));
      // Descending: the complement orders the other way; NaN stays last.
      if (descending && !(kFloating && k == UINT64_MAX)) {
        k = ~k;
      }
      keys[p] = k;
      least = std::min(least, k);
      most = std::max(most, k);
    }
    const unsigned keyBits = n == 0 ? 0 : BitWidth(most - least);
    const size_t records = symbols.stored.size();
    const unsigned recordBits = BitWidth(records == 0 ? 0 : records - 1);
    auto isNan = [&](uint64_t relative) { return kFloating && relative + least == UINT64_MAX; };
    if (keyBits + recordBits <= 64 && recordBits < 64) {
      for (size_t p = 0; p < n; ++p) {
        keys[p] = (keys[p] - least) << recordBits |
                  static_cast<uint64_t>(begin[static_cast<std::ptrdiff_t>(p)]);
      }
      RadixSort(keys, recordBits, recordBits + keyBits, [](uint64_t word) { return word; });
      const uint64_t recordMask = (uint64_t{1} << recordBits) - 1;
      constexpr size_t kAhead = 16;  // records visited in key order: load them ahead
      for (size_t q = 0; q < n; ++q) {
        if (q + kAhead < n) {
          const auto ahead = static_cast<size_t>(keys[q + kAhead] & recordMask);
          if (uniformSize == 0) {
            dataSet.Prefetch(ahead);
          }
          __builtin_prefetch(&symbols.stored[ahead], 1);
        }
        const uint64_t k = keys[q] >> recordBits;
        const bool same = q > 0 && k == (keys[q - 1] >> recordBits) && !isNan(k);
        add(static_cast<R>(keys[q] & recordMask), same);
      }
    } else {
      std::vector<std::pair<uint64_t, R>> keyed(n);
      for (size_t p = 0; p < n; ++p) {
        keyed[p] = {keys[p] - least, begin[static_cast<std::ptrdiff_t>(p)]};
      }
      keys = {};
      RadixSort(keyed, 0, keyBits, [](const std::pair<uint64_t, R>& e) { return e.first; });
      for (size_t q = 0; q < n; ++q) {
        const uint64_t k = keyed[q].first;
        add(keyed[q].second, q > 0 && k == keyed[q - 1].first && !isNan(k));
      }
    }
  } else {
    std::vector<std::pair<K, R>> keyed;
    keyed.reserve(static_cast<size_t>(end - begin));
    for (Iterator it = begin; it != end; ++it) {
      keyed.emplace_back(valueOf(*it), *it);
    }
    if (descending) {
      std::sort(keyed.begin(), keyed.end(),
                [](const auto& a, const auto& b) { return a.first > b.first; });
    } else {
      std::sort(keyed.begin(), keyed.end(),
                [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    for (size_t q = 0; q < keyed.size(); ++q) {
      add(keyed[q].second, q > 0 && keyed[q].first == keyed[q - 1].first);
    }
  }
  symbols.symbolCount = count;
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
