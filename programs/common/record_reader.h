// Records of a layout from the binary record stream or delimited text: the settings and the read
// loop that packdown and feedout share.
//
// A record is its fields' values in layout order. The input ending before the first field of a
// record is the normal end; any other failure names the field and the 1-based record number, and
// an input the system can't read is an I/O error with the system's reason.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "programs/common/record_chunks.h"
#include "runtime/input.h"
#include "runtime/stats.h"
#include "runtime/status.h"
#include "runtime/workers.h"
#include "types/type_traits.h"

namespace orv {

// The command-line settings of a program that reads records.
struct RecordInputOptions {
  TypeTraitsCollection layout;
  bool textInput = false;
  bool allowMissingSeparator = false;
  bool unbuffered = false;
  unsigned threads = 0;   // --threads; 0: the cores this process may run on
  std::string debugFile;  // where the bytes of a record that fails go; empty for none
  // --csv and its settings.
  bool csv = false;
  bool csvHeader = true;     // the first line names the columns (--no-header: it doesn't)
  bool matchFields = false;  // header names bind columns to fields; other columns are ignored
  std::optional<char> delimiter;
};

// --csv, --no-header, --delimiter=C and --match-fields as option table actions.
Status SetCsv(RecordInputOptions& options);
Status SetNoHeader(RecordInputOptions& options);
Status SetDelimiter(RecordInputOptions& options, const char* argument);
Status SetMatchFields(RecordInputOptions& options);
// The CSV settings go with --csv, and --csv with no other text mode.
Status CheckCsvOptions(const RecordInputOptions& options);

// --allow-missing-separator-at-eof
Status AllowMissingSeparator(RecordInputOptions& options);
// The steps after the program's own rules: every field's type must have a form in the target
// format (`supports`), --allow-missing-separator-at-eof goes with text input only; then readies
// the layout for reading.
Status PrepareRecordInput(RecordInputOptions& options, bool (TypeTraits::*supports)() const);

class RecordReader {
 public:
  RecordReader(IFileInput& input, const RecordInputOptions& options)
      : input_(&input),
        options_(options),
        csv_(options.csv),
        layout_(options.layout),
        text_(options.textInput),
        debugFile_(options.debugFile),
        kept_(input.BufferPos()) {}

  // Reads records until the input ends. `readValue(i)` reads field i's value (ReadField, or a
  // store of the program's own) from input() and returns its status word; `takeRecord()` has a
  // whole record and returns false to stop reading without a failure. Both are inlined into the
  // loop.
  template <typename ReadValue, typename TakeRecord>
  Status ReadAll(ReadValue&& readValue, TakeRecord&& takeRecord) {
    IntervalStats stats("records");
    return ReadRecords(stats, readValue, takeRecord);
  }

  // As ReadAll, for CSV: the header line first, then per line the values in column order, each
  // to its field (columns that no field takes are stepped over); a line must hold one value per
  // column.
  template <typename ReadValue, typename TakeRecord>
  Status ReadAllCsv(ReadValue&& readValue, TakeRecord&& takeRecord) {
    IntervalStats stats("records");
    ORV_RETURN_IF_ERROR(ReadCsvHeader());
    return ReadCsvRecords(stats, readValue, takeRecord);
  }

  // As ReadAll or ReadAllCsv (by the options), on ChunkThreads(options) threads when that is more
  // than one: workers parse chunks into `Part`s that `makePart()` makes (see RecordChunk), and
  // their Drain() takes each chunk's records in order. From the first chunk that isn't clean on,
  // `readValue` and `takeRecord` read the rest as ReadAll does, so a failure comes out as there.
  template <typename Part, typename MakePart, typename ReadValue, typename TakeRecord>
  Status ReadAllChunked(MakePart&& makePart, ReadValue&& readValue, TakeRecord&& takeRecord) {
    const unsigned threads = ChunkThreads(options_);
    if (threads <= 1) {
      return csv_ ? ReadAllCsv(readValue, takeRecord) : ReadAll(readValue, takeRecord);
    }
    IntervalStats stats("records");
    if (csv_) {
      ORV_RETURN_IF_ERROR(ReadCsvHeader());
    }
    ChunkSource source(*input_, ChooseChunkCut(options_));
    ChainInput chain(source);
    std::deque<const RecordChunk<Part>*> pending;  // filled, not yet drained
    std::optional<Status> rest;                    // the end of a sequential read
    bool stopped = false;
    uint64_t chunks = 0;  // filled so far
    TaskPool pool(threads, true);
    RunOrdered<RecordChunk<Part>>(
        pool, 2 * size_t{threads},
        [&](RecordChunk<Part>& chunk) {
          if (chunk.part == nullptr) {
            chunk.part = makePart();
          }
          const bool filled = source.Fill(chunk.bytes, chunk.end);
          if (filled) {
            chunk.number = chunks++;
            pending.push_back(&chunk);
          }
          return filled;
        },
        [this](RecordChunk<Part>& chunk) { ParseChunk(chunk); },
        [&](RecordChunk<Part>& chunk) {
          if (chunk.clean) {
            pending.pop_front();
            records_ += chunk.records;
            stats.Tick(chunk.records);
            stopped = !chunk.part->Drain();
            return !stopped;
          }
          for (const RecordChunk<Part>* left : pending) {
            chain.Append(left->bytes);
          }
          input_ = &chain;
          rest = csv_ ? ReadCsvRecords(stats, readValue, takeRecord)
                      : ReadRecords(stats, readValue, takeRecord);
          return false;
        });
    input_ = &source.input();  // the chain input ends here
    if (!rest && !stopped) {
      stats.Success();
    }
    return rest ? std::move(*rest) : Status::Ok();
  }

