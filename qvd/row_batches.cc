// The batched path of the row decoder: the rows of a batch whose every field has its outputs made
// up front, their entries found and loaded field by field, then put together as records; and the
// same batches decoded on worker threads, a chunk of rows each, written in row order.
#include <algorithm>
#include <cstring>

#include "qvd/row_decoder.h"
#include "qvd/symbol_conversion.h"
#include "runtime/prefetch.h"
#include "runtime/workers.h"

namespace orv {

namespace {

// Outputs larger than this are read at random from memory, not from the caches: their entries
// for a batch are copied out while that table alone is being read.
constexpr uint64_t kStagedOutputs = uint64_t{512} << 10;

// Row r's entry in a batch column: staged, or where it lies.
template <typename Column>
const char* EntryAt(const Column& column, uint64_t r) {
  return column.staged != nullptr ? column.staged + r * column.width : column.entries[r];
}

// A column's entries of n rows put in their records: each row's at `out + at[r]`, which moves past
// them. Entries of W bytes each.
template <size_t W, typename Column>
void PlaceFixed(const Column& column, uint64_t n, uint32_t* at, char* out) {
  if (column.staged != nullptr) {
    for (uint64_t r = 0; r < n; ++r) {
      memcpy(out + at[r], column.staged + r * W, W);
      at[r] += W;
    }
    return;
  }
  for (uint64_t r = 0; r < n; ++r) {
    memcpy(out + at[r], column.entries[r], W);
    at[r] += W;
  }
}

// Every entry, a length byte included, fits the exact copy of a short piece.
static_assert(SymbolOutputs::kMaxWidth + 1 <= 64);

// Entries of another fixed width.
template <typename Column>
void PlaceWidth(const Column& column, uint64_t n, uint32_t* at, char* out) {
  const size_t width = column.width;
  for (uint64_t r = 0; r < n; ++r) {
    BufferedFileOutput::CopyShort(out + at[r], EntryAt(column, r), width);
    at[r] += static_cast<uint32_t>(width);
  }
}

// Entries of a length byte and that many bytes.
template <typename Column>
void PlaceSized(const Column& column, uint64_t n, uint32_t* at, char* out) {
  for (uint64_t r = 0; r < n; ++r) {
    const char* entry = EntryAt(column, r);
    const auto size = static_cast<uint8_t>(entry[0]);
    BufferedFileOutput::CopyShort(out + at[r], entry + 1, size);
    at[r] += size;
  }
}

}  // namespace

// --- Batches -------------------------------------------------------------------------------------
// The entries of each field for the whole batch are found, checked and their loading started, then
// the records are put together, so that many cache misses are under way at once. A batch with
// anything to report (a bad symbol number, a mark) goes row by row.

template <typename Offset>
bool RowDecoder<Offset>::AllOutputs() const {
  return recordByteSize_ <= 4096 && std::all_of(slots_.begin(), slots_.end(), [](const Slot& slot) {
           return slot.outputs != nullptr;
         });
}

template <typename Offset>
void RowDecoder<Offset>::SetUpBatch(Batch& batch) const {
  batch.entries.assign(kBatch * slots_.size(), nullptr);
  batch.columns.clear();
  batch.stagedAt.clear();
  size_t total = 0;
  for (const Slot& slot : slots_) {
    // Borrowed entries are staged too, so that they are read before the batch is checked.
    const SymbolOutputs& outputs = *slot.outputs;
    const bool staged = outputs.borrowed() || outputs.entries() * outputs.stride() > kStagedOutputs;
    batch.stagedAt.push_back(staged ? total : SIZE_MAX);
    total += staged ? kBatch * outputs.width() + SymbolOutputs::kStageSlack : 0;
  }
  batch.staging.assign(total, 0);
  batch.at.assign(kBatch, 0);
  batch.fixedBytes = 0;
  for (size_t l = 0; l < layout_.size(); ++l) {
    const size_t k = slotOfLayout_[l];
    const char* staged =
        batch.stagedAt[k] == SIZE_MAX ? nullptr : &batch.staging[batch.stagedAt[k]];
    batch.columns.push_back({&batch.entries[k * kBatch], staged, slots_[k].outputs->width(),
                             slots_[k].outputs->fixed()});
    batch.fixedBytes += slots_[k].outputs->fixed() ? slots_[k].outputs->width() : 0;
  }
}

// Finds the entries of n rows from `base`; false when a row needs the row-by-row path.
template <typename Offset>
bool RowDecoder<Offset>::FindEntries(const char* base, uint64_t n, Batch& batch) const {
  for (size_t k = 0; k < slots_.size(); ++k) {
    const Slot& slot = slots_[k];
    const SymbolOutputs& outputs = *slot.outputs;
    const bool nullable = slot.field->nullable();
    const char** column = &batch.entries[k * kBatch];
    // Entries a distance apart that is not a power of two may end in the next cache line.
    const size_t last = outputs.span() - 1;
    const bool straddles =
        outputs.stride() != 0 && (outputs.stride() & (outputs.stride() - 1)) != 0;
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
      PrefetchLine(column[r]);
      if (straddles) {
        PrefetchLine(column[r] + last);
      }
    }
    if (batch.stagedAt[k] != SIZE_MAX) {
      outputs.Stage(column, n, &batch.staging[batch.stagedAt[k]]);
    }
  }
  return true;
}

