#include "qvd/symbol_outputs.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace orv {

namespace {

// n entries, each a length byte (where `lengthByte`), a flag byte 0 (where `flagged`) and W bytes
// from `values`, `stride` apart.
template <size_t W>
void PlaceValues(const char* values, uint64_t n, bool lengthByte, bool flagged, char* to,
                 size_t stride) {
  const auto size = static_cast<char>(W + (flagged ? 1 : 0));
  for (uint64_t i = 0; i < n; ++i, to += stride, values += W) {
    char* at = to;
    if (lengthByte) {
      *at++ = size;
    }
    if (flagged) {
      *at++ = 0;
    }
    memcpy(at, values, W);
  }
}

}  // namespace

std::unique_ptr<SymbolOutputs> SymbolOutputs::Borrow(const char* first, uint64_t symbols,
                                                     size_t stride, size_t valueWidth,
                                                     bool flagged) {
  auto outputs = std::make_unique<SymbolOutputs>(symbols + 1);
  outputs->count_ = symbols + 1;
  outputs->leadingUnused_ = 1;
  outputs->stride_ = stride;
  outputs->fixed_ = !flagged;
  outputs->borrowed_ = true;
  outputs->valueWidth_ = valueWidth;
  outputs->zero_ = outputs->null_;
  outputs->first_ = first + 1;
  outputs->step_ = static_cast<ptrdiff_t>(stride);
  return outputs;
}

std::unique_ptr<SymbolOutputs> SymbolOutputs::BorrowPrinted(const char* first, uint64_t symbols,
                                                            size_t stride, const TypeTraits& type,
                                                            const QvdFieldMetadata& field,
                                                            TypeTraits::AffixedPrinting printing) {
  const size_t width =
      1 + std::max(printing.before.size() + type.LongestPlainText() + printing.after.size(),
                   printing.null.size());
  if (width > kMaxWidth || type.LongestPlainText() == 0) {
    return nullptr;
  }
  auto outputs = Borrow(first, symbols, stride, stride, true);
  outputs->first_ = first;  // entries at the symbols' kind bytes
  outputs->null_[0] = static_cast<char>(printing.null.size());
  memcpy(outputs->null_ + 1, printing.null.data(), printing.null.size());
  outputs->printer_ = &type;
  outputs->field_ = &field;
  outputs->printing_ = std::move(printing);
  outputs->printWidth_ = width;
  return outputs;
}

std::unique_ptr<SymbolOutputs> SymbolOutputs::BorrowRead(const char* first, uint64_t symbols,
                                                         size_t stride, const TypeTraits& type,
                                                         const QvdFieldMetadata& field) {
  const size_t width = type.StreamValueWidth();
  if (width != 4 && width != 8) {
    return nullptr;
  }
  auto outputs = Borrow(first, symbols, stride, width, type.nullable());
  outputs->first_ = first;  // entries at the symbols' kind bytes
  outputs->reader_ = &type;
  outputs->field_ = &field;
  return outputs;
}

size_t SymbolOutputs::CopyEntry(uint64_t e, char* to) const {
  if (reader_ != nullptr) {
    if (e == 0) {
      to[0] = 1;
      return 1;
    }
    const char* entry = at(e);
    to[0] = 0;
    reader_->ReadPlainValues(&entry, 1, stride_, *field_, fixed_ ? to : to + 1, valueWidth_);
    return fixed_ ? valueWidth_ : valueWidth_ + 1;
  }
  if (printer_ != nullptr) {
    char printed[kMaxWidth + kStageSlack];
    const char* entry = at(e);
    if (e != 0) {
      printer_->PrintPlainValues(&entry, 1, stride_, *field_, printing_, printed, printWidth_);
      entry = printed;
    }
    const auto size = static_cast<uint8_t>(entry[0]);
    memcpy(to, entry + 1, size);
    return size;
  }
  if (!borrowed_ || fixed_) {
    const std::string_view entry = bytes(e);
    memcpy(to, entry.data(), entry.size());
    return entry.size();
  }
  if (e == 0) {
    to[0] = 1;
    return 1;
  }
  to[0] = 0;
  memcpy(to + 1, at(e), valueWidth_);
  return valueWidth_ + 1;
}

