#include "qvd/symbol_conversion.h"

#include <cstring>

namespace orv {

template <typename Offset>
std::unique_ptr<SymbolOutputs> MakeSymbolOutputs(SymbolTable<Offset>& table, TypeTraits& field,
                                                 const SymbolConversion& conversion) {
  const uint64_t n = table.metadata().noOfSymbols;
  // Beyond three times the table's own bytes, memory matters more than the time saved.
  constexpr uint64_t kRoom = uint64_t{64} << 20;
  const uint64_t length = table.length();
  auto outputs = std::make_unique<SymbolOutputs>(
      n + 1, length > (UINT64_MAX - kRoom) / 3 ? UINT64_MAX : 3 * length + kRoom);
  std::string spilled;  // only a piece longer than the capture's buffer ends up here
  BufferedFileOutput capture(&spilled);
  for (uint64_t e = 0; e <= n; ++e) {
    const int64_t s = static_cast<int64_t>(e) - 1;
    SymbolOutputs::Mark mark = SymbolOutputs::kClean;
    capture.Discard();
    if (s == -1 && !field.nullable()) {
      outputs->AppendUnused();  // nulls need a nullable field, and the rows check that
      continue;
    }
    if (!ConvertSymbol(table, field, s, conversion)) {
      mark = SymbolOutputs::kUnreadable;
    } else {
      if (conversion.checkOutput && field.FindOutputErrors()) {
        mark = SymbolOutputs::kBreaksText;
      }
      WriteCurrent(field, conversion.textOutput, capture);
    }
    if (!spilled.empty() || !outputs->Append(capture.buffered(), mark)) {
      return nullptr;
    }
  }
  capture.Discard();
  return outputs;
}

#define ORV_SYMBOL_CONVERSION(Offset)                                                          \
  template std::unique_ptr<SymbolOutputs> MakeSymbolOutputs(SymbolTable<Offset>&, TypeTraits&, \
                                                            const SymbolConversion&);
ORV_SYMBOL_CONVERSION(uint8_t)
ORV_SYMBOL_CONVERSION(uint16_t)
ORV_SYMBOL_CONVERSION(uint32_t)
ORV_SYMBOL_CONVERSION(uint64_t)
#undef ORV_SYMBOL_CONVERSION

}  // namespace orv
