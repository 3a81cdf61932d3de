// Buffered writer that every program output goes through.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace orv {

class BufferedFileOutput {
 public:
  static constexpr size_t kBufferSize = 65536;

  // With `unbuffered` every write goes straight to the file.
  BufferedFileOutput(FILE* file, bool unbuffered);
  // Appends to `sink` instead of a file (at each flush).
  explicit BufferedFileOutput(std::string* sink);
  // Writes out what the buffer holds.
  ~BufferedFileOutput();
  BufferedFileOutput(const BufferedFileOutput&) = delete;
  BufferedFileOutput& operator=(const BufferedFileOutput&) = delete;

  void Write(const void* data, size_t n) {
    if (n <= kBufferSize - used_) {
      memcpy(buffer_.get() + used_, data, n);
      used_ += n;
      if (unbuffered_) {
        flush();
      }
      return;
    }
    WriteSlow(static_cast<const char*>(data), n);
  }
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  // Readable bytes that WriteSmall may touch beyond the end of its source.
  static constexpr size_t kSlack = 16;
  // As Write, for short pieces whose source has kSlack readable bytes after its end: copies a
  // fixed 16 bytes instead of calling memcpy for a few.
  void WriteSmall(const char* data, size_t n) {
    if (n <= kSlack && kBufferSize - used_ >= kSlack && !unbuffered_) {
      memcpy(buffer_.get() + used_, data, kSlack);
      used_ += n;
      return;
    }
    Write(data, n);
  }
  // A full buffer is written out before the byte is appended.
  void WriteByte(char c) {
    if (used_ == kBufferSize) {
      flush();
    }
    buffer_[used_++] = c;
    if (unbuffered_) {
      flush();
    }
  }
  // Writes the buffer to the file and flushes the file; false once any write has failed.
  bool flush();
  bool failed() const { return failed_; }
  FILE* file() const { return file_; }
  uint64_t BytesWritten() const { return written_ + used_; }

 private:
  void WriteSlow(const char* data, size_t n);

  FILE* file_;
  std::string* sink_ = nullptr;
  bool unbuffered_;
  bool failed_ = false;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
};

struct IFileOutput {
  static std::unique_ptr<BufferedFileOutput> Create(FILE* file, bool unbuffered) {
    return std::make_unique<BufferedFileOutput>(file, unbuffered);
  }
};

}  // namespace orv
