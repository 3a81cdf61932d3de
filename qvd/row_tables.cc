// The symbol tables of the row decoder, front to back in header order. Each table's bytes are read
// on the calling thread; scanning them and making their outputs run on the workers while the next
// tables are read, up to twice as many tables under way as there are workers (and one more), so
// that the last tables start early. With fewer tables of many symbols than workers, such a table's
// outputs are made in parts on several workers. A failure is that of the first table in field
// order, and each field's debug lines are logged in field order once its work is done, as one
// thread would.
#include <algorithm>
#include <deque>

#include "qvd/row_decoder.h"
#include "qvd/symbol_conversion.h"
#include "runtime/logger.h"
#include "runtime/workers.h"

namespace orv {

template <typename Offset>
Status RowDecoder<Offset>::LoadTables(IFileInput& input) {
  watchLost_ = options_.lowMemory || input.Pinned();
  printedAsRead_.assign(fields_.size(), false);
  for (size_t j = 0; j < fields_.size(); ++j) {
    const std::optional<size_t> bound = (*setup_.binding)[j];
    printedAsRead_[j] = bound && MayPrintAsRowsRead(fields_[j], layout_[*bound], conversion_);
  }
  PlanLowMemoryOutputs();
  TaskPool pool(options_.threads);
  NumberedTasks settling(pool, fields_.size());
  const bool alone = pool.threads() <= 1;
  LargeBuffer spare;          // a converted table's memory, for the next table (one thread)
  std::deque<size_t> making;  // tables settling on the workers, oldest first
  size_t logged = 0;
  for (size_t j = 0; j < fields_.size(); ++j) {
    LargeBuffer fresh;
    const Status read = ReadTable(input, j, alone ? spare : fresh);
    if (!read.ok()) {
      return FirstFailure(settling, making, read, logged, j);
    }
    if (tables_[j] != nullptr && alone) {
      ORV_RETURN_IF_ERROR(SettleTable(j, &spare));
    } else if (tables_[j] != nullptr) {
      pool.Submit([this, j, &pool, &settling] { SettleOnWorkers(j, pool, settling); });
      making.push_back(j);
    }
    while (!making.empty() &&
           (making.size() > 2 * size_t{pool.threads()} || j + 1 == fields_.size())) {
      settling.WaitFor(making.front());
      LogNotes(logged, making.front());  // as one thread would before this table's outcome
      ORV_RETURN_IF_ERROR(settled_[making.front()]);
      making.pop_front();
    }
    LogNotes(logged, making.empty() ? j + 1 : making.front());
  }
  BuildSlots();
  if (watchLost_ && FileMapping::AnyLost()) {
    return LostTable();
  }
  const uint64_t skipBytes = skipRows_ * recordByteSize_;
  if (input.Skip(skipBytes) != kInputOk && skipBytes > 0) {
    return Status::Damaged("Error skipping records.");
  }
  return Status::Ok();
}

// A table that failed to settle before table `failed`, which couldn't be read, fails first. Either
// way the tables before the failing one have their debug lines logged first, as one thread would.
template <typename Offset>
Status RowDecoder<Offset>::FirstFailure(NumberedTasks& settling, const std::deque<size_t>& making,
                                        const Status& read, size_t& logged, size_t failed) {
  for (size_t j : making) {
    settling.WaitFor(j);
    LogNotes(logged, j);
    ORV_RETURN_IF_ERROR(settled_[j]);
  }
  LogNotes(logged, failed);
  return read;
}

// Table j's bytes (or, on disk, its scan); an unbound field's table is skipped.
template <typename Offset>
Status RowDecoder<Offset>::ReadTable(IFileInput& input, size_t j, LargeBuffer& spare) {
  const QvdFieldMetadata& field = fields_[j];
  if (!(*setup_.binding)[j]) {
    if (input.Skip(field.length) != kInputOk && field.length > 0) {
      return Status::Damaged("Error reading symbol table of field '" + field.fieldName + "'.");
    }
    return Status::Ok();
  }
  auto table = std::make_unique<SymbolTable<Offset>>(field);
  const bool guess = options_.guessUniformSymbolSize;
  if (!options_.lowMemory || IsFilterField(j)) {
    ORV_RETURN_IF_ERROR(table->ReadInMemory(input, guess, spare));
  } else {
    // With workers, a mapped table is scanned on one of them, and this thread reads on.
    ORV_RETURN_IF_ERROR(table->LoadOnDisk(input, guess, *options_.path, options_.threads > 1));
  }
  tables_[j] = std::move(table);
  return Status::Ok();
}

// The scan of a table read into memory, then its outputs where the rows want them.
template <typename Offset>
Status RowDecoder<Offset>::SettleTable(size_t j, LargeBuffer* spare, TaskPool* pool) {
  ORV_RETURN_IF_ERROR(ScanTable(j, pool));
  if (WantsOutputs(j)) {
    outputs_[j] = MakeSymbolOutputs(*tables_[j], layout_[*(*setup_.binding)[j]], conversion_, pool);
    KeepOutputs(j, spare);
  } else if (options_.lowMemory) {
    // A larger table lends the outputs it can (at no cost in memory), however many rows name
    // its symbols: without them, each row would convert its symbols anyway.
    SymbolConversion anyRows = conversion_;
    anyRows.rows = 0;
    outputs_[j] = LendSymbolOutputs(*tables_[j], layout_[*(*setup_.binding)[j]], anyRows, pool);
    KeepOutputs(j, spare);
  }
  return Status::Ok();
}

template <typename Offset>
Status RowDecoder<Offset>::ScanTable(size_t j, TaskPool* pool) {
  SymbolTable<Offset>& table = *tables_[j];
  ORV_RETURN_IF_ERROR(table.ScanInMemory(pool));
  if (table.guessed()) {
    notes_[j].emplace_back("uniform symbol size (guess)", fields_[j].fieldName);
  } else if (table.uniformSize() != 0) {
    notes_[j].emplace_back("uniform symbol size", fields_[j].fieldName);
  }
  return Status::Ok();
}

// SettleTable on a worker. A large table's outputs are made in parts on the pool, and the part
// that ends last marks the table settled.
template <typename Offset>
void RowDecoder<Offset>::SettleOnWorkers(size_t j, TaskPool& pool, NumberedTasks& settling) {
  const uint64_t parts = PartsOf(j, pool.threads());
  if (parts < 2) {
    settled_[j] = SettleTable(j, nullptr, &pool);
    settling.Done(j);
    return;
  }
  settled_[j] = ScanTable(j, &pool);
  if (!settled_[j].ok()) {
    settling.Done(j);
    return;
  }
  if (auto lent =
          LendSymbolOutputs(*tables_[j], layout_[*(*setup_.binding)[j]], conversion_, &pool)) {
    outputs_[j] = std::move(lent);  // printed as the rows name them: nothing to make in parts
    KeepOutputs(j, nullptr);
    settling.Done(j);
    return;
  }
  MakeSymbolOutputsInParts(pool, static_cast<size_t>(parts), *tables_[j], layout_,
                           *(*setup_.binding)[j], conversion_,
                           [this, j, &settling](std::unique_ptr<SymbolOutputs> outputs) {
                             outputs_[j] = std::move(outputs);
                             KeepOutputs(j, nullptr);
                             settling.Done(j);
                           });
}

// The parts to make table j's outputs in. Tables of many symbols share the workers: as many parts
// to each as leaves no worker idle, each part of 64 Ki symbols at least. With as many such tables
// as workers, each is one part (a table a worker, and no parts to put together). Other tables
// that will likely print as the rows read them take no share. Binary outputs are copies of the
// symbols' values, which cost about what putting parts together does: one part.
template <typename Offset>
uint64_t RowDecoder<Offset>::PartsOf(size_t j, unsigned threads) const {
  constexpr uint64_t kPartSymbols = 65536;
  if (!conversion_.textOutput) {
    return 1;
  }
  auto large = [this](size_t k) {
    return (*setup_.binding)[k] && WantsOutputs(k) && fields_[k].noOfSymbols >= 2 * kPartSymbols;
  };
  if (!large(j)) {
    return 1;
  }
  uint64_t tables = 0;
  for (size_t k = 0; k < fields_.size(); ++k) {
    tables += large(k) && (k == j || !printedAsRead_[k]) ? 1 : 0;
  }
  return std::min((threads + tables - 1) / tables, fields_[j].noOfSymbols / kPartSymbols);
}

// In memory, a table whose symbols the rows will mostly use is converted up front; with
// --low-memory, a small one (see PlanLowMemoryOutputs).
template <typename Offset>
bool RowDecoder<Offset>::WantsOutputs(size_t j) const {
  return options_.lowMemory ? smallOutputs_[j]
                            : fields_[j].noOfSymbols <= std::max<uint64_t>(4096, 2 * rowsToRead_);
}

// With --low-memory, the tables of fewer symbols than a lent table has are converted up front,
// in field order, while their outputs, at the widest, fit kLowMemoryOutputBytes together: with the
// larger tables lent, the rows are then decoded in batches.
template <typename Offset>
void RowDecoder<Offset>::PlanLowMemoryOutputs() {
  constexpr uint64_t kLowMemoryOutputBytes = uint64_t{8} << 20;
  constexpr uint64_t kEntryBytes = SymbolOutputs::kMaxWidth + 1;
  smallOutputs_.assign(fields_.size(), false);
  uint64_t left = options_.lowMemory ? kLowMemoryOutputBytes : 0;
  for (size_t j = 0; j < fields_.size(); ++j) {
    const uint64_t symbols = fields_[j].noOfSymbols;
    if ((*setup_.binding)[j] && symbols < conversion_.leastBorrowed &&
        symbols < left / kEntryBytes) {
      smallOutputs_[j] = true;
      left -= (symbols + 1) * kEntryBytes;
    }
  }
}

// Once converted, a table's own bytes are no longer needed (unless the filter reads them, or the
// outputs borrow them): they go to `spare` for the next table, or are freed without one.
template <typename Offset>
void RowDecoder<Offset>::KeepOutputs(size_t j, LargeBuffer* spare) {
  const QvdFieldMetadata& field = fields_[j];
  if (outputs_[j] == nullptr) {
    return;
  }
  notes_[j].emplace_back("symbol outputs made",
                         field.fieldName + ": " + std::to_string(outputs_[j]->width()) +
                             (outputs_[j]->fixed() ? " bytes each" : " bytes with length"));
  if (!IsFilterField(j) && !outputs_[j]->borrowed()) {
    LargeBuffer freed;
    tables_[j]->Release(spare != nullptr ? *spare : freed);
  }
}

// The debug lines of fields [logged, upTo), in field order.
template <typename Offset>
void RowDecoder<Offset>::LogNotes(size_t& logged, size_t upTo) {
  for (; logged < upTo; ++logged) {
    for (const auto& [key, value] : notes_[logged]) {
      g_Logger.Debug(key, value);
    }
    notes_[logged].clear();
  }
}

#define ORV_ROW_TABLES(Offset)                                                                \
  template Status RowDecoder<Offset>::LoadTables(IFileInput&);                                \
  template Status RowDecoder<Offset>::FirstFailure(NumberedTasks&, const std::deque<size_t>&, \
                                                   const Status&, size_t&, size_t);           \
  template Status RowDecoder<Offset>::ReadTable(IFileInput&, size_t, LargeBuffer&);           \
  template Status RowDecoder<Offset>::SettleTable(size_t, LargeBuffer*, TaskPool*);           \
  template bool RowDecoder<Offset>::WantsOutputs(size_t) const;                               \
  template void RowDecoder<Offset>::PlanLowMemoryOutputs();                                   \
  template void RowDecoder<Offset>::KeepOutputs(size_t, LargeBuffer*);                        \
  template void RowDecoder<Offset>::SettleOnWorkers(size_t, TaskPool&, NumberedTasks&);       \
  template Status RowDecoder<Offset>::ScanTable(size_t, TaskPool*);                           \
  template uint64_t RowDecoder<Offset>::PartsOf(size_t, unsigned) const;                      \
  template void RowDecoder<Offset>::LogNotes(size_t&, size_t);
ORV_ROW_TABLES(uint8_t)
ORV_ROW_TABLES(uint16_t)
ORV_ROW_TABLES(uint32_t)
ORV_ROW_TABLES(uint64_t)
#undef ORV_ROW_TABLES

}  // namespace orv