  // The next value of `field` through its descriptor: Parse for text, Read for the binary stream.
  int ReadField(TypeTraits& field) { return ReadFieldValue(field, *input_, text_); }

  // The input that readValue reads from.
  IFileInput& input() { return *input_; }

  // For a `readValue` that refuses a value it has read: returns the word that makes ReadAll end
  // with `status`.
  int Refuse(Status status) {
    refusal_ = std::move(status);
    return kRefused;
  }

  // The whole records read.
  uint64_t records() const { return records_; }

  // The exit status for ReadAll's `status`: the FAIL line of a failure, then the bytes of a
  // record that could not be read into the debug file, when one was named.
  int Finish(const Status& status) const;

 private:
  static constexpr int kRefused = -1;  // apart from every input and codec status

  static constexpr size_t kSkipped = SIZE_MAX;  // a CSV column that no field takes

  // The loops of ReadAll and ReadAllCsv after the header.
  template <typename ReadValue, typename TakeRecord>
  Status ReadRecords(IntervalStats& stats, ReadValue& readValue, TakeRecord& takeRecord) {
    const size_t fieldCount = layout_.size();
    for (;;) {
      input_->DiscardConsumed(kept_);
      input_->BeginRecord();
      for (size_t i = 0; i < fieldCount; ++i) {
        if (const int status = readValue(i); status != kStatusOk) [[unlikely]] {
          if (status == kStatusEnd && i == 0) {
            stats.Success();
            return Status::Ok();
          }
          return Failure(i, status);
        }
      }
      ++records_;
      stats.Tick();
      if (!takeRecord()) {
        return Status::Ok();
      }
    }
  }

  template <typename ReadValue, typename TakeRecord>
  Status ReadCsvRecords(IntervalStats& stats, ReadValue& readValue, TakeRecord& takeRecord) {
    const size_t columnCount = columns_.size();
    for (;;) {
      input_->DiscardConsumed(kept_);
      input_->BeginRecord();
      if (const int start = text_token::StartCsvRecord(*input_, columnCount > 1);
          start != kStatusOk) {
        if (start == kStatusEnd) {
          stats.Success();
          return Status::Ok();
        }
        return Failure(0, start);
      }
      for (size_t c = 0;; ++c) {
        const size_t field = c < columnCount ? columns_[c] : kSkipped;
        text_token::CsvEnd end = text_token::CsvEnd::kNone;
        const int status = field != kSkipped ? readValue(field) : SkipCsvValue(end);
        if (field != kSkipped) {
          end = layout_[field].csvEnd();
        }
        const bool lineEnds = end != text_token::CsvEnd::kValue;
        if (status != kStatusOk || lineEnds != (c + 1 == columnCount)) [[unlikely]] {
          return CsvFailure(c, field, status, end);
        }
        if (lineEnds) {
          break;
        }
      }
      ++records_;
      stats.Tick();
      if (!takeRecord()) {
        return Status::Ok();
      }
    }
  }

  // A worker's step: the chunk's records into its part.
  template <typename Part>
  void ParseChunk(RecordChunk<Part>& chunk) const {
    Part& part = *chunk.part;
    part.Reset();
    MemoryInput input(chunk.bytes.data(), chunk.bytes.size());
    const bool last = chunk.end != ChunkEnd::kCut;
    chunk.clean = csv_ ? ParseCsvChunk(part, columns_, options_.delimiter.value_or(','), input,
                                       last, chunk.records)
                       : ParseRecordChunk(part, input, last, chunk.records);
    chunk.clean = chunk.clean && chunk.end != ChunkEnd::kFailure && part.Accepts();
    part.Finish(chunk.number, chunk.clean);
  }

  Status Failure(size_t field, int status);
  Status ReadCsvHeader();
  Status BindColumns(const std::vector<std::string>& names);
  int SkipCsvValue(text_token::CsvEnd& end);
  Status CsvFailure(size_t column, size_t field, int status, text_token::CsvEnd end);

  IFileInput* input_;
  const RecordInputOptions& options_;
  bool csv_;
  const TypeTraitsCollection& layout_;
  bool text_;
  const std::string& debugFile_;
  const char* kept_;  // the input's first byte not yet discarded (DiscardConsumed)
  uint64_t records_ = 0;
  bool failedRecord_ = false;
  Status refusal_;
  std::vector<size_t> columns_;  // CSV column → field, or kSkipped
  std::string skipped_;          // the token of a skipped column
};

}  // namespace orv
