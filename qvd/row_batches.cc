// The batched path of the row decoder: the rows of a batch whose every field has its outputs made
// up front, their entries found and loaded field by field, then put together as records.
#include <algorithm>

#include "qvd/row_decoder.h"

namespace orv {

// --- Batches
// -------------------------------------------------------------------------------------- The
// entries of each field for the whole batch are found, checked and their loading started, then the
// records are put together, so that many cache misses are under way at once. A batch with anything
// to report (a bad symbol number, a mark) goes row by row.

template <typename Offset>
bool RowDecoder<Offset>::SetUpBatches() {
  if (!filterSlots_.empty() || recordByteSize_ > 4096 ||
      !std::all_of(slots_.begin(), slots_.end(),
                   [](const Slot& slot) { return slot.outputs != nullptr; })) {
    return false;
  }
  batchEntries_.assign(kBatch * slots_.size(), nullptr);
  columns_.clear();
  for (size_t l = 0; l < layout_.size(); ++l) {
    const size_t k = slotOfLayout_[l];
    columns_.push_back(
        {&batchEntries_[k * kBatch], slots_[k].outputs->stride(), slots_[k].outputs->fixed()});
  }
  return true;
}

// Finds the entries of n rows from `base`; false when a row needs the row-by-row path.
template <typename Offset>
bool RowDecoder<Offset>::FindEntries(const char* base, uint64_t n) {
  for (size_t k = 0; k < slots_.size(); ++k) {
    const Slot& slot = slots_[k];
    const SymbolOutputs& outputs = *slot.outputs;
    const bool nullable = slot.field->nullable();
    const char** column = &batchEntries_[k * kBatch];
    // An entry whose width is not a power of two may end in the next cache line.
    const size_t last = outputs.stride() - 1;
    const bool straddles = outputs.stride() != 0 && (outputs.stride() & last) != 0;
    const char* row = base;
    for (uint64_t r = 0; r < n; ++r, row += recordByteSize_) {
      const int64_t s = slot.bits.SymbolOf(row);
      if (!outputs.Holds(s, nullable)) {
        return false;
      }
      const auto e = static_cast<uint64_t>(s + 1);
      if (!outputs.clean() && outputs.mark(e) != SymbolOutputs::kClean) {
        return false;
      }
      column[r] = outputs.at(e);
      __builtin_prefetch(column[r]);
      if (straddles) {
        __builtin_prefetch(column[r] + last);
      }
    }
  }
  return true;
}

template <typename Offset>
void RowDecoder<Offset>::WriteBatch(uint64_t n, BufferedFileOutput& output) const {
  for (uint64_t r = 0; r < n; ++r) {
    for (const Column& column : columns_) {
      const char* at = column.entries[r];
      if (column.fixed) {
        output.WriteShort(at, column.stride);
      } else {
        output.WriteShort(at + 1, static_cast<uint8_t>(at[0]));
      }
    }
  }
}

#define ORV_ROW_BATCHES(Offset)                                                \
  template bool RowDecoder<Offset>::SetUpBatches();                            \
  template bool RowDecoder<Offset>::FindEntries(const char* base, uint64_t n); \
  template void RowDecoder<Offset>::WriteBatch(uint64_t n, BufferedFileOutput& output) const;
ORV_ROW_BATCHES(uint8_t)
ORV_ROW_BATCHES(uint16_t)
ORV_ROW_BATCHES(uint32_t)
ORV_ROW_BATCHES(uint64_t)
#undef ORV_ROW_BATCHES

}  // namespace orv
