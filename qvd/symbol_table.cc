#include "qvd/symbol_table.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

namespace orv {

namespace {

// Bytes of the symbol whose kind byte is `kind`, beyond the kind byte and before any text; -1 for
// a kind that is not a symbol.
int FixedPayload(uint8_t kind) {
  switch (kind) {
    case qvd::kSymbolInt:
    case qvd::kSymbolDualInt:
      return 4;
    case qvd::kSymbolDouble:
    case qvd::kSymbolDualDouble:
      return 8;
    case qvd::kSymbolText:
      return 0;
    default:
      return -1;
  }
}

bool HasText(uint8_t kind) {
  return kind >= qvd::kSymbolText;
}

// Whether a table of `count` symbols and `length` bytes is exactly `count` numbers of `size`.
bool FillsExactly(uint64_t size, uint64_t count, uint64_t length) {
  return size != 0 && count <= UINT64_MAX / size && count * size == length;
}

// Whether symbols 1 to n - 1 of `size` bytes each start with `kind`, as symbol 0 does; a table of
// more than one piece is checked in pieces that `pool`'s threads take too.
bool SameKind(const char* bytes, uint8_t kind, uint64_t size, uint64_t n, TaskPool* pool) {
  return HoldsForEveryPiece(pool, n, kScanPiece, [&](uint64_t begin, uint64_t count) {
    return KindRun(bytes + begin * size, kind, size, count) == count;
  });
}

// How many of the next n symbols of `size` bytes each start with `kind`, checked a buffer at a
// time; the input is left after them.
uint64_t SameKindRun(IFileInput& input, uint8_t kind, uint64_t size, uint64_t n) {
  uint64_t s = 0;
  while (s < n && input.Ensure(size)) {
    const char* bytes = input.BufferPos();
    const uint64_t whole = std::min(static_cast<uint64_t>(input.BufferEnd() - bytes) / size, n - s);
    const uint64_t k = KindRun(bytes, kind, size, whole);
    input.Advance(k * size);
    s += k;
    if (k < whole) {
      break;
    }
  }
  return s;
}

}  // namespace

Status CheckSymbolArea(const std::vector<QvdFieldMetadata>& fields) {
  uint64_t at = 0;
  for (const QvdFieldMetadata& field : fields) {
    if ((field.offset && *field.offset != at) || field.length > UINT64_MAX - at) {
      return Status::Damaged("Bad symbol table offset of field '" + field.fieldName +
                             "' in QVD table header.");
    }
    at += field.length;
  }
  return Status::Ok();
}

uint64_t KindRun(const char* bytes, uint8_t kind, uint64_t size, uint64_t n) {
  uint64_t s = 0;
  while (s < n && static_cast<uint8_t>(bytes[s * size]) == kind) {
    ++s;
  }
  return s;
}

uint64_t NumberSymbolSize(uint8_t kind) {
  return kind == qvd::kSymbolInt ? 1 + 4 : kind == qvd::kSymbolDouble ? 1 + 8 : 0;
}

// --- TableBytes ----------------------------------------------------------------------------------

bool TableBytes::ReadFrom(IFileInput& input, uint64_t length, LargeBuffer& spare) {
  constexpr uint64_t kChunk = uint64_t{1} << 24;
  if (input.Pinned()) {
    if (static_cast<uint64_t>(input.BufferEnd() - input.BufferPos()) < length) {
      return false;
    }
    view_ = input.BufferPos();
    viewSource_ = &input;
    size_ = static_cast<size_t>(length);
    readableAfter_ = static_cast<size_t>(input.BufferEnd() - input.BufferPos()) - size_;
    input.Advance(size_);
    return true;
  }
  // A large table keeps room to read past its end, so that its bytes may serve as outputs.
  constexpr size_t kRoom = SymbolOutputs::kSlack;
  if (length >= kHugePage && length <= SIZE_MAX - kRoom) {
    if (spare.size() >= length + kRoom) {
      mapped_ = std::move(spare);
    } else {
      mapped_.Reserve(static_cast<size_t>(length) + kRoom);
    }
    readableAfter_ = mapped_.data() != nullptr ? mapped_.size() - static_cast<size_t>(length) : 0;
  }
  // Memory follows the bytes that arrive, never the claimed length alone.
  while (size_ < length) {
    auto step = static_cast<size_t>(std::min<uint64_t>(kChunk, length - size_));
    if (mapped_.data() == nullptr) {
      fallback_.resize(size_ + step);
    }
    char* at = (mapped_.data() != nullptr ? mapped_.data() : fallback_.data()) + size_;
    if (input.Read(at, step) != kInputOk) {
      return false;
    }
    size_ += step;
  }
  return true;
}

void TableBytes::Prefault() const {
  if (view_ != nullptr) {
    viewSource_->Prefault(view_, view_ + size_);
  }
}

void TableBytes::Release(LargeBuffer& spare) {
  if (view_ != nullptr) {
    lost_ = Lost();
    viewSource_->Discard(view_, view_ + size_);
    view_ = nullptr;
  }
  if (mapped_.size() > spare.size()) {
    spare = std::move(mapped_);
  }
  mapped_.Release();
  fallback_.clear();
  fallback_.shrink_to_fit();
  size_ = 0;
  readableAfter_ = 0;
}

// --- DiskTable -----------------------------------------------------------------------------------

Status DiskTable::Open(const std::string& path, uint64_t position, uint64_t length) {
  file_.reset(fopen(path.c_str(), "rb"));
  if (file_ == nullptr) {
    return Status::IoError("Can't open input file: '" + path + "'.");
  }
  position_ = position;
  length_ = length;
  // The bytes after the table that the file holds, up to a copy's slack, are mapped too.
  struct stat info {};
  const int fd = fileno(file_.get());
  uint64_t after = 0;
  if (fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) >= position &&
      static_cast<uint64_t>(info.st_size) - position >= length) {
    after = std::min<uint64_t>(kSlack, static_cast<uint64_t>(info.st_size) - position - length);
  }
  if (length > 0 && length <= SIZE_MAX - after &&
      mapping_.Map(fd, position, static_cast<size_t>(length + after), false)) {
    readableAfter_ = static_cast<size_t>(after);
  }
  return Status::Ok();  // unmapped, symbols are read through the window
}