template <typename Offset>
void RowDecoder<Offset>::WriteBatch(uint64_t n, Batch& batch, BufferedFileOutput& output) const {
  uint32_t* at = batch.at.data();
  std::fill_n(at, n, batch.fixedBytes);
  for (const Column& column : batch.columns) {
    if (!column.fixed) {
      for (uint64_t r = 0; r < n; ++r) {
        at[r] += static_cast<uint8_t>(EntryAt(column, r)[0]);
      }
    }
  }
  uint64_t total = 0;
  for (uint64_t r = 0; r < n; ++r) {
    const uint32_t size = at[r];
    at[r] = static_cast<uint32_t>(total);
    total += size;
  }
  char* out = output.Reserve(total);
  if (out == nullptr) {
    WriteRecords(n, batch, output);
    return;
  }
  for (const Column& column : batch.columns) {
    if (!column.fixed) {
      PlaceSized(column, n, at, out);
      continue;
    }
    switch (column.width) {
      case 4:
        PlaceFixed<4>(column, n, at, out);
        break;
      case 8:
        PlaceFixed<8>(column, n, at, out);
        break;
      case 16:
        PlaceFixed<16>(column, n, at, out);
        break;
      default:
        PlaceWidth(column, n, at, out);
        break;
    }
  }
  output.Commit(total);
}

template <typename Offset>
void RowDecoder<Offset>::WriteRecords(uint64_t n, const Batch& batch,
                                      BufferedFileOutput& output) const {
  for (uint64_t r = 0; r < n; ++r) {
    for (const Column& column : batch.columns) {
      const char* at = EntryAt(column, r);
      if (column.fixed) {
        output.WriteShort(at, column.width);
      } else {
        output.WriteShort(at + 1, static_cast<uint8_t>(at[0]));
      }
    }
  }
}

// --- Chunks --------------------------------------------------------------------------------------
// The calling thread copies whole chunks of rows from the input and writes their bytes in order;
// the workers decode them (with one thread, the calling thread). A chunk stops at its first batch
// with anything to report, and its other rows take the row-by-row path on the calling thread, where
// messages are written, so the output and the log are those of one thread. So do the rows after
// `chunkOutputBytes` of output, which then go out as they are decoded.

template <typename Offset>
bool RowDecoder<Offset>::CanChunk() const {
  if (!options_.chunked || recordByteSize_ == 0 || recordByteSize_ > 4096 || rows_.gathered()) {
    return false;
  }
  if (!AllOutputs()) {
    return SharesTables();
  }
  // A batch is written whole: where one could pass a chunk's output bound (thousands of fields),
  // the rows go the sequential way, through the output's own buffer.
  uint64_t mostBytes = 0;
  for (const Slot& slot : slots_) {
    mostBytes += slot.outputs->width();
  }
  return kBatch * mostBytes <= options_.chunkOutputBytes;
}

// Every symbol of the filters' fields decided up front, so that the workers only look decisions
// up. A symbol that can't be converted stays undecided: a row that names it goes row by row, where
// it is reported.
template <typename Offset>
void RowDecoder<Offset>::DecideFilters() {
  for (const FilterSlot& filter : filterSlots_) {
    const Slot& slot = slots_[filter.slot];
    const auto symbols = static_cast<int64_t>(slot.table->metadata().noOfSymbols);
    for (int64_t s = slot.field->nullable() ? -1 : 0; s < symbols; ++s) {
      if (ConvertSymbol(*slot.table, *slot.field, s, conversion_)) {
        filter.filter->Decide(s, *slot.field);
      }
    }
  }
}

