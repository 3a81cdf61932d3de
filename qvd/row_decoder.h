// The row loop of the table reader, for one width of symbol offsets. Each bound field of a row
// (a slot) gets its output bytes one of three ways: from its symbol outputs, made up front; from
// a cache of the symbols the rows have named so far, when the field repeats its symbols enough to
// pay; or from its descriptor in each row.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qvd/field_binding.h"
#include "qvd/filter.h"
#include "qvd/row_layout.h"
#include "qvd/symbol_conversion.h"
#include "qvd/symbol_outputs.h"
#include "qvd/symbol_table.h"
#include "qvd/table_reader.h"
#include "runtime/workers.h"

namespace orv {

// What the reader has settled before the rows: the header, the binding and the filter.
struct DecoderSetup {
  TypeTraitsCollection* layout;
  const TableReadOptions* options;
  const QvdTableMetadata* table;
  const std::vector<QvdFieldMetadata>* fields;
  const FieldBinding* binding;
  const std::vector<std::pair<size_t, RowFilter*>>* filters;  // QVD field and filter
};

template <typename Offset>
class RowDecoder final : public RowDecoderBase {
 public:
  explicit RowDecoder(const DecoderSetup& setup);

  // The symbol tables front to back in header order, then the skip to the first wanted row.
  Status LoadTables(IFileInput& input) override;
  Status ReadRows(IFileInput& input, BufferedFileOutput& output, IntervalStats& stats) override;
  uint64_t writtenRecords() const override { return written_; }

 private:
  // Rows per batch: enough cache misses under way at once, few enough to stay in cache.
  static constexpr uint64_t kBatch = 256;
  // A chunk given to a worker: up to `chunkBatches` batches (32: enough work to pay for the
  // hand-over) and up to 1 MiB of rows (at least a batch), so that wide rows keep the chunks in
  // flight small.
  static constexpr uint64_t kChunkBytes = uint64_t{1} << 20;

  struct Slot {
    BitSlot bits;
    size_t layoutIndex;
    TypeTraits* field;
    SymbolTable<Offset>* table;
    const SymbolOutputs* outputs;  // made up front, or null
    bool cached;                   // outputs made at first use (`encoded_`)
  };
  // A cached symbol's bytes in its field's `Encoded::bytes`.
  struct Made {
    uint64_t at = UINT64_MAX;  // UINT64_MAX until made
    uint64_t size = 0;
  };
  struct Encoded {
    std::vector<Made> symbols;  // entry 0 is null, entry s + 1 symbol s
    std::string bytes;          // followed by kSlack bytes, for WriteSmall

    // Keeps the field's current value as the bytes of `made`, written through `capture` (which
    // appends to `captured`); their place in `bytes`.
    const char* Keep(Made& made, const TypeTraits& field, bool textOutput,
                     BufferedFileOutput& capture, std::string& captured) {
      WriteCurrent(field, textOutput, capture);
      capture.flush();
      made.at = bytes.size() - BufferedFileOutput::kSlack;
      made.size = captured.size();
      bytes.resize(made.at);
      bytes += captured;
      bytes.append(BufferedFileOutput::kSlack, '\0');
      captured.clear();
      return bytes.data() + made.at;
    }
  };
  // Where a layout field's bytes come from in the current row; null bytes: its descriptor.
  struct Piece {
    const char* bytes;
    uint64_t size;

    // Entry e of `outputs`, without its length byte. A borrowed entry is made in `held` (kHeld
    // bytes), so that its bytes are read now, before the row is checked.
    static Piece Of(const SymbolOutputs& outputs, uint64_t e, char* held) {
      if (outputs.borrowed()) {
        return {held, outputs.CopyEntry(e, held)};
      }
      const char* at = outputs.at(e);
      return outputs.fixed() ? Piece{at, outputs.width()}
                             : Piece{at + 1, static_cast<uint8_t>(at[0])};
    }
  };
  // Room for a borrowed entry and the bytes that writing it may read past its end.
  static constexpr size_t kHeld = SymbolOutputs::kMaxWidth + BufferedFileOutput::kSlack;
  // Rows name their symbols in any order: the symbols of a row this far ahead start loading.
  static constexpr uint64_t kAhead = 4;
  // A layout field's entries for the current batch and their form.
  struct Column {
    const char* const* entries;
    const char* staged;  // the entries' bytes one after the other, or null: read at `entries`
    size_t width;        // each entry's bytes (a length byte included)
    bool fixed;
  };
  // The filters and the slots of their fields; a row must pass them all.
  struct FilterSlot {
    size_t slot;
    RowFilter* filter;
  };

