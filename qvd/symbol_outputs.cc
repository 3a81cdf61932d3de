#include "qvd/symbol_outputs.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <utility>

namespace orv {

bool LargeBuffer::Reserve(size_t size) {
  Release();
  void* p = mmap(nullptr, std::max<size_t>(size, 1), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    return false;
  }
  madvise(p, size, MADV_HUGEPAGE);
  data_ = static_cast<char*>(p);
  size_ = size;
  mapped_ = true;
  return true;
}

bool LargeBuffer::Allocate(size_t size) {
  if (size >= kHugePage && Reserve(size)) {
    return true;
  }
  Release();
  data_ = new (std::nothrow) char[std::max<size_t>(size, 1)]();
  size_ = data_ != nullptr ? size : 0;
  return data_ != nullptr;
}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void LargeBuffer::Release() {
  if (data_ != nullptr) {
    if (mapped_) {
      munmap(data_, std::max<size_t>(size_, 1));
    } else {
      delete[] data_;
    }
  }
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

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