// The filters' decisions for the row, all made up front; false when one isn't.
template <typename Offset>
bool RowDecoder<Offset>::KnownPass(const char* row, bool& pass) const {
  for (const FilterSlot& filter : filterSlots_) {
    const int known = filter.filter->Known(slots_[filter.slot].bits.SymbolOf(row));
    if (known < 0) {
      return false;
    }
    if (known == 0) {
      pass = false;
      return true;
    }
  }
  pass = true;
  return true;
}

template <typename Offset>
bool RowDecoder<Offset>::FilterBatch(const char* base, uint64_t n, std::vector<char>& passing,
                                     uint64_t& passed) const {
  passed = 0;
  const char* row = base;
  for (uint64_t r = 0; r < n; ++r, row += recordByteSize_) {
    bool pass = true;
    if (!KnownPass(row, pass)) {
      return false;
    }
    if (pass) {
      std::copy_n(row, recordByteSize_, passing.begin() + passed++ * recordByteSize_);
    }
  }
  return true;
}

template <typename Offset>
Status RowDecoder<Offset>::ReadChunks(IFileInput& input, BufferedFileOutput& output,
                                      IntervalStats& stats, uint64_t& i) {
  TaskPool pool(options_.threads, true);
  if (!AllOutputs()) {
    PrepareWorkers();
  }
  Status status;
  const char* kept = input.BufferPos();
  RunOrdered<RowChunk>(
      pool, 2 * size_t{pool.threads()}, [&](RowChunk& chunk) { return FillChunk(input, i, chunk); },
      [this](RowChunk& chunk) { DecodeChunk(chunk); },
      [&](RowChunk& chunk) {
        status = DrainChunk(chunk, input, kept, output, stats);
        return status.ok() && !output.failed();
      });
  return status;
}

// The next whole chunk; false once fewer rows are left than a chunk holds, or the input holds
// fewer bytes than they need (the sequential path says where). A mapped file's rows are read from
// the file into the chunk by the thread that decodes them (DecodeChunk), so that they arrive in its
// cache and this thread only hands out chunks: a page touched for the first time through a mapping
// costs several times what reading its bytes does on some virtual machines, and threads that share
// a mapping contend for its page tables and stop each other's cores each time its pages go back.
// Other pinned inputs' rows are read where they lie, with 8 more bytes readable after them; the
// rest are copied, with 8 zero bytes after them.
template <typename Offset>
bool RowDecoder<Offset>::FillChunk(IFileInput& input, uint64_t& i, RowChunk& chunk) const {
  const uint64_t batches = std::clamp<uint64_t>(kChunkBytes / (kBatch * recordByteSize_), 1,
                                                std::max<uint64_t>(options_.chunkBatches, 1));
  const uint64_t count = kBatch * batches;
  if (setup_.table->noOfRecords - i < count) {
    return false;
  }
  const auto bytes = static_cast<size_t>(count * recordByteSize_);
  chunk.copyFrom = nullptr;
  if (input.Pinned() && input.Ensure(bytes + 8)) {
    chunk.rowsAt = input.BufferPos();
    chunk.copyFrom = &input;
  } else if (input.Ensure(bytes)) {
    chunk.rows.resize(bytes + 8);
    std::copy_n(input.BufferPos(), bytes, chunk.rows.begin());
    std::fill_n(chunk.rows.begin() + static_cast<std::ptrdiff_t>(bytes), 8, 0);
    chunk.rowsAt = chunk.rows.data();
  } else {
    return false;
  }
  input.Advance(bytes);
  chunk.inputEnd = input.BufferPos();
  chunk.first = i;
  chunk.count = count;
  i += count;
  return true;
}

template <typename Offset>
void RowDecoder<Offset>::DecodeChunk(RowChunk& chunk) const {
  if (chunk.copyFrom != nullptr) {
    const size_t bytes = static_cast<size_t>(chunk.count * recordByteSize_) + 8;
    chunk.rows.resize(bytes);
    if (chunk.copyFrom->CopyOut(chunk.rowsAt, bytes, chunk.rows.data())) {
      chunk.rowsAt = chunk.rows.data();
    }
    chunk.copyFrom = nullptr;
  }
  chunk.decoded = 0;
  chunk.passed = 0;
  chunk.out.Discard();
  if (AllOutputs()) {
    DecodeBatches(chunk);
  } else {
    DecodeRowsOf(chunk);
  }
}