bool DiskTable::FetchThroughWindow(uint64_t start, uint64_t size, const char*& bytes) {
  // A window of the table stays in memory, so that neighbouring symbols cost no read. It doubles
  // while the reads run on from its end (up to 256 KiB) and falls back to 4 KiB when they jump,
  // so random access does not read far beyond each symbol.
  if (start < windowStart_ || start + size > windowStart_ + window_.size()) {
    constexpr uint64_t kSmallWindow = 4096;
    constexpr uint64_t kLargeWindow = 262144;
    const bool runsOn = !window_.empty() && start >= windowStart_ + window_.size() &&
                        start < windowStart_ + window_.size() + kSmallWindow;
    windowSize_ = runsOn ? std::min(windowSize_ * 2, kLargeWindow) : kSmallWindow;
    uint64_t want = std::min(std::max(size, windowSize_), length_ - start);
    window_.resize(want);
    ssize_t got =
        pread(fileno(file_.get()), window_.data(), want, static_cast<off_t>(position_ + start));
    if (got < 0 || static_cast<uint64_t>(got) < size) {
      window_.clear();
      return false;
    }
    window_.resize(static_cast<size_t>(got));
    windowStart_ = start;
  }
  bytes = window_.data() + (start - windowStart_);
  return true;
}

// --- SymbolTable ---------------------------------------------------------------------------------

template <typename Offset>
Status SymbolTable<Offset>::Damaged() const {
  return Status::Damaged("Symbol table of field '" + metadata_->fieldName + "' is damaged.");
}

template <typename Offset>
Status SymbolTable<Offset>::CutShort() const {
  return Status::Damaged("Error reading symbol table of field '" + metadata_->fieldName + "'.");
}

template <typename Offset>
void SymbolTable<Offset>::SeeSize(uint64_t size) {
  seenSize_ = seenSize_ == UINT64_MAX || seenSize_ == size ? size : 0;
}

template <typename Offset>
void SymbolTable<Offset>::SettleUniformSize() {
  if (!guessed_ && seenSize_ != UINT64_MAX && seenSize_ != 0) {
    uniformSize_ = seenSize_;
    offsets_.clear();
    offsets_.shrink_to_fit();
  }
}

