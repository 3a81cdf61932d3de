#include "runtime/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/large_allocator.h"

namespace orv {

BufferedFileOutput::BufferedFileOutput(FILE* file, bool unbuffered)
    : file_(file),
      unbuffered_(unbuffered),
      buffer_(static_cast<char*>(AllocateLarge(kBufferSize))) {}

BufferedFileOutput::BufferedFileOutput(std::string* sink)
    : file_(nullptr),
      sink_(sink),
      unbuffered_(false),
      buffer_(static_cast<char*>(AllocateLarge(kBufferSize))) {}

BufferedFileOutput::BufferedFileOutput(InMemory)
    : file_(nullptr),
      unbuffered_(false),
      inMemory_(true),
      buffer_(static_cast<char*>(AllocateLarge(kBufferSize))) {}

BufferedFileOutput::~BufferedFileOutput() {
  flush();
  FreeLarge(buffer_, capacity_);
}

bool BufferedFileOutput::flush() {
  if (inMemory_) {
    return true;
  }
  if (sink_ != nullptr) {
    sink_->append(buffer_, used_);
    written_ += used_;
    used_ = 0;
    return true;
  }
  if (used_ > 0) {
    if (fwrite(buffer_, 1, used_, file_) != used_) {
      Fail();
    }
    written_ += used_;
    used_ = 0;
  }
  if (fflush(file_) != 0) {
    Fail();
  }
  return !failed_;
}

void BufferedFileOutput::Fail() {
  if (!failed_) {
    error_ = errno;
  }
  failed_ = true;
}

void BufferedFileOutput::Grow(size_t capacity) {
  buffer_ = static_cast<char*>(ReallocateLarge(buffer_, capacity_, capacity));
  capacity_ = capacity;
}

char* BufferedFileOutput::ReserveSlow(size_t n) {
  if (unbuffered_) {
    return nullptr;
  }
  if (inMemory_) {
    Grow(std::max(2 * capacity_, used_ + n));
  } else {
    flush();
  }
  return n <= capacity_ - used_ ? buffer_ + used_ : nullptr;
}

void BufferedFileOutput::WriteSlow(const char* data, size_t n) {
  if (inMemory_) {
    Grow(std::max(2 * capacity_, used_ + n));
    memcpy(buffer_ + used_, data, n);
    used_ += n;
    return;
  }
  flush();
  if (sink_ != nullptr) {
    sink_->append(data, n);
    written_ += n;
    return;
  }
  if (n >= kBufferSize) {
    if (fwrite(data, 1, n, file_) != n) {
      Fail();
    }
    written_ += n;
    return;
  }
  memcpy(buffer_, data, n);
  used_ = n;
  if (unbuffered_) {
    flush();
  }
}

}  // namespace orv
