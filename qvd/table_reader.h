// Reads a QVD table as records of a given layout: the header, the binding of the file's fields to
// the layout's, the symbol tables the layout uses, then the rows, in batches or row by row where
// something must be reported. The input is read strictly front to back; only the low-memory mode
// reads symbols again, through second handles of the file.
//
//   QvdTableReader reader(layout, options);
//   Status status = reader.Open(input);          // header, binding, symbol tables, skip
//   ... open the output ...
//   status = reader.ReadRows(input, output, stats);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "qvd/symbol_conversion.h"
#include "runtime/input.h"
#include "runtime/output.h"
#include "runtime/stats.h"
#include "runtime/status.h"
#include "types/type_traits.h"

namespace orv {

struct TableReadOptions {
  uint64_t firstRecord = 0;             // rows to skip
  std::vector<std::string> filters;     // FIELD OP VALUE each (qvd/filter.h); a row passes all
  SymbolConversion conversion;          // null text, text or binary output, output checks
  bool lowMemory = false;               // symbol tables stay on disk (needs `path`)
  bool guessUniformSymbolSize = false;  // tables of numbers of one kind are not scanned
  bool matchFields = false;             // bind fields by name
  bool fieldSubset = true;              // by name, the layout may name a subset of the fields
  std::optional<std::string> path;      // the input file, opened again in low-memory mode
  unsigned threads = 1;                 // rows decoded on this many worker threads
  bool chunked = true;                  // rows decoded in chunks, written a chunk at a time
  uint64_t chunkBatches = 32;           // at most this many batches of 256 rows a chunk (tests: 1)
  // A chunk's rows past this much output are decoded on the calling thread, straight to the output
  // (rows whose values print long texts would hold it all in memory, chunks at a time).
  uint64_t chunkOutputBytes = uint64_t{16} << 20;
};

// Decodes rows for one width of symbol offsets.
class RowDecoderBase {
 public:
  virtual ~RowDecoderBase() = default;
  virtual Status LoadTables(IFileInput& input) = 0;
  virtual Status ReadRows(IFileInput& input, BufferedFileOutput& output, IntervalStats& stats) = 0;
  virtual uint64_t writtenRecords() const = 0;
};

class QvdTableReader {
 public:
  QvdTableReader(TypeTraitsCollection& layout, TableReadOptions options);
  ~QvdTableReader();
  QvdTableReader(const QvdTableReader&) = delete;
  QvdTableReader& operator=(const QvdTableReader&) = delete;

  // Fills the layout from the file's fields, once the header is read and before they are bound.
  using LayoutFromHeader = std::function<Status(const std::vector<QvdFieldMetadata>&)>;

  // Reads the header, binds the fields and the filters, loads the symbol tables that the layout
  // uses and skips to the first wanted row. `fromHeader`, when given, makes the layout first.
  Status Open(IFileInput& input, const LayoutFromHeader& fromHeader = {});
  // Writes one record per row (that passes the filters) to `output`, ticking `stats` per row. Stops
  // early when the output fails, leaving the failure to the output's flush.
  Status ReadRows(IFileInput& input, BufferedFileOutput& output, IntervalStats& stats);

  uint64_t writtenRecords() const { return decoder_ ? decoder_->writtenRecords() : 0; }
  const QvdTableMetadata& table() const { return table_; }
  const std::vector<QvdFieldMetadata>& fields() const { return fields_; }

 private:
  Status ReadHeader(IFileInput& input);
  Status Bind();
  std::unique_ptr<RowDecoderBase> MakeDecoder();

  TypeTraitsCollection& layout_;
  TableReadOptions options_;
  QvdTableMetadata table_;
  std::vector<QvdFieldMetadata> fields_;
  std::vector<std::optional<size_t>> binding_;  // layout field per QVD field
  std::vector<std::unique_ptr<class RowFilter>> filters_;
  std::vector<std::pair<size_t, RowFilter*>> filterFields_;  // QVD field and filter
  std::unique_ptr<RowDecoderBase> decoder_;
};

}  // namespace orv
