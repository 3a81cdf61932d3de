// Records in chunks, for reading on several threads.
//
// Text and CSV input is cut into chunks right after a record separator's last byte (LF, or CR in
// the CR mode), and for quoted values only where the quotes seen since the chunk began are even,
// so that a cut falls outside quotes in any well-formed input. The binary record stream is cut
// where its records end by the layout: flag bytes, fixed widths and string lengths, counted from
// the chunk's first record. A cut is still only a guess: a worker
// parses its chunk from its first byte with its own copy of the layout, and the chunk counts only
// when its records end exactly at its last byte without looking past it. The first chunk starts
// where the records start, so each chunk that ends that way starts the next one right; at the
// first chunk that doesn't (a record that fails, a quoted line end the quote count missed), the
// calling thread reads the rest of the input the single-threaded way, so every message comes out
// as it would on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/input.h"
#include "types/text_token.h"
#include "types/type_traits.h"

namespace orv {

struct RecordInputOptions;

// Fields of a binary record, in order: a flag byte when `flag` (bit 0 set: null, no value
// follows), then `width` bytes, or for width 0 a 32-bit length and that many bytes. Fields of
// neither flag nor length that follow each other are one step of their widths' sum.
struct BinaryStep {
  bool flag = false;
  size_t width = 0;
};

// Where chunks may be cut: for text, after `cutByte`, where `quote` (when set) has occurred an
// even number of times since the chunk began; for binary records, where `binary`'s steps end.
struct ChunkCut {
  char cutByte = '\n';
  std::optional<char> quote;
  std::vector<BinaryStep> binary;  // empty for text
};

// Where text may be cut, among data[0, size): just after the last `cut.cutByte` at or after
// `from` where the quotes before it are even (counted from data[0], when `cut.quote` is set); 0
// when there is none. `odd` tells whether data[0, from) holds an odd number of quotes, and is
// moved on to `size`, so that a longer text is scanned from where the last scan ended.
size_t FindTextCut(const char* data, size_t size, size_t from, const ChunkCut& cut, bool& odd);

// About how many bytes a chunk holds: 256 KiB, or ORV_CHUNK_BYTES when set (so that tests can cut
// small inputs).
size_t ChunkBytes();

// The threads to read `options`' records with: 1 when they are read in one piece (--unbuffered,
// --debug-file, a text record without a separator to cut after), else --threads.
unsigned ChunkThreads(const RecordInputOptions& options);
// The cut for `options`' records (ChunkThreads above 1).
ChunkCut ChooseChunkCut(const RecordInputOptions& options);

// The next value of `field` from `input` through its descriptor: Parse for text, Read for the
// binary stream.
inline int ReadFieldValue(TypeTraits& field, IFileInput& input, bool text) {
  size_t size = 0;
  return text ? field.Parse(input, size, false) : field.Read(input, size, false);
}

// How a chunk ends: at a cut, where the input ends, or where reading the input failed.
enum class ChunkEnd : unsigned char { kCut, kInput, kFailure };

// Hands out the bytes of an input as chunks that end at cuts.
class ChunkSource {
 public:
  // About `chunkBytes` per chunk (more when a record is longer). ORV_CHUNK_BYTES, when set, sets
  // the size, so that tests can cut small inputs.
  ChunkSource(IFileInput& input, ChunkCut cut);
  // The next chunk into `bytes` and how it ends; false when the input has nothing more to give.
  bool Fill(std::vector<char>& bytes, ChunkEnd& end);
  // Up to `capacity` bytes that no chunk took: 0 at the end, -1 when the input failed (errno set).
  long Pull(char* out, size_t capacity);
  IFileInput& input() const { return input_; }

 private:
  bool ReadMore(std::vector<char>& bytes, size_t wanted);
  size_t FindRecordsEnd(const std::vector<char>& bytes, size_t from) const;

