// Chunks of rows whose fields need their descriptors (tables on disk, or too large to convert up
// front), decoded on worker threads: each worker holds a copy of the layout and its own caches,
// takes the rows of its chunk one by one and stops at the first row with anything to report,
// which the calling thread then decodes row by row, as one thread would.
#include "qvd/row_decoder.h"
#include "qvd/symbol_conversion.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

// What the workers' caches of converted symbols may take together; less in low-memory mode.
constexpr uint64_t kWorkerCacheBytes = uint64_t{256} << 20;
constexpr uint64_t kLowMemoryCacheBytes = uint64_t{8} << 20;

}  // namespace

// Workers read the tables side by side: in memory, or through a mapping of the file (a table read
// through a window of its own can't be shared).
template <typename Offset>
bool RowDecoder<Offset>::SharesTables() const {
  return std::all_of(slots_.begin(), slots_.end(),
                     [](const Slot& slot) { return slot.table->sharedReads(); });
}

// A state per worker, made on this thread before the chunks: the layout copied, and a cache for
// each cached slot whose caches fit the budget together.
template <typename Offset>
void RowDecoder<Offset>::PrepareWorkers() {
  const unsigned workers = options_.threads;
  for (unsigned w = 0; w < workers; ++w) {
    auto state = std::make_unique<WorkerState>();
    state->layout = CopyLayout(layout_);
    state->encoded.resize(slots_.size());
    state->pieces.resize(layout_.size());
    state->held.resize(layout_.size());
    for (size_t k = 0; k < slots_.size(); ++k) {
      const uint64_t entries = slots_[k].table->metadata().noOfSymbols + 1;
      const uint64_t budget = options_.lowMemory ? kLowMemoryCacheBytes : kWorkerCacheBytes;
      if (slots_[k].cached && entries * sizeof(Made) * workers <= budget) {
        state->encoded[k].symbols.resize(entries);
        state->encoded[k].bytes.assign(BufferedFileOutput::kSlack, '\0');
      }
    }
    freeStates_.push_back(state.get());
    workerStates_.push_back(std::move(state));
  }
}

template <typename Offset>
void RowDecoder<Offset>::DecodeRowsOf(RowChunk& chunk) const {
  WorkerState* state = nullptr;
  {
    std::lock_guard<std::mutex> lock(statesMutex_);
    state = freeStates_.back();
    freeStates_.pop_back();
  }
  const char* row = chunk.rowsAt;
  const uint64_t ahead = kAhead * recordByteSize_;
  for (; chunk.decoded < chunk.count && chunk.out.buffered().size() < options_.chunkOutputBytes;
       ++chunk.decoded, row += recordByteSize_) {
    if (chunk.decoded + kAhead < chunk.count) {
      PrefetchRow(row + ahead, state->encoded);
    }
    if (!offsetSlots_.empty() && chunk.decoded + 2 * kAhead < chunk.count) {
      PrefetchOffsets(row + 2 * ahead);
    }
    bool pass = true;
    if (!KnownPass(row, pass)) {
      break;
    }
    if (!pass) {
      continue;
    }
    // A page of a mapped file lost meanwhile is reported by DrainChunk, before the chunk is
    // written.
    if (!DecodeWorkerRow(row, *state)) {
      break;
    }
    WriteWorkerRow(*state, chunk.out);
    ++chunk.passed;
  }
  std::lock_guard<std::mutex> lock(statesMutex_);
  freeStates_.push_back(state);
}

// As DecodeRow; false where a row would have something to report.
template <typename Offset>
bool RowDecoder<Offset>::DecodeWorkerRow(const char* row, WorkerState& state) const {
  for (size_t k = 0; k < slots_.size(); ++k) {
    const Slot& slot = slots_[k];
    const int64_t s = slot.bits.SymbolOf(row);
    Piece& piece = state.pieces[slot.layoutIndex];
    if (slot.outputs != nullptr) {
      const SymbolOutputs& outputs = *slot.outputs;
      const auto e = static_cast<uint64_t>(s + 1);
      if (!outputs.Holds(s, slot.field->nullable()) ||
          (!outputs.clean() && outputs.mark(e) != SymbolOutputs::kClean)) {
        return false;
      }
      piece = Piece::Of(outputs, e, state.held[slot.layoutIndex].data());
    } else if (!WorkerPiece(k, s, state)) {
      return false;
    }
  }
  return true;
}

// Slot k's bytes for symbol s, from the worker's cache (made on first use) or its descriptor.
template <typename Offset>
bool RowDecoder<Offset>::WorkerPiece(size_t k, int64_t s, WorkerState& state) const {
  const Slot& slot = slots_[k];
  TypeTraits& field = state.layout[slot.layoutIndex];
  Encoded& e = state.encoded[k];
  Piece& piece = state.pieces[slot.layoutIndex];
  const uint64_t entry = s == -1 ? 0 : static_cast<uint64_t>(s) + 1;
  if (!e.symbols.empty() && (s < -1 || entry >= e.symbols.size())) {
    return false;
  }
  if (!e.symbols.empty() && e.symbols[entry].at != UINT64_MAX) {
    piece = {e.bytes.data() + e.symbols[entry].at, e.symbols[entry].size};
    return true;
  }
  if (!ConvertSymbol(*slot.table, field, s, conversion_) ||
      (conversion_.checkOutput && field.FindOutputErrors())) {
    return false;
  }
  if (e.symbols.empty()) {
    piece.bytes = nullptr;
    return true;
  }
  Made& made = e.symbols[entry];
  const char* at = e.Keep(made, field, conversion_.textOutput, state.capture, state.captured);
  piece = {at, made.size};
  return true;
}

template <typename Offset>
void RowDecoder<Offset>::WriteWorkerRow(WorkerState& state, BufferedFileOutput& output) const {
  for (size_t l = 0; l < layout_.size(); ++l) {
    const Piece& piece = state.pieces[l];
    if (piece.bytes != nullptr) {
      output.WriteSmall(piece.bytes, piece.size);
    } else {
      WriteCurrent(state.layout[l], conversion_.textOutput, output);
    }
  }
}

#define ORV_ROW_WORKERS(Offset)                                                       \
  template bool RowDecoder<Offset>::SharesTables() const;                             \
  template void RowDecoder<Offset>::PrepareWorkers();                                 \
  template void RowDecoder<Offset>::DecodeRowsOf(RowChunk&) const;                    \
  template bool RowDecoder<Offset>::DecodeWorkerRow(const char*, WorkerState&) const; \
  template bool RowDecoder<Offset>::WorkerPiece(size_t, int64_t, WorkerState&) const; \
  template void RowDecoder<Offset>::WriteWorkerRow(WorkerState&, BufferedFileOutput&) const;
ORV_ROW_WORKERS(uint8_t)
ORV_ROW_WORKERS(uint16_t)
ORV_ROW_WORKERS(uint32_t)
ORV_ROW_WORKERS(uint64_t)
#undef ORV_ROW_WORKERS

}  // namespace orv
