// The ways symbol collection groups a column's values, shared by the collector's files.
#pragma once

#include <cstdint>
#include <optional>

#include "qvd/symbol_collector.h"
#include "qvd/visit_order.h"

namespace orv {

// Strings: distinct byte strings found by hashing, then ordered with the field's less functor.
template <typename R>
void GroupStrings(const VisitOrder& visit, const FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                  uint64_t records);

// Fixed-width values: order keys found by hashing when few, by radix sorting when many (the
// pool's free workers, where there is one, helping with the records).
template <typename R>
void CollectFixed(const VisitOrder& visit, FlowDataSet& dataSet, FieldSymbols<R>& symbols,
                  uint64_t records, TaskPool* pool);

// Room for each record's stored index value, for `symbolCount` symbols.
template <typename R>
void MakeStored(FieldSymbols<R>& symbols, uint64_t symbolCount, uint64_t records);

// Sets order (a record of each symbol, in symbol order; empty where record k holds symbol k of
// `count`), symbolCount and symbolBytes (adding `valueBytes`, the symbols' bytes where the caller
// summed them, else summing them here).
template <typename R>
void NumberSymbols(const FlowDataSet& dataSet, FieldSymbols<R>& symbols, LargeVector<R> order,
                   uint64_t count = 0, std::optional<uint64_t> valueBytes = std::nullopt);

}  // namespace orv
