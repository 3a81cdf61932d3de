// Record readers over a file descriptor or a byte range. Every operation returns a status:
// kInputOk, kInputEnd (no byte left), kInputTruncated (the input ended part way), kInputError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace orv {

inline constexpr int kInputOk = 0;
inline constexpr int kInputEnd = 1;
inline constexpr int kInputTruncated = 2;
inline constexpr int kInputError = 3;

class IFileInput {
 public:
  // `unbuffered`: never read ahead of what is asked for. `keepDebugDump`: keep the bytes of the
  // current record (since BeginRecord). `skipBom`: drop a UTF-8 byte-order mark at the start.
  static std::unique_ptr<IFileInput> Create(FILE* file, bool unbuffered, bool keepDebugDump,
                                            bool skipBom);
  virtual ~IFileInput() = default;
  IFileInput(const IFileInput&) = delete;
  IFileInput& operator=(const IFileInput&) = delete;

  int ReadByte(char& out) {
    if (pos_ == end_ && !Refill(1)) {
      return status_;
    }
    out = *pos_++;
    return kInputOk;
  }
  // The next byte without consuming it.
  int PeekByte(char& out) {
    if (pos_ == end_ && !Refill(1)) {
      return status_;
    }
    out = *pos_;
    return kInputOk;
  }
  int Read(void* out, size_t n) {
    if (static_cast<size_t>(end_ - pos_) >= n) {
      memcpy(out, pos_, n);
      pos_ += n;
      return kInputOk;
    }
    return ReadSlow(static_cast<char*>(out), n);
  }
  int Skip(uint64_t n);
  // Reads up to `delimiter` into `out` (without it) and consumes the delimiter. The input ending
  // first gives kInputEnd when nothing was read, else kInputTruncated; `out` keeps what was read.
  int ReadUntil(char delimiter, std::string& out);
  // As ReadUntil, counting the skipped bytes (delimiter excluded) into `count`.
  int SkipUntil(char delimiter, uint64_t& count);

  uint64_t BytesConsumed() const { return bufferOffset_ + static_cast<uint64_t>(pos_ - data_); }

  // Marks the start of a record for the debug dump.
  void BeginRecord();
  // The bytes of the current record consumed so far (empty without keepDebugDump).
  std::string DebugDump() const;
  // Writes the debug dump to `path`; false when the file cannot be written.
  bool LogDebugDump(const std::string& path) const;

  // Direct access to the buffered bytes, for tokenizers: [data, data + size) are the next bytes.
  const char* BufferPos() const { return pos_; }
  const char* BufferEnd() const { return end_; }
  void Advance(size_t n) { pos_ += n; }
  // Makes at least one more byte available; false at end of input or on error (see status()).
  bool Refill(size_t wanted);
  // Makes `n` bytes available at BufferPos(); false when the input ends first.
  bool Ensure(size_t n) {
    while (static_cast<size_t>(end_ - pos_) < n) {
      if (!Refill(n - static_cast<size_t>(end_ - pos_))) {
        return false;
      }
    }
    return true;
  }
  int status() const { return status_; }
  // Every byte of the input is in the buffer, which stays where it is while the input lives:
  // readers may keep pointers into it instead of copies.
  bool Pinned() const { return pinned_; }
  // Bytes [begin, end) of a pinned buffer will not be read again: the input may give their
  // memory back.
  virtual void Discard(const char* /*begin*/, const char* /*end*/) {}
  // Bytes [begin, end) of a pinned buffer will all be read next: the input may bring their pages
  // in at once, which costs less than a fault at a time.
  virtual void Prefault(const char* /*begin*/, const char* /*end*/) {}
  // Copies the n bytes at `at` of a pinned buffer into `out` without touching the buffer's pages,
  // where the input can; false where it can't (the caller then reads them in the buffer). Any
  // thread may call it while the input is read on another.
  virtual bool CopyOut(const char* /*at*/, size_t /*n*/, char* /*out*/) { return false; }
  // Discards what was consumed since `kept` once that is 4 MiB or more, and moves `kept` on.
  void DiscardConsumed(const char*& kept) { DiscardBefore(kept, pos_); }
  // As DiscardConsumed, for the bytes from `kept` to `upTo` (at or before BufferPos()).
  void DiscardBefore(const char*& kept, const char* upTo) {
    if (pinned_ && upTo - kept >= (std::ptrdiff_t{1} << 22)) {
      Discard(kept, upTo);
      kept = upTo;
    }
  }
  // The system's error number of the read that failed (status() kInputError); else 0.
  int errorNumber() const { return errorNumber_; }

 protected:
  IFileInput(bool keepDebugDump) : keepDump_(keepDebugDump) {}
  // Fills `buffer` with up to `capacity` new bytes; returns the count (0 at end), -1 on error with
  // errno set.
  virtual long FillBuffer(char* buffer, size_t capacity) = 0;
  // Skips n bytes without reading them when the source can; returns the count skipped or -1 when
  // it cannot.
  virtual long long SeekForward(uint64_t) { return -1; }

  void SetBuffer(const char* data, size_t size) {
    data_ = pos_ = data;
    end_ = data + size;
  }

  std::vector<char> storage_;
  size_t fillSize_ = 65536;
  bool pinned_ = false;

 private:
  int ReadSlow(char* out, size_t n);
  // FillBuffer, the input's status set where it ends (0) or fails (-1).
  long FillChecked(char* buffer, size_t capacity);
  // Up to n bytes from the source into `out`, the buffer (empty) passed by; false at the end or on
  // an error.
  bool FillDirect(char* out, size_t n, size_t& got);

  const char* data_ = nullptr;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  uint64_t bufferOffset_ = 0;  // bytes consumed before data_
  int status_ = kInputOk;
  int errorNumber_ = 0;
  bool keepDump_;
  std::string dump_;                // record bytes from buffers already dropped
  const char* dumpMark_ = nullptr;  // record start within the current buffer
};

// Reads a byte range that the caller keeps alive.
class MemoryInput : public IFileInput {
 public:
  MemoryInput(const void* data, size_t size, bool keepDebugDump = false);

 protected:
  long FillBuffer(char*, size_t) override { return 0; }
};

}  // namespace orv