  Status FirstFailure(NumberedTasks& settling, const std::deque<size_t>& making, const Status& read,
                      size_t& logged, size_t failed);
  Status ReadTable(IFileInput& input, size_t j, LargeBuffer& spare);
  Status SettleTable(size_t j, LargeBuffer* spare, TaskPool* pool = nullptr);
  Status ScanTable(size_t j, TaskPool* pool);
  void SettleOnWorkers(size_t j, TaskPool& pool, NumberedTasks& settling);
  uint64_t PartsOf(size_t j, unsigned threads) const;
  bool WantsOutputs(size_t j) const;
  void PlanLowMemoryOutputs();
  void KeepOutputs(size_t j, LargeBuffer* spare);
  void LogNotes(size_t& logged, size_t upTo);
  void BuildSlots();

  // A batch's entries, per slot, and the layout's columns over them.
  struct Batch {
    std::vector<const char*> entries;
    std::vector<char> staging;     // per staged slot: its entries' bytes, then some to spare
    std::vector<size_t> stagedAt;  // per slot: where in `staging`, or SIZE_MAX: not staged
    std::vector<Column> columns;   // per layout field
    std::vector<uint32_t> at;      // per row: where its next bytes go in the batch's records
    uint32_t fixedBytes = 0;       // a record's bytes in columns of a fixed width
  };
  // Rows copied from the input, decoded by a worker into their output bytes.
  struct RowChunk {
    std::vector<char> rows;          // count rows, then 8 zero bytes, where they are copied
    const char* rowsAt = nullptr;    // the rows: in `rows`, or where a pinned input holds them
    IFileInput* copyFrom = nullptr;  // the pinned input that the decoding thread copies them from
    const char* inputEnd = nullptr;  // the input past the rows
    uint64_t first = 0;              // the index of the first row
    uint64_t count = 0;
    uint64_t decoded = 0;       // rows done; the rest need the row-by-row path
    uint64_t passed = 0;        // rows of those in `out`: all of them, or those the filters passed
    std::vector<char> passing;  // a batch's rows that passed the filters, then 8 zero bytes
    BufferedFileOutput out{BufferedFileOutput::InMemory{}};
    Batch batch;
  };

  // A worker's own descriptors (each holds its current value) and caches, for the fields whose
  // bytes come from converting symbols row by row.
  struct WorkerState {
    TypeTraitsCollection layout;
    std::vector<Encoded> encoded;  // per slot: cached symbols; empty: converted in every row
    std::vector<Piece> pieces;     // per layout field
    std::vector<std::array<char, kHeld>> held;  // per layout field: a borrowed entry's bytes
    std::string captured;
    BufferedFileOutput capture{&captured};
  };

  // Batches: every slot with outputs made up front, no filter; chunks may have filters.
  bool AllOutputs() const;
  bool CanBatch() const { return filterSlots_.empty() && AllOutputs(); }
  bool CanChunk() const;
  void DecideFilters();
  // The rows of [base, base + n rows) that pass the filters, copied into `passing`; false when a
  // row names a symbol not decided up front.
  bool KnownPass(const char* row, bool& pass) const;
  bool FilterBatch(const char* base, uint64_t n, std::vector<char>& passing,
                   uint64_t& passed) const;
  void SetUpBatch(Batch& batch) const;
  bool FindEntries(const char* base, uint64_t n, Batch& batch) const;
  // Writes the records of a batch, a column at a time into room for them all.
  void WriteBatch(uint64_t n, Batch& batch, BufferedFileOutput& output) const;
  // As WriteBatch, a record at a time: where the room for them all can't be had.
  void WriteRecords(uint64_t n, const Batch& batch, BufferedFileOutput& output) const;

  // Rows [i, end) front to back, batched where `batched` allows; `i` ends past the last row read.
  Status ReadSequential(IFileInput& input, BufferedFileOutput& output, IntervalStats& stats,
                        uint64_t& i, uint64_t end, bool batched);
  // Whole chunks of rows decoded on worker threads, written in order; `i` ends at the first row
  // left to the sequential path (the input's last rows, or all of them once the output failed).
  Status ReadChunks(IFileInput& input, BufferedFileOutput& output, IntervalStats& stats,
                    uint64_t& i);
  bool FillChunk(IFileInput& input, uint64_t& i, RowChunk& chunk) const;
  void DecodeChunk(RowChunk& chunk) const;
  void DecodeBatches(RowChunk& chunk) const;

