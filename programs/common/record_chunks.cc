#include "programs/common/record_chunks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "programs/common/record_reader.h"
#include "runtime/workers.h"
#include "types/type_traits_parser.h"

namespace orv {

namespace {

// Small enough that the chunks under way (twice the threads) stay few pages: a page the process
// touches for the first time costs more than parsing its bytes on some virtual machines.
constexpr size_t kChunkBytes = size_t{256} << 10;

// Whether `c` occurs an odd number of times in [data, data + size): each of 64 byte lanes keeps
// the parity of its matches, a form the compiler turns into vector compares and XORs.
bool OddCount(const char* data, size_t size, char c) {
  constexpr size_t kLanes = 64;
  unsigned char lanes[kLanes] = {};
  size_t at = 0;
  for (; size - at >= kLanes; at += kLanes) {
    for (size_t i = 0; i < kLanes; ++i) {
      lanes[i] ^= static_cast<unsigned char>(data[at + i] == c);
    }
  }
  unsigned char odd = 0;
  for (const unsigned char lane : lanes) {
    odd ^= lane;
  }
  for (; at < size; ++at) {
    odd ^= static_cast<unsigned char>(data[at] == c);
  }
  return odd != 0;
}

}  // namespace

size_t ChunkBytes() {
  const char* text = getenv("ORV_CHUNK_BYTES");
  if (text == nullptr) {
    return kChunkBytes;
  }
  const unsigned long long bytes = strtoull(text, nullptr, 10);
  return bytes == 0 ? kChunkBytes
                    : static_cast<size_t>(std::min<unsigned long long>(bytes, 1 << 30));
}

unsigned ChunkThreads(const RecordInputOptions& options) {
  const unsigned threads = options.threads == 0 ? AvailableCores() : options.threads;
  if (threads <= 1 || options.unbuffered || !options.debugFile.empty() || options.layout.empty()) {
    return 1;
  }
  if (!options.textInput) {
    return threads;
  }
  // The last field's separator ends the record; a record without one can't be cut.
  return options.csv || !options.layout[options.layout.size() - 1].separator().empty() ? threads
                                                                                       : 1;
}

ChunkCut ChooseChunkCut(const RecordInputOptions& options) {
  ChunkCut cut;
  if (!options.textInput) {
    for (const auto& field : options.layout) {
      const size_t width = field->StreamValueWidth();
      if (!field->nullable() && width != 0 && !cut.binary.empty() && !cut.binary.back().flag &&
          cut.binary.back().width != 0) {
        cut.binary.back().width += width;
      } else {
        cut.binary.push_back({field->nullable(), width});
      }
    }
    return cut;
  }
  if (options.csv) {
    cut.quote = '"';
    return cut;
  }
  const std::string_view separator = options.layout[options.layout.size() - 1].separator();
  cut.cutByte = separator.back();
  // One quote character for every quoted field: its count tells quoted line ends apart.
  for (const auto& field : options.layout) {
    const std::optional<char> quote = field->quote();
    if (quote && cut.quote && *quote != *cut.quote) {
      cut.quote.reset();
      break;
    }
    cut.quote = quote ? quote : cut.quote;
  }
  return cut;
}

ChunkSource::ChunkSource(IFileInput& input, ChunkCut cut)
    : input_(input), cut_(cut), chunkBytes_(ChunkBytes()), kept_(input.BufferPos()) {}

// Appends the input's bytes to `bytes` until it holds `wanted`; false when the input ends first.
bool ChunkSource::ReadMore(std::vector<char>& bytes, size_t wanted) {
  while (bytes.size() < wanted && error_ == 0) {
    if (input_.BufferPos() == input_.BufferEnd() && !input_.Refill(1)) {
      error_ = input_.status() == kInputError ? input_.errorNumber() : 0;
      return false;
    }
    const size_t step = std::min(wanted - bytes.size(),
                                 static_cast<size_t>(input_.BufferEnd() - input_.BufferPos()));
    bytes.insert(bytes.end(), input_.BufferPos(), input_.BufferPos() + step);
    input_.Advance(step);
    input_.DiscardConsumed(kept_);
  }
  return error_ == 0;
}

size_t FindTextCut(const char* data, size_t size, size_t from, const ChunkCut& cut, bool& odd) {
  if (!cut.quote) {
    const void* found = memrchr(data + from, cut.cutByte, size - from);
    return found == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(found) - data) + 1;
  }
  const char quote = *cut.quote;
  odd = odd != OddCount(data + from, size - from, quote);
  // The quotes before each cut byte, from the end back: odd ones mean the byte is quoted.
  bool before = odd;
  for (size_t at = size; at > from;) {
    const char c = data[--at];
    if (c == cut.cutByte && !before) {
      return at + 1;
    }
    before = c == quote ? !before : before;
  }
  return 0;
}

