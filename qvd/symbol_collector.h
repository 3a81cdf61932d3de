// A column's distinct values as QVD symbols in ascending order, and each record's stored index
// value. Nulls come first whatever the field's direction: they are either no symbol at all (stored
// 0 under Bias -2, first value index 2) or the one null-text symbol 0 (first value index 1).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvd/stored_indexes.h"
#include "runtime/large_allocator.h"
#include "runtime/workers.h"
#include "types/flow_data_set.h"

namespace orv {

// R is the record-number width: the narrowest unsigned type that holds every record number.
template <typename R>
struct FieldSymbols {
  FlowDataSet* dataSet = nullptr;
  std::optional<std::string> nullSymbol;
  // symbolCount entries: a record holding each symbol; empty where the collector made the column
  // store the symbols' values, in symbol order (RecordOf).
  LargeVector<R> order;
  StoredIndexes stored;  // stored index value by record number
  uint8_t firstValueIndex = 0;
  uint64_t symbolCount = 0;
  uint64_t symbolBytes = 0;  // the symbol table's byte size, null symbol included

  // The record that holds symbol k (0 for the first value symbol).
  uint64_t RecordOf(uint64_t k) const { return order.empty() ? k : order[k]; }
};

// The symbols of the first `records` values of `dataSet`. Free workers of `pool`, where there is
// one, help with the records of a column of many distinct fixed-width values; the result is the
// same with or without them.
template <typename R>
FieldSymbols<R> CollectSymbols(FlowDataSet& dataSet, uint64_t records,
                               const std::optional<std::string>& nullText,
                               TaskPool* pool = nullptr);

}  // namespace orv
