// String symbols: records with identical bytes always share a symbol, so the distinct byte strings
// are found first (by hashing, without copying a value), then only those are ordered with the
// field's less functor (collation, case) and neighbours that its equal functor calls equal are
// merged.
#include <algorithm>
#include <cstring>

#include "qvd/flat_table.h"
#include "qvd/key_sort.h"
#include "qvd/symbol_groups.h"
#include "runtime/large_allocator.h"
#include "runtime/prefetch.h"

namespace orv {

namespace {

// The distinct byte strings in visit order, as a record of each into `firstRecord` (their ids are
// the positions; it grows in place, without a second block); each record's id into `ids`.
template <typename R>
void DistinctStrings(const VisitOrder& visit, const FlowDataSet& dataSet, LargeVector<R>& ids,
                     LargeArray<R>& firstRecord) {
  StringIdTable<R> table(visit.values());
  // The first distinct strings' bytes, copied together so that comparing with them stays in cache;
  // past kCopiedBytes, strings are compared where the column store holds them.
  constexpr size_t kCopiedBytes = size_t{4} << 20;
  LargeVector<char> copied;
  std::vector<uint32_t> copiedEnds;  // by id (kCopiedBytes fits 32 bits)
  auto bytesOf = [&](R id) -> std::pair<const char*, size_t> {
    if (id < copiedEnds.size()) {
      const size_t begin = id == 0 ? 0 : copiedEnds[id - 1];
      return {copied.data() + begin, copiedEnds[id] - begin};
    }
    return dataSet.ValueAt(firstRecord[id]);
  };
  // Each value hashed once, kAhead records before its search, whose slot then starts loading.
  constexpr size_t kAhead = 16;
  uint64_t hashes[kAhead];
  std::pair<const char*, size_t> values[kAhead];
  size_t queued = 0;
  auto search = [&](uint64_t r, size_t at) {
    auto [value, size] = values[at];
    bool added = false;
    const R id =
        table.Find(hashes[at], value, size, static_cast<R>(firstRecord.size()), &added, bytesOf);
    if (added) {
      if (copiedEnds.size() == firstRecord.size() && copied.size() + size <= kCopiedBytes) {
        copied.insert(copied.end(), value, value + size);
        copiedEnds.push_back(static_cast<uint32_t>(copied.size()));
      }
      firstRecord.push_back(static_cast<R>(r));
    }
    ids[r] = id;
  };
  std::vector<R> pending(kAhead);  // the records of the queued values
  visit.ForEach([&](uint64_t r) {
    const size_t at = queued % kAhead;
    if (queued >= kAhead) {
      search(pending[at], at);
    }
    values[at] = dataSet.ValueAt(r);
    hashes[at] = HashBytes(values[at].first, values[at].second);
    table.Prefetch(hashes[at]);
    pending[at] = static_cast<R>(r);
    ++queued;
    return true;
  });
  for (size_t k = queued > kAhead ? queued - kAhead : 0; k < queued; ++k) {
    search(pending[k % kAhead], k % kAhead);
  }
}

// Without a collation the field orders by bytes, and distinct strings never tie.
bool OrdersByBytes(const LessFunctor& less) {
  return !less.context.collator && less.context.facet == nullptr && !less.context.flag;
}

// The first 8 bytes as a big-endian number, zero padded: it orders as the bytes do.
uint64_t Prefix(const char* value, size_t size) {
  uint64_t w = 0;
  memcpy(&w, value, std::min<size_t>(size, 8));
  return __builtin_bswap64(w);
}

// Ids 0..count-1 ordered by bytes: each id below as many leading bits of its string's prefix as
// fit in one word, the words sorted, and only runs of equal leading bits compared in full.
template <typename R, typename ValueOf>
LargeVector<R> SortByBytes(size_t count, ValueOf valueOf, const LessFunctor& less,
                           bool descending) {
  unsigned idBits = 0;
  while (idBits < 64 && (uint64_t{1} << idBits) < count) {
    ++idBits;
  }
  const uint64_t idMask = idBits == 64 ? ~uint64_t{0} : (uint64_t{1} << idBits) - 1;
  LargeVector<uint64_t> words(count);
  for (size_t id = 0; id < count; ++id) {
    auto [value, size] = valueOf(static_cast<R>(id));
    const uint64_t prefix = Prefix(value, size);
    words[id] = ((descending ? ~prefix : prefix) & ~idMask) | id;
  }
  RadixSort(words, idBits, 64, [](uint64_t word) { return word; });
  auto lessById = [&](uint64_t a, uint64_t b) {
    auto [av, as] = valueOf(static_cast<R>(a & idMask));
    auto [bv, bs] = valueOf(static_cast<R>(b & idMask));
    return less(av, as, bv, bs);
  };
  // A run shares its first `shared` bytes: each member's next 8 bytes are read once, and only
  // members that share those too are compared in full.
  const auto shared = static_cast<size_t>((64 - idBits) / 8);
  std::vector<std::pair<uint64_t, uint64_t>> tied;  // (next bytes, word)
  for (auto run = words.begin(); run != words.end();) {
    auto end = run + 1;
    while (end != words.end() && ((*end ^ *run) & ~idMask) == 0) {
      ++end;
    }
    if (end - run > 1) {
      tied.clear();
      for (auto it = run; it != end; ++it) {
        auto [value, size] = valueOf(static_cast<R>(*it & idMask));
        const uint64_t next = size > shared ? Prefix(value + shared, size - shared) : 0;
        tied.emplace_back(descending ? ~next : next, *it);
      }
      std::sort(tied.begin(), tied.end(), [&](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : lessById(a.second, b.second);
      });
      for (size_t i = 0; i < tied.size(); ++i) {
        run[static_cast<std::ptrdiff_t>(i)] = tied[i].second;
      }
    }
    run = end;
  }
  LargeVector<R> byValue(count);
  for (size_t i = 0; i < count; ++i) {
    byValue[i] = static_cast<R>(words[i] & idMask);
  }
  return byValue;
}

// Ids 0..count-1 in the field's order.
template <typename R, typename ValueOf>
LargeVector<R> SortDistinct(size_t count, ValueOf valueOf, const TypeTraits& field,
                            const LessFunctor& less) {
  if (OrdersByBytes(less)) {
    return SortByBytes<R>(count, valueOf, less, field.sortDirection() == 1);
  }
  LargeVector<R> byValue(count);
  for (size_t id = 0; id < count; ++id) {
    byValue[id] = static_cast<R>(id);
  }
  std::sort(byValue.begin(), byValue.end(), [&](R a, R b) {
    auto [av, as] = valueOf(a);
    auto [bv, bs] = valueOf(b);
    return less(av, as, bv, bs);
  });
  return byValue;
}

}  // namespace

template <typename R>
void GroupStrings(const VisitOrder& visit, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                  uint64_t records) {
  const TypeTraits& field = dataSet.field();
  LargeVector<R> ids(records);  // each record's distinct id
  LargeArray<R> first;          // a record of each distinct string, by id
  DistinctStrings(visit, dataSet, ids, first);
  auto valueOf = [&](R id) { return dataSet.ValueAt(first[id]); };
  const LessFunctor less = field.getLessFunctor(false);
  const LessFunctor equal = field.getEqualFunctor(false);
  const bool byBytes = OrdersByBytes(less);
  LargeVector<R> representatives;
  LargeVector<R> symbolOf;  // by distinct id
  {
    const LargeVector<R> byValue = SortDistinct<R>(first.size(), valueOf, field, less);
    symbolOf.resize(first.size());  // once the sort's scratch is gone
    if (byBytes) {
      representatives.reserve(first.size());  // a symbol each: no second block while growing
    }
    std::pair<const char*, size_t> representative{nullptr, 0};
    constexpr size_t kAhead = 16;  // ids in value order read `first` and `symbolOf` at random
    for (size_t i = 0; i < byValue.size(); ++i) {
      if (i + kAhead < byValue.size()) {
        PrefetchLine(&first[byValue[i + kAhead]]);
        PrefetchLine(&symbolOf[byValue[i + kAhead]]);
      }
      const R id = byValue[i];
      // Ordered by bytes, every distinct string is a symbol: its bytes aren't read again here.
      if (byBytes) {
        representatives.push_back(first[id]);
      } else if (auto value = valueOf(id);
                 representatives.empty() ||
                 !equal(value.first, value.second, representative.first, representative.second)) {
        representatives.push_back(first[id]);
        representative = value;
      }
      symbolOf[id] = static_cast<R>(representatives.size() - 1 + symbols.firstValueIndex);
    }
  }
  // The symbols' bytes, then, read in record order rather than symbol order.
  std::optional<uint64_t> valueBytes;
  if (byBytes) {
    valueBytes = 0;
    for (R id = 0; id < first.size(); ++id) {
      auto [value, size] = valueOf(id);
      *valueBytes += field.GetQvdSymbolSize(value, size);
    }
  }
  first.Free();
  MakeStored(symbols, representatives.size(), records);
  symbols.stored.Visit([&](auto* stored) {
    using S = std::remove_reference_t<decltype(*stored)>;
    constexpr uint64_t kAhead = 16;
    for (uint64_t r = 0; r < records; ++r) {
      if (r + kAhead < records) {
        PrefetchLine(&symbolOf[ids[r + kAhead]]);
      }
      if (dataSet.ValueAt(r).first != nullptr) {
        stored[r] = static_cast<S>(symbolOf[ids[r]]);
      }
    }
  });
  NumberSymbols(dataSet, symbols, std::move(representatives), 0, valueBytes);
}

template void GroupStrings(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint8_t>&, uint64_t);
template void GroupStrings(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint16_t>&,
                           uint64_t);
template void GroupStrings(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint32_t>&,
                           uint64_t);
template void GroupStrings(const VisitOrder&, const FlowDataSet&, FieldSymbols<uint64_t>&,
                           uint64_t);

}  // namespace orv