template <typename Offset>
void RowDecoder<Offset>::DecodeBatches(RowChunk& chunk) const {
  if (chunk.batch.entries.empty()) {
    SetUpBatch(chunk.batch);
  }
  if (!filterSlots_.empty()) {
    chunk.passing.assign(kBatch * recordByteSize_ + 8, 0);
  }
  while (chunk.decoded < chunk.count && chunk.out.buffered().size() < options_.chunkOutputBytes) {
    const char* base = chunk.rowsAt + chunk.decoded * recordByteSize_;
    uint64_t n = kBatch;
    if (!filterSlots_.empty()) {
      if (!FilterBatch(base, kBatch, chunk.passing, n)) {
        break;
      }
      base = chunk.passing.data();
    }
    if (!FindEntries(base, n, chunk.batch)) {
      break;
    }
    WriteBatch(n, chunk.batch, chunk.out);
    chunk.decoded += kBatch;
    chunk.passed += n;
  }
}

template <typename Offset>
Status RowDecoder<Offset>::DrainChunk(RowChunk& chunk, IFileInput& input, const char*& kept,
                                      BufferedFileOutput& output, IntervalStats& stats) {
  if (watchLost_ && FileMapping::AnyLost()) {
    return LostTable();  // the chunk's rows may have been read as zeros
  }
  output.Write(chunk.out.buffered());
  chunk.out.Discard();
  written_ += chunk.passed;
  record_ = chunk.first + chunk.decoded;
  stats.Tick(chunk.decoded);
  if (chunk.decoded == chunk.count) {
    input.DiscardBefore(kept, chunk.inputEnd);  // no worker reads these rows any more
  }
  if (chunk.decoded == chunk.count || output.failed()) {
    return Status::Ok();
  }
  const uint64_t from = chunk.decoded * recordByteSize_;
  MemoryInput rest(chunk.rowsAt + from, (chunk.count - chunk.decoded) * recordByteSize_);
  uint64_t i = chunk.first + chunk.decoded;
  return ReadSequential(rest, output, stats, i, chunk.first + chunk.count, false);
}

#define ORV_ROW_BATCHES(Offset)                                                                    \
  template bool RowDecoder<Offset>::AllOutputs() const;                                            \
  template bool RowDecoder<Offset>::CanChunk() const;                                              \
  template void RowDecoder<Offset>::DecideFilters();                                               \
  template bool RowDecoder<Offset>::KnownPass(const char*, bool&) const;                           \
  template bool RowDecoder<Offset>::FilterBatch(const char*, uint64_t, std::vector<char>&,         \
                                                uint64_t&) const;                                  \
  template void RowDecoder<Offset>::SetUpBatch(Batch&) const;                                      \
  template bool RowDecoder<Offset>::FindEntries(const char*, uint64_t, Batch&) const;              \
  template void RowDecoder<Offset>::WriteBatch(uint64_t, Batch&, BufferedFileOutput&) const;       \
  template void RowDecoder<Offset>::WriteRecords(uint64_t, const Batch&, BufferedFileOutput&)      \
      const;                                                                                       \
  template Status RowDecoder<Offset>::ReadChunks(IFileInput&, BufferedFileOutput&, IntervalStats&, \
                                                 uint64_t&);                                       \
  template bool RowDecoder<Offset>::FillChunk(IFileInput&, uint64_t&, RowChunk&) const;            \
  template void RowDecoder<Offset>::DecodeChunk(RowChunk&) const;                                  \
  template void RowDecoder<Offset>::DecodeBatches(RowChunk&) const;                                \
  template Status RowDecoder<Offset>::DrainChunk(RowChunk&, IFileInput&, const char*&,             \
                                                 BufferedFileOutput&, IntervalStats&);
ORV_ROW_BATCHES(uint8_t)
ORV_ROW_BATCHES(uint16_t)
ORV_ROW_BATCHES(uint32_t)
ORV_ROW_BATCHES(uint64_t)
#undef ORV_ROW_BATCHES

}  // namespace orv
