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
  // Keeps every byte in a buffer that grows as they come, written nowhere: buffered() holds them
  // until Discard, which keeps the room for the next bytes. For bytes that another thread writes
  // out later, without a copy.
  struct InMemory {};
  explicit BufferedFileOutput(InMemory);
  // Writes out what the buffer holds.
  ~BufferedFileOutput();
  BufferedFileOutput(const BufferedFileOutput&) = delete;
  BufferedFileOutput& operator=(const BufferedFileOutput&) = delete;

  void Write(const void* data, size_t n) {
    if (n <= capacity_ - used_) {
      memcpy(buffer_ + used_, data, n);
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
  static constexpr size_t kSlack = 32;
  // As Write, for short pieces whose source has kSlack readable bytes after its end: copies a
  // fixed 16 or 32 bytes instead of calling memcpy for a few.
  [[gnu::always_inline]] void WriteSmall(const char* data, size_t n) {
    if (n <= kSlack && capacity_ - used_ >= kSlack && !unbuffered_) {
      if (n <= 16) {
        memcpy(buffer_ + used_, data, 16);
      } else {
        memcpy(buffer_ + used_, data, kSlack);
      }
      used_ += n;
      return;
    }
    Write(data, n);
  }
  // As Write, for pieces of up to 64 bytes: two overlapping loads and stores of the largest
  // power of two that fits, reading nothing outside the piece (which may end a cache line).
  [[gnu::always_inline]] void WriteShort(const char* data, size_t n) {
    if (n > 64 || capacity_ - used_ < 64 || unbuffered_) {
      Write(data, n);
      return;
    }
    CopyShort(buffer_ + used_, data, n);
    used_ += n;
  }
  // Copies n bytes (at most 64) as WriteShort does: exactly those, read and written as two
  // overlapping blocks.
  [[gnu::always_inline]] static void CopyShort(char* out, const char* data, size_t n) {
    if (n >= 16) {
      CopyPair<16>(out, data, n, n > 32 ? 32 : 16);
    } else if (n >= 8) {
      CopyPair<8>(out, data, n, 8);
    } else if (n >= 4) {
      CopyPair<4>(out, data, n, 4);
    } else if (n > 0) {
      out[0] = data[0];
      out[n / 2] = data[n / 2];
      out[n - 1] = data[n - 1];
    }
  }
  // Room for the next n bytes, to be written there and then counted by Commit(n); what the buffer
  // held is written out (or the buffer grows) first where the room is short. Null when unbuffered
  // or when n bytes can't fit the buffer: Write them instead.
  char* Reserve(size_t n) {
    if (n <= capacity_ - used_ && !unbuffered_) {
      return buffer_ + used_;
    }
    return ReserveSlow(n);
  }
  void Commit(size_t n) { used_ += n; }
  // A full buffer is written out (or grows) before the byte is appended.
  void WriteByte(char c) {
    if (used_ == capacity_) {
      WriteSlow(&c, 1);
      return;
    }
    buffer_[used_++] = c;
    if (unbuffered_) {
      flush();
    }
  }
  // Writes the buffer to the file and flushes the file; false once any write has failed.
  bool flush();
  bool failed() const { return failed_; }
  // The system's error number of the first write that failed (EPIPE: the reader went away).
  int error() const { return error_; }
  // The bytes written since the last flush or Discard; Discard drops them unwritten.
  std::string_view buffered() const { return {buffer_, used_}; }
  void Discard() { used_ = 0; }
  FILE* file() const { return file_; }
  uint64_t BytesWritten() const { return written_ + used_; }

 private:
  void Fail();
  void WriteSlow(const char* data, size_t n);
  char* ReserveSlow(size_t n);
  void Grow(size_t capacity);
  // Copies n bytes (half <= n <= 2 × half, half a multiple of W) as blocks of W from both ends.
  template <size_t W>
  [[gnu::always_inline]] static void CopyPair(char* out, const char* data, size_t n, size_t half) {
    char head[W];
    char tail[W];
    for (size_t at = 0; at < half; at += W) {
      memcpy(head, data + at, W);
      memcpy(tail, data + n - half + at, W);
      memcpy(out + at, head, W);
      memcpy(out + n - half + at, tail, W);
    }
  }

  FILE* file_;
  std::string* sink_ = nullptr;
  bool unbuffered_;
  bool failed_ = false;
  int error_ = 0;
  bool inMemory_ = false;
  // From AllocateLarge, so that an in-memory buffer grows in place: its pages are remapped,
  // neither copied nor touched again.
  char* buffer_;
  size_t capacity_ = kBufferSize;
  size_t used_ = 0;
  uint64_t written_ = 0;
};

struct IFileOutput {
  static std::unique_ptr<BufferedFileOutput> Create(FILE* file, bool unbuffered) {
    return std::make_unique<BufferedFileOutput>(file, unbuffered);
  }
};

}  // namespace orv