// Binary records: the end of the last whole record in `bytes` after `from`, a record's start.
size_t ChunkSource::FindRecordsEnd(const std::vector<char>& bytes, size_t from) const {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  for (size_t at = from;; from = at) {
    for (const BinaryStep& step : cut_.binary) {
      if (step.flag) {
        if (at == size) {
          return from;
        }
        if ((data[at++] & 1) != 0) {
          continue;
        }
      }
      size_t width = step.width;
      if (width == 0) {
        uint32_t length = 0;
        if (size - at < sizeof length) {
          return from;
        }
        memcpy(&length, data + at, sizeof length);
        at += sizeof length;
        width = length;
      }
      if (size - at < width) {
        return from;
      }
      at += width;
    }
  }
}

bool ChunkSource::Fill(std::vector<char>& bytes, ChunkEnd& end) {
  if (ended_) {
    return false;
  }
  bytes.reserve(chunkBytes_ + chunkBytes_ / 4);  // once a slot: growing would touch twice the pages
  bytes.assign(carry_.begin() + static_cast<long>(carryAt_), carry_.end());
  carry_.clear();
  carryAt_ = 0;
  // What earlier rounds found, so that each round scans only the bytes it read: binary records,
  // the end of those whole so far; text, the bytes scanned without a cut and their quotes' parity.
  size_t recordsEnd = 0;
  size_t scanned = 0;
  bool odd = false;
  for (size_t wanted = chunkBytes_;; wanted = bytes.size() + chunkBytes_) {
    if (!ReadMore(bytes, wanted)) {
      ended_ = true;
      end = error_ != 0 ? ChunkEnd::kFailure : ChunkEnd::kInput;
      return !bytes.empty() || error_ != 0;
    }
    size_t cut = 0;
    if (!cut_.binary.empty()) {
      cut = recordsEnd = FindRecordsEnd(bytes, recordsEnd);
    } else {
      cut = FindTextCut(bytes.data(), bytes.size(), scanned, cut_, odd);
      scanned = bytes.size();
    }
    if (cut != 0) {
      carry_.assign(bytes.begin() + static_cast<long>(cut), bytes.end());
      bytes.resize(cut);
      end = ChunkEnd::kCut;
      return true;
    }
  }
}

long ChunkSource::Pull(char* out, size_t capacity) {
  if (carryAt_ < carry_.size()) {
    const size_t step = std::min(capacity, carry_.size() - carryAt_);
    memcpy(out, carry_.data() + carryAt_, step);
    carryAt_ += step;
    return static_cast<long>(step);
  }
  if (error_ == 0 && input_.BufferPos() == input_.BufferEnd() && !input_.Refill(1)) {
    error_ = input_.status() == kInputError ? input_.errorNumber() : 0;
    if (error_ == 0) {
      return 0;
    }
  }
  if (error_ != 0) {
    errno = error_;
    return -1;
  }
  const size_t step =
      std::min(capacity, static_cast<size_t>(input_.BufferEnd() - input_.BufferPos()));
  memcpy(out, input_.BufferPos(), step);
  input_.Advance(step);
  input_.DiscardConsumed(kept_);
  return static_cast<long>(step);
}

long ChainInput::FillBuffer(char* buffer, size_t capacity) {
  if (!spans_.empty()) {
    auto& [data, size] = spans_.front();
    const size_t step = std::min(capacity, size);
    memcpy(buffer, data, step);
    data += step;
    size -= step;
    if (size == 0) {
      spans_.pop_front();
    }
    return static_cast<long>(step);
  }
  return source_.Pull(buffer, capacity);
}

}  // namespace orv
