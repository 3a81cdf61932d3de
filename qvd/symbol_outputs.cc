#include "qvd/symbol_outputs.h"

#include <algorithm>
#include <new>
#include <utility>

namespace orv {

bool SymbolOutputs::Append(std::string_view bytes, Mark mark) {
  if (count_ >= entries_ || bytes.size() > kMaxWidth) {
    return false;
  }
  if (count_ == leadingUnused_) {
    if (!Restride(bytes.size(), true)) {
      return false;
    }
  } else if (fixed_ ? bytes.size() != stride_ : bytes.size() + 1 > stride_) {
    // Entries of differing widths take a length byte; a wider one widens every entry, by half
    // again at least, so that slowly growing texts don't move the table at each step.
    const size_t wanted = std::max(bytes.size(), fixed_ ? stride_ : stride_ - 1) + 1;
    const size_t grown = fixed_ ? wanted : std::max(wanted, stride_ + stride_ / 2);
    if (!Restride(std::min(grown, kMaxWidth + 1), false)) {
      return false;
    }
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
  buffer_ = std::move(moved);
  stride_ = stride;
  fixed_ = fixed;
  return true;
}

}  // namespace orv
