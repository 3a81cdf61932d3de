#include "qvd/symbol_collector.h"

#include <algorithm>

#include "qvd/symbol_groups.h"

namespace orv {

template <typename R>
void MakeStored(FieldSymbols<R>& symbols, uint64_t symbolCount, uint64_t records) {
  symbols.stored =
      StoredIndexes(records, std::max<uint64_t>(symbolCount, 1) - 1 + symbols.firstValueIndex);
}

template <typename R>
void NumberSymbols(const FlowDataSet& dataSet, FieldSymbols<R>& symbols, LargeVector<R> order,
                   uint64_t count, std::optional<uint64_t> valueBytes) {
  const TypeTraits& field = dataSet.field();
  symbols.order = std::move(order);
  ReleaseRoom(symbols.order);  // kept until the file is written
  symbols.symbolCount = symbols.order.empty() ? count : symbols.order.size();
  if (valueBytes) {
    symbols.symbolBytes += *valueBytes;
  } else if (const size_t uniform = field.UniformQvdSymbolSize(); uniform != 0) {
    symbols.symbolBytes += uniform * symbols.symbolCount;
  } else {
    for (uint64_t k = 0; k < symbols.symbolCount; ++k) {
      auto [value, size] = dataSet.ValueAt(symbols.RecordOf(k));
      symbols.symbolBytes += field.GetQvdSymbolSize(value, size);
    }
  }
}

template <typename R>
FieldSymbols<R> CollectSymbols(FlowDataSet& dataSet, uint64_t records,
                               const std::optional<std::string>& nullText, TaskPool* pool) {
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
    CollectFixed(visit, dataSet, symbols, records, pool);
  }
  symbols.stored.ReleaseRoom();
  return symbols;
}

#define ORV_COLLECT_SYMBOLS(R)                                                                \
  template void MakeStored(FieldSymbols<R>&, uint64_t, uint64_t);                             \
  template void NumberSymbols(const FlowDataSet&, FieldSymbols<R>&, LargeVector<R>, uint64_t, \
                              std::optional<uint64_t>);                                       \
  template FieldSymbols<R> CollectSymbols(FlowDataSet&, uint64_t,                             \
                                          const std::optional<std::string>&, TaskPool*);
ORV_COLLECT_SYMBOLS(uint8_t)
ORV_COLLECT_SYMBOLS(uint16_t)
ORV_COLLECT_SYMBOLS(uint32_t)
ORV_COLLECT_SYMBOLS(uint64_t)
#undef ORV_COLLECT_SYMBOLS

}  // namespace orv
