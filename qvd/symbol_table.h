// One field's symbol table, as the rows of a QVD file name its symbols: held in memory, or left on
// disk and read through a second handle of the file (low-memory mode).
//
// A symbol is a kind byte and its payload (see format/qvd_format.h); symbol s starts at
// s × uniformSize when every symbol has the same size, else at offsets[s], which a scan of the
// table finds. The offsets' width (Offset) is the narrowest that holds the longest table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "qvd/symbol_outputs.h"
#include "runtime/file_mapping.h"
#include "runtime/input.h"
#include "runtime/prefetch.h"
#include "runtime/status.h"
#include "runtime/workers.h"

namespace orv {

// The bytes of a symbol table held in memory. An input that holds every byte where it stays (a
// mapped file) lends them; otherwise a large table goes into an address range reserved for its
// claimed length, where pages exist only once the bytes have been read into them.
class TableBytes {
 public:
  const char* data() const {
    return view_ != nullptr ? view_ : mapped_.data() != nullptr ? mapped_.data() : fallback_.data();
  }
  char operator[](size_t i) const { return data()[i]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Reads `length` bytes; false when the input ends first. A large table goes into `spare` when
  // that is large enough (memory another table left, already paged in).
  bool ReadFrom(IFileInput& input, uint64_t length, LargeBuffer& spare);
  // Brings in the pages of lent bytes before a pass over all of them.
  void Prefault() const;
  // Gives the memory up: a large table's to `spare` when it is larger than what `spare` holds,
  // for the next table to be read into; lent bytes back to their input.
  void Release(LargeBuffer& spare);
  // Whether lent bytes were lost because the file shrank while it was read.
  bool Lost() const { return lost_ || (view_ != nullptr && FileMapping::LostIn(view_, size_)); }
  // Bytes that may be read after the table's end.
  size_t readableAfter() const { return readableAfter_; }

 private:
  const char* view_ = nullptr;  // lent by viewSource_
  IFileInput* viewSource_ = nullptr;
  bool lost_ = false;  // lent bytes given back were lost
  LargeBuffer mapped_;
  std::vector<char> fallback_;
  size_t size_ = 0;
  size_t readableAfter_ = 0;
};

// The symbol tables must tile the symbol area in header order: a field's Offset, where the header
// gives one, is the sum of the Lengths before it. A header that says otherwise would bind one
// field's symbols to another field.
Status CheckSymbolArea(const std::vector<QvdFieldMetadata>& fields);

// Symbols in each piece of a table that a check shares among threads.
constexpr uint64_t kScanPiece = uint64_t{1} << 18;

// The size of every symbol of a table of numbers of one kind (an int or a double symbol), from
// its first kind byte; 0 for any other kind.
uint64_t NumberSymbolSize(uint8_t kind);

// How many of the n symbols of `size` bytes each at `bytes` start with `kind` before one that
// doesn't.
uint64_t KindRun(const char* bytes, uint8_t kind, uint64_t size, uint64_t n);

// The table mapped from a second handle of the file: its pages come from the page cache when a
// symbol is touched and are the kernel's to drop again, so the process keeps no copy of the table.
// Where mapping fails, symbols are read through a window of the table.
class DiskTable {
 public:
  DiskTable() = default;
  DiskTable(const DiskTable&) = delete;
  DiskTable& operator=(const DiskTable&) = delete;

  // Opens `path` again for the table of `length` bytes at `position`.
  Status Open(const std::string& path, uint64_t position, uint64_t length);
  // Bytes [start, start + size) of the table, which the caller has checked lie inside it.
  bool Fetch(uint64_t start, uint64_t size, const char*& bytes) {
    if (mapping_.data() != nullptr) {
      bytes = mapping_.data() + start;
      return true;
    }
    return FetchThroughWindow(start, size, bytes);
  }
  // Starts loading byte `start` of a mapped table into the cache.
  void Prefetch(uint64_t start) const {
    if (mapping_.data() != nullptr && start < length_) {
      PrefetchLine(mapping_.data() + start);
    }
  }
  // Whether a page of this table was lost because the file shrank while it was read (the bytes
  // fetched from it since are zeros).
  bool Lost() const { return mapping_.Lost(); }
  // Fetches read a mapping of the file, which threads may share (not a window of its own).
  bool mapped() const { return mapping_.data() != nullptr; }
  // The mapped table, and the file's bytes mapped after it (up to kSlack).
  const char* data() const { return mapping_.data(); }
  size_t readableAfter() const { return readableAfter_; }
  static constexpr size_t kSlack = 64;

 private:
  bool FetchThroughWindow(uint64_t start, uint64_t size, const char*& bytes);

  struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
  };
  std::unique_ptr<FILE, FileCloser> file_;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  FileMapping mapping_;
  size_t readableAfter_ = 0;
  std::string window_;  // bytes of the table from windowStart_, read from file_
  uint64_t windowStart_ = 0;
  uint64_t windowSize_ = 4096;
};

template <typename Offset>
class SymbolTable {
 public:
  explicit SymbolTable(const QvdFieldMetadata& metadata) : metadata_(&metadata) {}

  // Reads the table into memory and finds its symbols. With `guessUniform`, a table whose length
  // is exactly NoOfSymbols numbers of its first symbol's kind is taken as such without a scan.
  Status LoadInMemory(IFileInput& input, bool guessUniform, LargeBuffer& spare);
  // LoadInMemory in two steps: the bytes, read in turn from the input, then the scan of them,
  // which may run on another thread.
  Status ReadInMemory(IFileInput& input, bool guessUniform, LargeBuffer& spare);
  // With `pool`, a large table of numbers is checked in pieces on its threads too. A table on disk
  // that LoadOnDisk left to scan is scanned through its mapping here.
  Status ScanInMemory(TaskPool* pool = nullptr);
  // Scans the table as it passes in `input`, keeping only the offsets; its bytes are read again
  // through a second handle of the file at `path`. With `scanLater`, a table that can be mapped
  // is only passed in `input`, and ScanInMemory scans it (on a worker, say).
  Status LoadOnDisk(IFileInput& input, bool guessUniform, const std::string& path,
                    bool scanLater = false);
  // Gives up the table's bytes and offsets (after its outputs were made), memory to `spare`.
  void Release(LargeBuffer& spare);