  // Chunks whose fields need their descriptors: decoded row by row, each worker with its own.
  bool SharesTables() const;
  void PrepareWorkers();
  void DecodeRowsOf(RowChunk& chunk) const;
  bool DecodeWorkerRow(const char* row, WorkerState& state) const;
  bool WorkerPiece(size_t k, int64_t s, WorkerState& state) const;
  void WriteWorkerRow(WorkerState& state, BufferedFileOutput& output) const;
  Status DrainChunk(RowChunk& chunk, IFileInput& input, const char*& kept,
                    BufferedFileOutput& output, IntervalStats& stats);

  Status NextRow(IFileInput& input, const char*& row);
  Status NextGatheredRow(IFileInput& input, const char*& row);
  void PrefetchAhead(const IFileInput& input) const;
  // Starts loading what row's symbols need: their cached bytes in `encoded`, else their table's,
  // whose offsets PrefetchOffsets started loading kAhead rows before.
  void PrefetchRow(const char* row, const std::vector<Encoded>& encoded) const;
  void PrefetchOffsets(const char* row) const;
  bool IsFilterField(size_t j) const;
  Status Passes(const char* row, bool& pass);
  Status PassesFilter(const FilterSlot& filter, int64_t s, bool& pass);
  Status DecodeRow(const char* row);
  Status PieceFromOutputs(const Slot& slot, int64_t s, Piece& piece);
  Status PieceFromCache(size_t k, int64_t s, Piece& piece);
  void WriteRow(BufferedFileOutput& output) const;

  Status Convert(const Slot& slot, int64_t s);
  Status FieldFailure(const TypeTraits& field) const;
  Status LostTable() const;
  void WarnOutput(size_t layoutIndex);
  void CheckValue(size_t layoutIndex);

  DecoderSetup setup_;
  TypeTraitsCollection& layout_;
  const TableReadOptions& options_;
  const std::vector<QvdFieldMetadata>& fields_;
  RowLayout rows_;
  uint64_t recordByteSize_;
  uint64_t skipRows_;
  uint64_t rowsToRead_;
  const SymbolConversion conversion_;  // the options', for these rows

  std::vector<std::unique_ptr<SymbolTable<Offset>>> tables_;  // per QVD field
  std::vector<std::unique_ptr<SymbolOutputs>> outputs_;       // per QVD field
  std::vector<Status> settled_;  // per QVD field: its table's scan and outputs on a worker
  // Per QVD field: its table's text may be printed as the rows read it, which takes no worker.
  std::vector<bool> printedAsRead_;
  // Per QVD field, with --low-memory: its table is small enough to convert up front.
  std::vector<bool> smallOutputs_;
  // Debug lines per QVD field (key, value), logged in field order.
  std::vector<std::vector<std::pair<std::string, std::string>>> notes_;
  std::vector<Slot> slots_;              // bound fields in row order
  std::vector<FilterSlot> filterSlots_;  // the filters and their fields' slots
  std::vector<size_t> offsetSlots_;      // slots read from tables whose symbols have offsets
  std::vector<size_t> slotOfLayout_;
  std::vector<Encoded> encoded_;               // per slot
  std::vector<Piece> pieces_;                  // per layout field
  std::vector<std::array<char, kHeld>> held_;  // per layout field: a borrowed entry's bytes
  std::string captured_;
  BufferedFileOutput capture_{&captured_};

  Batch batch_;  // the sequential path's
  std::vector<std::unique_ptr<WorkerState>> workerStates_;
  mutable std::mutex statesMutex_;
  mutable std::vector<WorkerState*> freeStates_;  // states no worker holds
  std::vector<char> rowCopy_;   // a row near the end of the input, with 8 bytes to spare
  std::vector<bool> reported_;  // per layout field: an output error was logged
  uint64_t record_ = 0;         // 1-based number of the row being decoded
  uint64_t written_ = 0;
  bool watchLost_ = false;  // the file is mapped: a read may find a page lost (FileMapping)
};

extern template class RowDecoder<uint8_t>;
extern template class RowDecoder<uint16_t>;
extern template class RowDecoder<uint32_t>;
extern template class RowDecoder<uint64_t>;

}  // namespace orv
