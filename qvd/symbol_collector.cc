#include "qvd/symbol_collector.h"

#include <algorithm>

namespace orv {

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

  const LessFunctor less = field.getLessFunctor(false);
  const LessFunctor equal = field.getEqualFunctor(false);
  std::sort(valuesBegin, symbols.order.end(), [&](R a, R b) {
    auto [av, as] = dataSet.ValueAt(a);
    auto [bv, bs] = dataSet.ValueAt(b);
    return less(av, as, bv, bs);
  });

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