  const QvdFieldMetadata& metadata() const { return *metadata_; }
  uint64_t length() const { return metadata_->length; }
  bool onDisk() const { return disk_ != nullptr; }
  // Threads may fetch symbols side by side: the table is in memory or mapped.
  bool sharedReads() const { return disk_ == nullptr || disk_->mapped(); }
  // The table's bytes in memory or mapped, back to back, where its symbols have one size; else
  // null.
  const char* uniformBytes() const {
    return uniformSize_ == 0 ? nullptr : disk_ == nullptr ? bytes_.data() : disk_->data();
  }
  size_t readableAfter() const {
    return disk_ == nullptr ? bytes_.readableAfter() : disk_->readableAfter();
  }
  // A table whose file shrank while it was read.
  bool lost() const { return disk_ != nullptr ? disk_->Lost() : bytes_.Lost(); }
  bool guessed() const { return guessed_; }
  // The kind of every symbol, where the scan checked them all to be numbers of one kind; else 0.
  uint8_t oneKind() const { return oneKind_; }
  uint64_t uniformSize() const { return uniformSize_; }

  // The bytes of symbol s; false when s is outside the table or can't be read.
  bool Fetch(uint64_t s, const char*& symbol, size_t& size);
  // Starts loading the bytes (or the offset) of symbol s into the cache.
  void Prefetch(uint64_t s) const;
  // Starts loading the bytes of symbol s, whose offset Prefetch loaded a while before: its first
  // two cache lines.
  void PrefetchBytes(uint64_t s) const;
  // Whether symbols are found through offsets, which Prefetch loads first.
  bool hasOffsets() const { return uniformSize_ == 0; }

 private:
  enum class Scan { kOk, kDamaged, kCutShort };
  Scan ScanMemory(const char* data, uint64_t length, TaskPool* pool);
  Status ScanMapped(TaskPool* pool);
  Scan ScanInput(IFileInput& input);
  // Reads the numbers of one kind that fill the table exactly, kind bytes alone, up to the first
  // symbol of another kind (whose offsets it then keeps); how many.
  uint64_t ScanNumbersOfOneKind(IFileInput& input);
  // Keeps the uniform size that the scan found; the offsets are then not needed.
  void SeeSize(uint64_t size);
  void SettleUniformSize();
  Status Damaged() const;
  Status CutShort() const;

  const QvdFieldMetadata* metadata_;
  uint64_t uniformSize_ = 0;        // 0: sizes differ (or no symbol)
  uint64_t seenSize_ = UINT64_MAX;  // UINT64_MAX: no symbol seen; 0: sizes differ
  bool guessed_ = false;
  bool scanMapped_ = false;  // a table on disk, still to scan through its mapping
  uint8_t oneKind_ = 0;
  std::vector<Offset> offsets_;
  TableBytes bytes_;                 // memory mode
  std::unique_ptr<DiskTable> disk_;  // low-memory mode
};

template <typename Offset>
inline bool SymbolTable<Offset>::Fetch(uint64_t s, const char*& symbol, size_t& size) {
  if (s >= metadata_->noOfSymbols) {
    return false;
  }
  const uint64_t length = metadata_->length;
  uint64_t start;
  uint64_t bytes;
  if (uniformSize_ != 0) {
    start = s * uniformSize_;
    bytes = uniformSize_;
  } else {
    if (s >= offsets_.size()) {
      return false;
    }
    start = offsets_[s];
    bytes = (s + 1 < offsets_.size() ? offsets_[s + 1] : length) - start;
  }
  if (start >= length || (disk_ == nullptr && start >= bytes_.size())) {
    return false;
  }
  bytes = std::min(bytes, length - start);
  size = static_cast<size_t>(bytes);
  if (disk_ == nullptr) {
    symbol = bytes_.data() + start;
    return true;
  }
  return disk_->Fetch(start, bytes, symbol);
}

template <typename Offset>
inline void SymbolTable<Offset>::Prefetch(uint64_t s) const {
  if (uniformSize_ != 0) {
    if (s >= metadata_->noOfSymbols) {
      return;
    }
    if (disk_ != nullptr) {
      disk_->Prefetch(s * uniformSize_);
    } else if (s * uniformSize_ < bytes_.size()) {
      PrefetchLine(bytes_.data() + s * uniformSize_);
    }
  } else if (s < offsets_.size()) {
    PrefetchLine(&offsets_[s]);
  }
}

template <typename Offset>
inline void SymbolTable<Offset>::PrefetchBytes(uint64_t s) const {
  if (uniformSize_ != 0) {
    Prefetch(s);
    return;
  }
  if (s >= offsets_.size()) {
    return;
  }
  const uint64_t start = offsets_[s];
  if (disk_ != nullptr) {
    disk_->Prefetch(start);
    disk_->Prefetch(start + 64);
  } else if (start < bytes_.size()) {
    PrefetchLine(bytes_.data() + start);
    if (bytes_.size() - start > 64) {
      PrefetchLine(bytes_.data() + start + 64);
    }
  }
}

extern template class SymbolTable<uint8_t>;
extern template class SymbolTable<uint16_t>;
extern template class SymbolTable<uint32_t>;
extern template class SymbolTable<uint64_t>;

}  // namespace orv