template <typename Offset>
Status SymbolTable<Offset>::LoadInMemory(IFileInput& input, bool guessUniform, LargeBuffer& spare) {
  ORV_RETURN_IF_ERROR(ReadInMemory(input, guessUniform, spare));
  return ScanInMemory();
}

template <typename Offset>
Status SymbolTable<Offset>::ReadInMemory(IFileInput& input, bool guessUniform, LargeBuffer& spare) {
  const QvdFieldMetadata& field = *metadata_;
  if (!bytes_.ReadFrom(input, field.length, spare)) {
    return CutShort();
  }
  if (guessUniform && field.noOfSymbols > 0 && !bytes_.empty()) {
    const uint64_t size = NumberSymbolSize(static_cast<uint8_t>(bytes_[0]));
    guessed_ = FillsExactly(size, field.noOfSymbols, field.length);
    if (guessed_) {
      uniformSize_ = size;
    }
  }
  return Status::Ok();
}

template <typename Offset>
Status SymbolTable<Offset>::ScanInMemory(TaskPool* pool) {
  if (disk_ != nullptr) {
    return scanMapped_ ? ScanMapped(pool) : Status::Ok();
  }
  if (!guessed_) {
    bytes_.Prefault();  // the scan reads every page of the table
    if (ScanMemory(bytes_.data(), bytes_.size(), pool) != Scan::kOk) {
      return Damaged();
    }
  }
  SettleUniformSize();
  return Status::Ok();
}

template <typename Offset>
Status SymbolTable<Offset>::ScanMapped(TaskPool* pool) {
  scanMapped_ = false;
  const char* bytes = disk_->data();
  const uint64_t length = metadata_->length;
  FileMapping::Populate(bytes, bytes + length);
  if (ScanMemory(bytes, length, pool) != Scan::kOk) {
    return disk_->Lost() ? CutShort() : Damaged();  // lost: the file shrank since it was passed
  }
  SettleUniformSize();
  if (uniformSize_ == 0) {
    // Symbols of several sizes are fetched one at a time, as rows name them: no page need stay.
    FileMapping::Drop(bytes, bytes + length);
  }
  return Status::Ok();
}

template <typename Offset>
Status SymbolTable<Offset>::LoadOnDisk(IFileInput& input, bool guessUniform,
                                       const std::string& path, bool scanLater) {
  const QvdFieldMetadata& field = *metadata_;
  // Where the table really starts: the header's Offset only describes it.
  const uint64_t tableStart = input.BytesConsumed();
  if (guessUniform && field.noOfSymbols > 0 && field.length > 0) {
    char kindByte = 0;
    if (input.PeekByte(kindByte) != kInputOk) {
      return CutShort();
    }
    const uint64_t size = NumberSymbolSize(static_cast<uint8_t>(kindByte));
    guessed_ = FillsExactly(size, field.noOfSymbols, field.length);
    if (guessed_) {
      uniformSize_ = size;
      if (input.Skip(field.length) != kInputOk) {
        return CutShort();
      }
    }
  }
  if (!guessed_ && scanLater) {
    auto disk = std::make_unique<DiskTable>();
    ORV_RETURN_IF_ERROR(disk->Open(path, tableStart, field.length));
    if (disk->mapped()) {
      // The input only passes the table, which proves its bytes are in the file.
      if (input.Skip(field.length) != kInputOk) {
        return CutShort();
      }
      disk_ = std::move(disk);
      scanMapped_ = true;
      return Status::Ok();
    }
  }
  if (!guessed_) {
    const Scan result = ScanInput(input);
    if (result != Scan::kOk) {
      return result == Scan::kCutShort ? CutShort() : Damaged();
    }
  }
  disk_ = std::make_unique<DiskTable>();
  // The scan (or the guess's skip) has passed the whole table, so its bytes are in the file.
  ORV_RETURN_IF_ERROR(disk_->Open(path, tableStart, field.length));
  SettleUniformSize();
  return Status::Ok();
}

template <typename Offset>
void SymbolTable<Offset>::Release(LargeBuffer& spare) {
  bytes_.Release(spare);
  offsets_.clear();
  offsets_.shrink_to_fit();
}