  IFileInput& input_;
  ChunkCut cut_;
  size_t chunkBytes_;
  const char* kept_;         // the input's first byte not yet discarded (DiscardConsumed)
  std::vector<char> carry_;  // the bytes after the last cut
  size_t carryAt_ = 0;       // of carry_, the bytes Pull has given out
  int error_ = 0;            // the input's errno once a read failed
  bool ended_ = false;       // the chunk at the input's end was handed out
};

// The sequential reader's input once a chunk failed: the bytes of the chunks from that one on,
// then what the source has left.
class ChainInput : public IFileInput {
 public:
  explicit ChainInput(ChunkSource& source) : IFileInput(false), source_(source) {}
  void Append(const std::vector<char>& bytes) {
    if (!bytes.empty()) {
      spans_.emplace_back(bytes.data(), bytes.size());
    }
  }

 protected:
  long FillBuffer(char* buffer, size_t capacity) override;

 private:
  ChunkSource& source_;
  std::deque<std::pair<const char*, size_t>> spans_;
};

// One chunk: its bytes, and what a worker made of them into the program's `Part` (a copy of the
// layout and the values or output of the chunk's records). A Part has Reset() before a chunk,
// ReadValue(field, input), TakeRecord(), Accepts() after the chunk's records (false: a value
// the program refuses, so that the chunk isn't clean), Finish(number, clean) with the chunk's
// place in the input (0, 1, ...) and whether it is clean (all on a worker), and Drain() on the
// calling thread, which appends the chunk's share in order (false to stop).
template <typename Part>
struct RecordChunk {
  uint64_t number = 0;
  std::vector<char> bytes;
  ChunkEnd end = ChunkEnd::kCut;
  bool clean = false;  // the records end at the chunk's last byte, and none failed
  uint64_t records = 0;
  std::unique_ptr<Part> part;
};

// A chunk's binary or delimited-text records; true when it is clean.
template <typename Part>
bool ParseRecordChunk(Part& part, IFileInput& input, bool last, uint64_t& records) {
  const size_t fieldCount = part.layout.size();
  for (records = 0;; ++records) {
    if (!last && input.BufferPos() == input.BufferEnd()) {
      return true;
    }
    for (size_t i = 0; i < fieldCount; ++i) {
      if (const int status = part.ReadValue(i, input); status != kStatusOk) [[unlikely]] {
        return last && status == kStatusEnd && i == 0;
      }
    }
    if (!last && input.status() != kInputOk) [[unlikely]] {
      return false;  // the record looked past the chunk: its end there is no proof
    }
    part.TakeRecord();
  }
}

// A chunk's CSV records, each column to its field in `columns` (SIZE_MAX: stepped over); true
// when it is clean.
template <typename Part>
bool ParseCsvChunk(Part& part, const std::vector<size_t>& columns, char delimiter,
                   IFileInput& input, bool last, uint64_t& records) {
  const size_t columnCount = columns.size();
  std::string skipped;
  for (records = 0;; ++records) {
    if (!last && input.BufferPos() == input.BufferEnd()) {
      return true;
    }
    if (const int start = text_token::StartCsvRecord(input, columnCount > 1); start != kStatusOk) {
      return last && start == kStatusEnd;
    }
    for (size_t c = 0;; ++c) {
      const size_t field = columns[c];
      text_token::CsvEnd end = text_token::CsvEnd::kNone;
      int status = kStatusOk;
      if (field != SIZE_MAX) {
        status = part.ReadValue(field, input);
        end = part.layout[field].csvEnd();
      } else {
        skipped.clear();
        bool quoted = false;
        status = text_token::ReadCsv(input, delimiter, SIZE_MAX, skipped, quoted, end);
      }
      const bool lineEnds = end != text_token::CsvEnd::kValue;
      if (status != kStatusOk || lineEnds != (c + 1 == columnCount)) [[unlikely]] {
        return false;
      }
      if (lineEnds) {
        break;
      }
    }
    if (!last && input.status() != kInputOk) [[unlikely]] {
      return false;
    }
    part.TakeRecord();
  }
}

}  // namespace orv
