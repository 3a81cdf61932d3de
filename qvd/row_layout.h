// The rows of a QVD file's index table: NoOfRecords rows of RecordByteSize bytes, each holding,
// per field, the stored index value at BitOffset (BitWidth bits, least significant bit first).
// Symbol number = stored value + Bias; under Bias -2 a stored 0 is null.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "format/qvd_format.h"
#include "runtime/status.h"

namespace orv {

// Refuses bit ranges outside the row or overlapping each other, stored values wider than 32 bits,
// and a record count whose bytes overflow 64 bits.
Status CheckBitLayout(const QvdTableMetadata& table, const std::vector<QvdFieldMetadata>& fields);

// Where one field's stored value lies in a row.
struct BitSlot {
  uint64_t byteOffset = 0;
  unsigned shift = 0;
  uint64_t mask = 0;  // 0 for a field of BitWidth 0, whose every row holds symbol 0 + Bias
  int64_t bias = 0;
  // The stored value that means null: 0 under Bias -2; for a nullable field under Bias 0, one past
  // the last symbol (NoOfSymbols), as some writers store nulls; else none (UINT64_MAX).
  uint64_t nullStored = UINT64_MAX;

  // `nullable`: whether the layout field may take a null stored as one past the table.
  static BitSlot Of(const QvdFieldMetadata& field, bool nullable = false);

  // The symbol number that `row` holds; -1 for null, INT64_MIN for a number below 0. Reads 8
  // bytes from the slot's first byte, so a row needs 8 readable bytes after its used bits.
  int64_t SymbolOf(const char* row) const {
    uint64_t word = 0;
    if (mask != 0) {
      memcpy(&word, row + byteOffset, sizeof word);
    }
    const uint64_t stored = (word >> shift) & mask;
    if (stored == nullStored) {
      return -1;
    }
    const int64_t s = static_cast<int64_t>(stored) + bias;
    return s < 0 ? INT64_MIN : s;
  }
};

// A run of a row's bytes that holds fields' bits, and where a gathered row keeps it.
struct RowSegment {
  uint64_t rowOffset;
  uint64_t length;
  uint64_t gatheredOffset;
};

// The order of the fields in a row and the bytes a row decoder must look at. A row whose used
// bits span more than kMaxDirectRowBytes is gathered: only the runs of bytes that hold bits are
// read, one after the other, and the gaps between them skipped, so that memory follows the
// fields, not the offsets a header claims.
class RowLayout {
 public:
  static constexpr uint64_t kMaxDirectRowBytes = 65536;

  RowLayout(const QvdTableMetadata& table, const std::vector<QvdFieldMetadata>& fields);

  bool gathered() const { return !segments_.empty(); }
  const std::vector<RowSegment>& segments() const { return segments_; }
  // Bytes of a gathered row.
  uint64_t gatheredBytes() const { return gatheredBytes_; }
  // Where the byte at `rowOffset` of a row is in the bytes a decoder sees: the row's own, or a
  // gathered row's.
  uint64_t DecoderOffset(uint64_t rowOffset) const;

  // Field positions in ascending BitOffset (header order among equals): a row is decoded in this
  // order, so that the first field to fail is the first in the row.
  const std::vector<size_t>& order() const { return order_; }
  // Bytes from a row's start up to its last used bit; the rest of the row is skipped.
  uint64_t usedBytes() const { return usedBytes_; }
  uint64_t tailBytes() const { return tailBytes_; }
  // The first field whose bits lie beyond the first `got` bytes of a row (the last field when
  // none does): the field a row cut short loses.
  const QvdFieldMetadata& FirstBeyond(uint64_t got) const;
  const QvdFieldMetadata& last() const { return (*fields_)[order_.back()]; }

 private:
  const std::vector<QvdFieldMetadata>* fields_;
  void Gather();

  std::vector<size_t> order_;
  uint64_t usedBytes_ = 0;
  uint64_t tailBytes_ = 0;
  std::vector<RowSegment> segments_;  // gathered rows only
  uint64_t gatheredBytes_ = 0;
};

}  // namespace orv