template <typename Offset>
typename SymbolTable<Offset>::Scan SymbolTable<Offset>::ScanMemory(const char* data,
                                                                   uint64_t length,
                                                                   TaskPool* pool) {
  const uint64_t n = metadata_->noOfSymbols;
  const std::string_view bytes(data, length);
  // Numbers alone, all of one kind, fill a table exactly: then only the kind bytes need a look.
  if (n > 0 && !bytes.empty()) {
    const auto kind = static_cast<uint8_t>(bytes[0]);
    const uint64_t size = NumberSymbolSize(kind);
    if (FillsExactly(size, n, bytes.size()) && SameKind(bytes.data(), kind, size, n, pool)) {
      oneKind_ = kind;
      SeeSize(size);
      return Scan::kOk;
    }
  }
  uint64_t at = 0;
  offsets_.reserve(static_cast<size_t>(std::min<uint64_t>(n, bytes.size() / 2 + 1)));
  for (uint64_t s = 0; s < n; ++s) {
    if (at >= bytes.size()) {
      return Scan::kDamaged;
    }
    offsets_.push_back(static_cast<Offset>(at));
    const auto kind = static_cast<uint8_t>(bytes[at]);
    const int payload = FixedPayload(kind);
    if (payload < 0 || bytes.size() - at < 1 + static_cast<uint64_t>(payload)) {
      return Scan::kDamaged;
    }
    uint64_t size = 1 + static_cast<uint64_t>(payload);
    if (HasText(kind)) {
      const void* end = memchr(bytes.data() + at + size, 0, bytes.size() - at - size);
      if (end == nullptr) {
        return Scan::kDamaged;
      }
      size = static_cast<uint64_t>(static_cast<const char*>(end) - (bytes.data() + at)) + 1;
    }
    SeeSize(size);
    at += size;
  }
  return Scan::kOk;
}

template <typename Offset>
uint64_t SymbolTable<Offset>::ScanNumbersOfOneKind(IFileInput& input) {
  const uint64_t n = metadata_->noOfSymbols;
  char first = 0;
  if (n == 0 || input.PeekByte(first) != kInputOk) {
    return 0;
  }
  const uint64_t size = NumberSymbolSize(static_cast<uint8_t>(first));
  if (!FillsExactly(size, n, metadata_->length)) {
    return 0;
  }
  const uint64_t s = SameKindRun(input, static_cast<uint8_t>(first), size, n);
  oneKind_ = s == n ? static_cast<uint8_t>(first) : 0;
  if (s < n) {
    offsets_.reserve(static_cast<size_t>(s));
    for (uint64_t k = 0; k < s; ++k) {
      offsets_.push_back(static_cast<Offset>(k * size));
    }
  }
  if (s > 0) {
    SeeSize(size);
  }
  return s;
}

template <typename Offset>
typename SymbolTable<Offset>::Scan SymbolTable<Offset>::ScanInput(IFileInput& input) {
  const uint64_t n = metadata_->noOfSymbols;
  const uint64_t length = metadata_->length;
  uint64_t s = ScanNumbersOfOneKind(input);
  uint64_t at = s == 0 ? 0 : s * (length / n);  // those numbers fill the table exactly
  for (; s < n; ++s) {
    if (at >= length) {
      return Scan::kDamaged;
    }
    offsets_.push_back(static_cast<Offset>(at));
    char kindByte = 0;
    if (input.ReadByte(kindByte) != kInputOk) {
      return Scan::kCutShort;
    }
    const int payload = FixedPayload(static_cast<uint8_t>(kindByte));
    if (payload < 0) {
      return Scan::kDamaged;
    }
    uint64_t size = 1 + static_cast<uint64_t>(payload);
    if (input.Skip(static_cast<uint64_t>(payload)) != kInputOk) {
      return Scan::kCutShort;
    }
    if (HasText(static_cast<uint8_t>(kindByte))) {
      uint64_t count = 0;
      if (input.SkipUntil('\0', count) != kInputOk) {
        return Scan::kCutShort;
      }
      size += count + 1;
    }
    if (size > length - at) {
      return Scan::kDamaged;
    }
    SeeSize(size);
    at += size;
  }
  return input.Skip(length - at) == kInputOk || length == at ? Scan::kOk : Scan::kCutShort;
}

template class SymbolTable<uint8_t>;
template class SymbolTable<uint16_t>;
template class SymbolTable<uint32_t>;
template class SymbolTable<uint64_t>;

}  // namespace orv
