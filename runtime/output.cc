#include "runtime/output.h"

namespace orv {

BufferedFileOutput::BufferedFileOutput(FILE* file, bool unbuffered)
    : file_(file), unbuffered_(unbuffered), buffer_(new char[kBufferSize]) {}

BufferedFileOutput::BufferedFileOutput(std::string* sink)
    : file_(nullptr), sink_(sink), unbuffered_(false), buffer_(new char[kBufferSize]) {}

BufferedFileOutput::~BufferedFileOutput() {
  flush();
}

bool BufferedFileOutput::flush() {
  if (sink_ != nullptr) {
    sink_->append(buffer_.get(), used_);
    written_ += used_;
    used_ = 0;
    return true;
  }
  if (used_ > 0) {
    if (fwrite(buffer_.get(), 1, used_, file_) != used_) {
      failed_ = true;
    }
    written_ += used_;
    used_ = 0;
  }
  if (fflush(file_) != 0) {
    failed_ = true;
  }
  return !failed_;
}

void BufferedFileOutput::WriteSlow(const char* data, size_t n) {
  flush();
  if (sink_ != nullptr) {
    sink_->append(data, n);
    written_ += n;
    return;
  }
  if (n >= kBufferSize) {
    if (fwrite(data, 1, n, file_) != n) {
      failed_ = true;
    }
    written_ += n;
    return;
  }
  memcpy(buffer_.get(), data, n);
  used_ = n;
  if (unbuffered_) {
    flush();
  }
}

}  // namespace orv