void SymbolOutputs::Stage(const char* const* entries, uint64_t n, char* stage) const {
  const size_t w = width();
  if (printer_ != nullptr) {
    printer_->PrintPlainValues(entries, n, stride_, *field_, printing_, stage, w);
    for (uint64_t r = 0; r < n; ++r) {
      if (entries[r] == null_) {
        memcpy(stage + r * w, null_, w);
      }
    }
    return;
  }
  if (reader_ != nullptr) {
    reader_->ReadPlainValues(entries, n, stride_, *field_, fixed_ ? stage : stage + 2, w);
    if (fixed_) {
      return;
    }
  }
  if (borrowed_ && !fixed_) {  // a nullable field's: a length byte and a flag byte first
    const auto value = static_cast<char>(valueWidth_ + 1);
    for (uint64_t r = 0; r < n; ++r, stage += w) {
      if (entries[r] == null_) {
        memcpy(stage, null_, 2);
      } else {
        stage[0] = value;
        stage[1] = 0;
        if (reader_ == nullptr) {
          memcpy(stage + 2, entries[r], 8);  // 4 or 8 value bytes
        }
      }
    }
    return;
  }
  for (uint64_t r = 0; r < n; ++r, stage += w) {
    if (w <= 16) {
      memcpy(stage, entries[r], 16);
    } else if (w <= kStageSlack) {
      memcpy(stage, entries[r], kStageSlack);
    } else {
      memcpy(stage, entries[r], w);
    }
  }
}

bool SymbolOutputs::Fit(size_t size) {
  if (size > kMaxWidth) {
    return false;
  }
  if (count_ == leadingUnused_) {
    return Restride(size, true);
  }
  if (fixed_ ? size != stride_ : size + 1 > stride_) {
    // Entries of differing widths take a length byte; a wider one widens every entry, by half
    // again at least, so that slowly growing texts don't move the table at each step.
    const size_t wanted = std::max(size, fixed_ ? stride_ : stride_ - 1) + 1;
    const size_t grown = fixed_ ? wanted : std::max(wanted, stride_ + stride_ / 2);
    return Restride(std::min(grown, kMaxWidth + 1), false);
  }
  return true;
}

bool SymbolOutputs::AppendValues(const char* values, uint64_t n, size_t width, bool flagged) {
  if (n == 0) {
    return true;
  }
  if (n > entries_ - count_ || (width != 4 && width != 8) || !Fit(width + (flagged ? 1 : 0))) {
    return false;
  }
  char* to = buffer_.data() + count_ * stride_;
  if (width == 4) {
    PlaceValues<4>(values, n, !fixed_, flagged, to, stride_);
  } else {
    PlaceValues<8>(values, n, !fixed_, flagged, to, stride_);
  }
  count_ += n;
  return true;
}

bool SymbolOutputs::Append(std::string_view bytes, Mark mark) {
  if (count_ >= entries_ || !Fit(bytes.size())) {
    return false;
  }
  char* p = buffer_.data() + count_ * stride_;
  if (!fixed_) {
    *p++ = static_cast<char>(bytes.size());
  }
  if (!bytes.empty()) {
    memcpy(p, bytes.data(), bytes.size());
  }
  if (mark != kClean) {
    if (marks_.empty()) {
      marks_.assign(static_cast<size_t>(entries_), kClean);
    }
    marks_[count_] = mark;
  }
  ++count_;
  return true;
}

bool SymbolOutputs::AppendAll(const SymbolOutputs& part) {
  for (uint64_t e = 0; e < part.count_; ++e) {
    if (e < part.leadingUnused_) {
      AppendUnused();
    } else if (!Append(part.bytes(e), part.mark(e))) {
      return false;
    }
  }
  return true;
}

bool SymbolOutputs::Restride(size_t stride, bool fixed) {
  if (stride != 0 && (entries_ > (SIZE_MAX - kSlack) / stride || entries_ > maxBytes_ / stride)) {
    return false;
  }
  LargeBuffer moved;
  if (!moved.Allocate(static_cast<size_t>(entries_) * stride + kSlack)) {
    return false;
  }
  for (uint64_t e = leadingUnused_; e < count_; ++e) {
    std::string_view old = bytes(e);
    char* p = moved.data() + e * stride;
    if (!fixed) {
      *p++ = static_cast<char>(old.size());
    }
    if (!old.empty()) {
      memcpy(p, old.data(), old.size());
    }
  }
  moved.ReleaseRoom(moved.size());  // kept while the rows are read
  buffer_ = std::move(moved);
  stride_ = stride;
  fixed_ = fixed;
  zero_ = buffer_.data();
  first_ = buffer_.data() + stride;
  step_ = static_cast<ptrdiff_t>(stride);
  return true;
}

}  // namespace orv
