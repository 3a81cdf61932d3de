#include "qvd/row_decoder.h"

#include <algorithm>

#include "qvd/symbol_conversion.h"
#include "runtime/logger.h"
#include "runtime/prefetch.h"
#include "runtime/workers.h"

namespace orv {

namespace {

SymbolConversion ForRows(SymbolConversion conversion, uint64_t rows) {
  conversion.rows = rows;
  return conversion;
}

}  // namespace

template <typename Offset>
RowDecoder<Offset>::RowDecoder(const DecoderSetup& setup)
    : setup_(setup),
      layout_(*setup.layout),
      options_(*setup.options),
      fields_(*setup.fields),
      rows_(*setup.table, *setup.fields),
      recordByteSize_(setup.table->recordByteSize),
      skipRows_(std::min(setup.options->firstRecord, setup.table->noOfRecords)),
      rowsToRead_(setup.table->noOfRecords - skipRows_),
      conversion_(ForRows(setup.options->conversion, rowsToRead_)),
      tables_(setup.fields->size()),
      outputs_(setup.fields->size()),
      settled_(setup.fields->size()),
      notes_(setup.fields->size()),
      slotOfLayout_(setup.layout->size()),
      pieces_(setup.layout->size()),
      held_(setup.layout->size()),
      rowCopy_(
          static_cast<size_t>(rows_.gathered() ? rows_.gatheredBytes() : rows_.usedBytes()) + 8, 0),
      reported_(setup.layout->size()) {}

// --- Slots ---------------------------------------------------------------------------------------

template <typename Offset>
void RowDecoder<Offset>::BuildSlots() {
  for (size_t j : rows_.order()) {
    const std::optional<size_t> l = (*setup_.binding)[j];
    if (!l) {
      continue;
    }
    const QvdFieldMetadata& field = fields_[j];
    const bool cached =
        !outputs_[j] && field.noOfSymbols <= std::max<uint64_t>(1024, rowsToRead_ / 4);
    for (const auto& [filterField, filter] : *setup_.filters) {
      if (filterField == j) {
        filterSlots_.push_back({slots_.size(), filter});
      }
    }
    slotOfLayout_[*l] = slots_.size();
    BitSlot bits = BitSlot::Of(field, layout_[*l].nullable());
    if (bits.mask != 0) {
      bits.byteOffset = rows_.DecoderOffset(bits.byteOffset);
    }
    if (!outputs_[j] && tables_[j]->hasOffsets()) {
      offsetSlots_.push_back(slots_.size());
    }
    slots_.push_back({bits, *l, &layout_[*l], tables_[j].get(), outputs_[j].get(), cached});
  }
  encoded_.resize(slots_.size());
  for (size_t k = 0; k < slots_.size(); ++k) {
    if (slots_[k].cached) {
      encoded_[k].symbols.resize(slots_[k].table->metadata().noOfSymbols + 1);
      encoded_[k].bytes.assign(BufferedFileOutput::kSlack, '\0');
    }
  }
}

// --- Rows ----------------------------------------------------------------------------------------

template <typename Offset>
Status RowDecoder<Offset>::ReadRows(IFileInput& input, BufferedFileOutput& output,
                                    IntervalStats& stats) {
  for (const FilterSlot& filter : filterSlots_) {
    filter.filter->Reset(slots_[filter.slot].table->metadata().noOfSymbols);
  }
  const bool batched = CanBatch();
  if (batched) {
    SetUpBatch(batch_);
  }
  uint64_t i = skipRows_;
  if (CanChunk()) {
    DecideFilters();
    ORV_RETURN_IF_ERROR(ReadChunks(input, output, stats, i));
    if (output.failed()) {
      return Status::Ok();
    }
  }
  return ReadSequential(input, output, stats, i, setup_.table->noOfRecords, batched);
}

template <typename Offset>
Status RowDecoder<Offset>::ReadSequential(IFileInput& input, BufferedFileOutput& output,
                                          IntervalStats& stats, uint64_t& i, uint64_t end,
                                          bool batched) {
  uint64_t rowByRowUntil = 0;  // rows before it take the row-by-row path
  const char* kept = input.BufferPos();
  for (; i < end; ++i) {
    input.DiscardConsumed(kept);
    if (batched && i >= rowByRowUntil) {
      const uint64_t n = std::min(kBatch, end - i);
      const auto bytes = static_cast<size_t>(n * recordByteSize_);
      if (!input.Ensure(bytes + 8)) {
        batched = false;  // the input ends early: the rows below say where
      } else if (!FindEntries(input.BufferPos(), n, batch_)) {
        rowByRowUntil = i + n;
      } else if (watchLost_ && FileMapping::AnyLost()) {
        return LostTable();
      } else {
        WriteBatch(n, batch_, output);
        input.Advance(bytes);
        i += n - 1;
        record_ = i + 1;
        written_ += n;
        stats.Tick(n);
        if (output.failed()) {
          break;
        }
        continue;
      }
    }
    const char* row = nullptr;
    ORV_RETURN_IF_ERROR(NextRow(input, row));
    record_ = i + 1;
    PrefetchAhead(input);
    if (!filterSlots_.empty()) {
      bool pass = false;
      ORV_RETURN_IF_ERROR(Passes(row, pass));
      if (!pass) {
        stats.Tick();
        if (recordByteSize_ == 0) {
          break;  // rows of no bytes are all the same row: none passes
        }
        continue;
      }
    }
    ORV_RETURN_IF_ERROR(DecodeRow(row));
    if (watchLost_ && FileMapping::AnyLost()) {
      return LostTable();
    }
    WriteRow(output);
    ++written_;
    stats.Tick();
    if (output.failed()) {
      break;  // the output is gone: stop decoding, the flush reports it
    }
  }
  return Status::Ok();
}

// The next row's used bytes, from the input's buffer or, near the end of the input, copied with
// 8 zero bytes after them; then the rest of the row is skipped.
template <typename Offset>
Status RowDecoder<Offset>::NextRow(IFileInput& input, const char*& row) {
  if (rows_.gathered()) {
    return NextGatheredRow(input, row);
  }
  const uint64_t used = rows_.usedBytes();
  if (input.Ensure(used + 8)) {
    row = input.BufferPos();
    input.Advance(used);
  } else {
    size_t got = 0;
    char c = 0;
    while (got < used && input.ReadByte(c) == kInputOk) {
      rowCopy_[got++] = c;
    }
    if (got < used) {
      return Status::Damaged("Error reading field data: '" + rows_.FirstBeyond(got).fieldName +
                             "'.");
    }
    std::fill(rowCopy_.begin() + static_cast<std::ptrdiff_t>(used), rowCopy_.end(), 0);
    row = rowCopy_.data();
  }
  if (rows_.tailBytes() > 0 && input.Skip(rows_.tailBytes()) != kInputOk) {
    return Status::Damaged("Error reading field data: '" + rows_.last().fieldName + "'.");
  }
  return Status::Ok();
}

// A row's runs of used bytes, read one after the other with the gaps skipped.
template <typename Offset>
Status RowDecoder<Offset>::NextGatheredRow(IFileInput& input, const char*& row) {
  uint64_t at = 0;  // bytes of the row consumed
  for (const RowSegment& segment : rows_.segments()) {
    const uint64_t gap = segment.rowOffset - at;
    if ((gap > 0 && input.Skip(gap) != kInputOk) ||
        input.Read(rowCopy_.data() + segment.gatheredOffset, segment.length) != kInputOk) {
      // Name the first field whose bits lie beyond what the input surely had.
      return Status::Damaged("Error reading field data: '" +
                             rows_.FirstBeyond(segment.rowOffset).fieldName + "'.");
    }
    at = segment.rowOffset + segment.length;
  }
  if (recordByteSize_ > at && input.Skip(recordByteSize_ - at) != kInputOk) {
    return Status::Damaged("Error reading field data: '" + rows_.last().fieldName + "'.");
  }
  row = rowCopy_.data();
  return Status::Ok();
}

// Rows name their symbols in any order: the symbols of a row a few rows ahead start loading, so
// that their cache misses overlap with this row's work.
template <typename Offset>
void RowDecoder<Offset>::PrefetchAhead(const IFileInput& input) const {
  if (rows_.gathered()) {
    return;
  }
  const uint64_t ahead = rows_.tailBytes() + (kAhead - 1) * recordByteSize_;
  const auto left = static_cast<uint64_t>(input.BufferEnd() - input.BufferPos());
  if (left >= ahead + rows_.usedBytes() + 8) {
    PrefetchRow(input.BufferPos() + ahead, encoded_);
  }
  const uint64_t far = ahead + kAhead * recordByteSize_;
  if (!offsetSlots_.empty() && left >= far + rows_.usedBytes() + 8) {
    PrefetchOffsets(input.BufferPos() + far);
  }
}

template <typename Offset>
void RowDecoder<Offset>::PrefetchRow(const char* row, const std::vector<Encoded>& encoded) const {
  for (size_t k = 0; k < slots_.size(); ++k) {
    const Slot& slot = slots_[k];
    const int64_t s = slot.bits.SymbolOf(row);
    if (s < 0) {
      continue;
    }
    const auto n = static_cast<uint64_t>(s);
    if (slot.outputs != nullptr) {
      if (n + 1 < slot.outputs->entries()) {
        PrefetchLine(slot.outputs->at(n + 1));
      }
    } else if (n + 1 < encoded[k].symbols.size()) {
      PrefetchLine(&encoded[k].symbols[n + 1]);
    } else {
      slot.table->PrefetchBytes(n);
    }
  }
}

template <typename Offset>
void RowDecoder<Offset>::PrefetchOffsets(const char* row) const {
  for (const size_t k : offsetSlots_) {
    const int64_t s = slots_[k].bits.SymbolOf(row);
    if (s >= 0) {
      slots_[k].table->Prefetch(static_cast<uint64_t>(s));
    }
  }
}

template <typename Offset>
bool RowDecoder<Offset>::IsFilterField(size_t j) const {
  return std::any_of(setup_.filters->begin(), setup_.filters->end(),
                     [j](const auto& filter) { return filter.first == j; });
}

template <typename Offset>
Status RowDecoder<Offset>::Passes(const char* row, bool& pass) {
  for (const FilterSlot& filter : filterSlots_) {
    ORV_RETURN_IF_ERROR(PassesFilter(filter, slots_[filter.slot].bits.SymbolOf(row), pass));
    if (!pass) {
      break;
    }
  }
  return Status::Ok();
}

template <typename Offset>
Status RowDecoder<Offset>::PassesFilter(const FilterSlot& filter, int64_t s, bool& pass) {
  const int known = filter.filter->Known(s);
  if (known >= 0) {
    pass = known == 1;
    return Status::Ok();
  }
  const Slot& slot = slots_[filter.slot];
  ORV_RETURN_IF_ERROR(Convert(slot, s));
  pass = filter.filter->Decide(s, *slot.field);
  return Status::Ok();
}

// Decodes in bit order, so that the first field to fail is the first in the row.
template <typename Offset>
Status RowDecoder<Offset>::DecodeRow(const char* row) {
  for (size_t k = 0; k < slots_.size(); ++k) {
    const Slot& slot = slots_[k];
    const int64_t s = slot.bits.SymbolOf(row);
    Piece& piece = pieces_[slot.layoutIndex];
    if (slot.outputs != nullptr) {
      ORV_RETURN_IF_ERROR(PieceFromOutputs(slot, s, piece));
    } else if (slot.cached) {
      ORV_RETURN_IF_ERROR(PieceFromCache(k, s, piece));
    } else {
      ORV_RETURN_IF_ERROR(Convert(slot, s));
      CheckValue(slot.layoutIndex);
      piece.bytes = nullptr;
    }
  }
  return Status::Ok();
}

template <typename Offset>
Status RowDecoder<Offset>::PieceFromOutputs(const Slot& slot, int64_t s, Piece& piece) {
  const SymbolOutputs& outputs = *slot.outputs;
  if (!outputs.Holds(s, slot.field->nullable())) {
    return FieldFailure(*slot.field);
  }
  const auto e = static_cast<uint64_t>(s + 1);
  if (!outputs.clean() && outputs.mark(e) != SymbolOutputs::kClean) {
    if (outputs.mark(e) == SymbolOutputs::kUnreadable) {
      return FieldFailure(*slot.field);
    }
    WarnOutput(slot.layoutIndex);
  }
  piece = Piece::Of(outputs, e, held_[slot.layoutIndex].data());
  return Status::Ok();
}

// The bytes of symbol s for cached slot k, made on first use.
template <typename Offset>
Status RowDecoder<Offset>::PieceFromCache(size_t k, int64_t s, Piece& piece) {
  Encoded& e = encoded_[k];
  const uint64_t entry = s == -1 ? 0 : static_cast<uint64_t>(s) + 1;
  if (s < -1 || entry >= e.symbols.size()) {
    return FieldFailure(*slots_[k].field);
  }
  Made& made = e.symbols[entry];
  if (made.at == UINT64_MAX) {
    ORV_RETURN_IF_ERROR(Convert(slots_[k], s));
    CheckValue(slots_[k].layoutIndex);
    e.Keep(made, *slots_[k].field, conversion_.textOutput, capture_, captured_);
  }
  piece = {e.bytes.data() + made.at, made.size};
  return Status::Ok();
}

template <typename Offset>
void RowDecoder<Offset>::WriteRow(BufferedFileOutput& output) const {
  for (size_t l = 0; l < layout_.size(); ++l) {
    const Piece& piece = pieces_[l];
    if (piece.bytes != nullptr) {
      output.WriteSmall(piece.bytes, piece.size);
    } else {
      WriteCurrent(layout_[l], conversion_.textOutput, output);
    }
  }
}

// --- Reporting -----------------------------------------------------------------------------------

template <typename Offset>
Status RowDecoder<Offset>::Convert(const Slot& slot, int64_t s) {
  if (!ConvertSymbol(*slot.table, *slot.field, s, conversion_)) {
    return watchLost_ && FileMapping::AnyLost() ? LostTable() : FieldFailure(*slot.field);
  }
  return Status::Ok();
}

template <typename Offset>
Status RowDecoder<Offset>::FieldFailure(const TypeTraits& field) const {
  return Status::Invalid("Field reading failed: '" + field.GetFullName() + "' (record no. " +
                         std::to_string(record_) + ").");
}

// The mapped file shrank: what was read of it since is zeros.
template <typename Offset>
Status RowDecoder<Offset>::LostTable() const {
  for (const Slot& slot : slots_) {
    if (slot.table->lost()) {
      return Status::IoError("Error reading symbol table of field '" +
                             slot.table->metadata().fieldName + "'.");
    }
  }
  return Status::IoError("Error reading input.");
}

template <typename Offset>
void RowDecoder<Offset>::WarnOutput(size_t layoutIndex) {
  if (!reported_[layoutIndex]) {
    reported_[layoutIndex] = true;
    g_Logger.Warning(
        "Value of field '%s' contains its separator or the record separator and can't be read "
        "back (record no. %lu).",
        layout_[layoutIndex].GetFullName().c_str(), static_cast<unsigned long>(record_));
  }
}

template <typename Offset>
void RowDecoder<Offset>::CheckValue(size_t layoutIndex) {
  if (conversion_.checkOutput && !reported_[layoutIndex] &&
      layout_[layoutIndex].FindOutputErrors()) {
    WarnOutput(layoutIndex);
  }
}

template class RowDecoder<uint8_t>;
template class RowDecoder<uint16_t>;
template class RowDecoder<uint32_t>;
template class RowDecoder<uint64_t>;

}  // namespace orv
