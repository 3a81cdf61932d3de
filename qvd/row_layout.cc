#include "qvd/row_layout.h"

#include <algorithm>

namespace orv {

Status CheckBitLayout(const QvdTableMetadata& table, const std::vector<QvdFieldMetadata>& fields) {
  auto bad = [](const QvdFieldMetadata& field) {
    return Status::Damaged("Bad bit layout of field '" + field.fieldName +
                           "' in QVD table header.");
  };
  std::vector<const QvdFieldMetadata*> used;
  for (const QvdFieldMetadata& field : fields) {
    if (field.bitWidth == 0) {
      continue;
    }
    if (field.bitWidth > 32 || field.bitOffset > UINT64_MAX - field.bitWidth ||
        table.recordByteSize > UINT64_MAX / 8 ||
        field.bitOffset + field.bitWidth > table.recordByteSize * 8) {
      return bad(field);
    }
    used.push_back(&field);
  }
  std::sort(used.begin(), used.end(), [](auto* a, auto* b) { return a->bitOffset < b->bitOffset; });
  for (size_t i = 1; i < used.size(); ++i) {
    if (used[i]->bitOffset < used[i - 1]->bitOffset + used[i - 1]->bitWidth) {
      return bad(*used[i]);
    }
  }
  if (table.recordByteSize != 0 && table.noOfRecords > UINT64_MAX / table.recordByteSize) {
    return Status::Damaged("Bad record count in QVD table header.");
  }
  return Status::Ok();
}

BitSlot BitSlot::Of(const QvdFieldMetadata& field, bool nullable) {
  const uint64_t nullStored = field.bias == qvd::kNullBias  ? 0
                              : field.bias == 0 && nullable ? field.noOfSymbols
                                                            : UINT64_MAX;
  if (field.bitWidth == 0) {
    return {0, 0, 0, field.bias, nullStored};
  }
  return {field.bitOffset / 8, static_cast<unsigned>(field.bitOffset % 8),
          (uint64_t{1} << field.bitWidth) - 1, field.bias, nullStored};
}

RowLayout::RowLayout(const QvdTableMetadata& table, const std::vector<QvdFieldMetadata>& fields)
    : fields_(&fields), order_(fields.size()) {
  for (size_t j = 0; j < fields.size(); ++j) {
    order_[j] = j;
  }
  std::stable_sort(order_.begin(), order_.end(),
                   [&](size_t a, size_t b) { return fields[a].bitOffset < fields[b].bitOffset; });
  for (const QvdFieldMetadata& field : fields) {
    if (field.bitWidth > 0) {
      usedBytes_ = std::max(usedBytes_, (field.bitOffset + field.bitWidth + 7) / 8);
    }
  }
  tailBytes_ = table.recordByteSize - usedBytes_;
  if (usedBytes_ > kMaxDirectRowBytes) {
    Gather();
  }
}

void RowLayout::Gather() {
  // Runs closer than this are read as one.
  constexpr uint64_t kJoin = 64;
  for (size_t j : order_) {
    const QvdFieldMetadata& field = (*fields_)[j];
    if (field.bitWidth == 0) {
      continue;
    }
    const uint64_t start = field.bitOffset / 8;
    const uint64_t end = (field.bitOffset + field.bitWidth + 7) / 8;
    if (!segments_.empty() &&
        start <= segments_.back().rowOffset + segments_.back().length + kJoin) {
      RowSegment& last = segments_.back();
      last.length = std::max(last.length, end - last.rowOffset);
    } else {
      segments_.push_back({start, end - start, 0});
    }
  }
  for (RowSegment& segment : segments_) {
    segment.gatheredOffset = gatheredBytes_;
    gatheredBytes_ += segment.length;
  }
}

uint64_t RowLayout::DecoderOffset(uint64_t rowOffset) const {
  for (const RowSegment& segment : segments_) {
    if (rowOffset < segment.rowOffset + segment.length) {
      return segment.gatheredOffset + (rowOffset - segment.rowOffset);
    }
  }
  return rowOffset;
}

const QvdFieldMetadata& RowLayout::FirstBeyond(uint64_t got) const {
  for (size_t j : order_) {
    const QvdFieldMetadata& field = (*fields_)[j];
    if (field.bitWidth > 0 && field.bitOffset + field.bitWidth > got * 8) {
      return field;
    }
  }
  return last();
}

}  // namespace orv
