#include "qvd/symbol_collector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <unordered_map>

namespace orv {

namespace {

// Sorts the records of a fixed-width column by their values of type T, through (value, record)
// pairs for locality. NaN, which no order places, goes last so that the order stays strict.
template <typename T, typename R, typename Iterator>
void SortByValue(Iterator begin, Iterator end, const FlowDataSet& dataSet, bool descending) {
  std::vector<std::pair<T, R>> keyed;
  keyed.reserve(static_cast<size_t>(end - begin));
  for (Iterator it = begin; it != end; ++it) {
    T v;
    memcpy(&v, dataSet.ValueAt(*it).first, sizeof v);
    keyed.emplace_back(v, *it);
  }
  auto unordered = [](const T& v) {
    if constexpr (std::is_floating_point_v<T>) {
      return std::isnan(v);
    } else {
      (void)v;
      return false;
    }
  };
  auto ascending = [&](const std::pair<T, R>& a, const std::pair<T, R>& b) {
    return !unordered(a.first) && (unordered(b.first) || a.first < b.first);
  };
  auto descendingOrder = [&](const std::pair<T, R>& a, const std::pair<T, R>& b) {
    return !unordered(a.first) && (unordered(b.first) || a.first > b.first);
  };
  if (descending) {
    std::sort(keyed.begin(), keyed.end(), descendingOrder);
  } else {
    std::sort(keyed.begin(), keyed.end(), ascending);
  }
  for (const auto& [value, record] : keyed) {
    *begin++ = record;
  }
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

// Sorts the records of a fixed-width column by value, through the type's stored representation.
template <typename R, typename Iterator>
void SortRecords(Iterator begin, Iterator end, const FlowDataSet& dataSet) {
  const TypeTraits& field = dataSet.field();
  const bool descending = field.sortDirection() == 1;
  const std::string& type = field.typeWord();
  if (type == "int") {
    SortByValue<int32_t, R>(begin, end, dataSet, descending);
  } else if (type == "double") {
    SortByValue<double, R>(begin, end, dataSet, descending);
  } else if (type == "decimal") {
    SortByValue<__int128, R>(begin, end, dataSet, descending);
  } else if (type == "date") {
    SortByValue<uint32_t, R>(begin, end, dataSet, descending);
  } else {
    SortByValue<int64_t, R>(begin, end, dataSet, descending);
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
  SortRecords<R>(valuesBegin, symbols.order.end(), dataSet);
  const LessFunctor equal = field.getEqualFunctor(false);

  // Runs of equal values share a symbol; each record is compared with the first of its run.
  const uint64_t f = symbols.firstValueIndex;
  uint64_t count = 0;
  std::pair<const char*, size_t> representative{nullptr, 0};
  for (uint64_t q = nulls; q < records; ++q) {
    const R r = symbols.order[q];
    auto value = dataSet.ValueAt(r);
    if (count > 0 &&
        equal(value.first, value.second, representative.first, representative.second)) {
      symbols.stored[r] = static_cast<R>(count - 1 + f);
      continue;
    }
    symbols.order[count] = r;
    symbols.stored[r] = static_cast<R>(count + f);
    symbols.symbolBytes += field.GetQvdSymbolSize(value.first, value.second);
    representative = value;
    ++count;
  }
  symbols.symbolCount = count;
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
