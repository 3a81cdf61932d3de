#include "types/flow_data_set.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

namespace orv {

FlowDataSet::FlowDataSet(TypeTraits& field, bool text)
    : field_(field),
      text_(text),
      nullable_(field.nullable()),
      width_(field.ValueWidth()),
      streamWidth_(text ? 0 : field.FixedStreamWidth()) {}

std::unique_ptr<FlowDataSet> FlowDataSet::Create(TypeTraits& field, bool text) {
  return std::unique_ptr<FlowDataSet>(new FlowDataSet(field, text));
}

int FlowDataSet::ReadValue(IFileInput& input) {
  if (!text_) {
    if (const int status = ReadFromBuffer(input); status != kNotInBuffer) {
      return status;
    }
  }
  size_t size = 0;
  int status = text_ ? field_.Parse(input, size, false) : field_.Read(input, size, false);
  if (status != kStatusOk) {
    return status;
  }
  StoreCurrent();
  return kStatusOk;
}

// A binary value whose bytes are all in the input's buffer, stored straight from them: a fixed
// width through the descriptor's DecodeStreamValue, a variable string where its LocateStreamValue
// finds the bytes. kNotInBuffer when the descriptor is to read the value instead (the buffer ends
// inside it, a flag byte is damaged), and report what it finds.
int FlowDataSet::ReadFromBuffer(IFileInput& input) {
  const char* in = input.BufferPos();
  const auto available = static_cast<size_t>(input.BufferEnd() - in);
  size_t flag = 0;
  if (nullable_) {
    const int isNull = available == 0 ? -1 : TypeTraits::NullFlag(in[0]);
    if (isNull < 0) {
      return kNotInBuffer;
    }
    if (isNull == 1) {
      input.Advance(1);
      Store(nullptr, 0, true);
      return kStatusOk;
    }
    flag = 1;
  }
  if (streamWidth_ != 0) {
    if (available - flag < streamWidth_) {
      return kNotInBuffer;
    }
    char* out = FixedSlot(count_);
    const bool valid = field_.DecodeStreamValue(in + flag, out);
    input.Advance(flag + streamWidth_);  // the bad value's bytes belong to the record's debug dump
    if (!valid) {
      memset(out, 0, width_);
      return kStatusBad;
    }
    Count(false);
    return kStatusOk;
  }
  const char* bytes = nullptr;
  size_t length = 0;
  const size_t used = field_.LocateStreamValue(in + flag, available - flag, bytes, length);
  if (used == 0) {
    return kNotInBuffer;
  }
  input.Advance(flag + used);
  Store(bytes, length, false);
  return kStatusOk;
}

char* FlowDataSet::FixedSlot(size_t i) {
  const size_t at = i * width_;
  if (values_.size() < at + width_) {
    values_.resize(std::max(at + width_, values_.size() * 2));
  }
  return values_.data() + at;
}

void FlowDataSet::Count(bool isNull) {
  const size_t i = count_++;
  if (nullable_) {
    if ((i & 63) == 0) {
      nulls_.push_back(0);
    }
    if (isNull) {
      nulls_[i >> 6] |= uint64_t{1} << (i & 63);
    }
  }
}

void FlowDataSet::StoreCurrent() {
  Store(static_cast<const char*>(field_.value()), field_.valueLength(), field_.IsNull());
}

void FlowDataSet::Store(const char* value, size_t length, bool isNull) {
  if (width_ != 0) {
    // Fixed widths: value i at i × width_.
    char* out = FixedSlot(count_);
    if (value != nullptr) {
      memcpy(out, value, width_);
    } else {
      memset(out, 0, width_);
    }
    Count(isNull);
    return;
  }
  Count(isNull);
  if (value != nullptr) {
    values_.append(value, length);
  }
  ends_.push_back(values_.size());
}

bool FlowDataSet::Fits(size_t records, size_t bytes) const {
  if (nullable_ && nulls_.capacity() < (records + 63) / 64) {
    return false;
  }
  if (width_ != 0) {
    return values_.size() >= records * width_;
  }
  return ends_.capacity() >= records && ends_.Holds(bytes) && values_.capacity() >= bytes;
}

void FlowDataSet::Extend(size_t records, size_t bytes) {
  count_ = std::max(count_, records);
  if (nullable_) {
    nulls_.resize((count_ + 63) / 64);
  }
  if (width_ != 0) {
    if (values_.size() < count_ * width_) {
      values_.resize(std::bit_ceil(count_) * width_);  // where StoreCurrent's doubling goes
    }
    return;
  }
  values_.resize(std::max(bytes, values_.size()));
  ends_.resize(count_, values_.size());
}

void FlowDataSet::CopyAt(Room room, const FlowDataSet& part, size_t first, size_t firstByte) const {
  if (nullable_ && part.count_ != 0) {
    // Null bits, each part word split over two when `first` is inside a word. The first and last
    // words may be shared with the neighbouring ranges.
    const size_t shift = first & 63;
    const size_t firstWord = first / 64;
    const size_t lastWord = (first + part.count_ - 1) / 64;
    auto put = [&](size_t w, uint64_t bits) {
      if (bits == 0) {
        return;
      }
      if (w == firstWord || w == lastWord) {
        std::atomic_ref<uint64_t>(room.nulls[w]).fetch_or(bits, std::memory_order_relaxed);
      } else {
        room.nulls[w] |= bits;
      }
    };
    const size_t words = (part.count_ + 63) / 64;
    for (size_t w = 0; w < words; ++w) {
      const uint64_t bits = part.nulls_[w];
      put(firstWord + w, bits << shift);
      if (shift != 0 && firstWord + w + 1 <= lastWord) {
        put(firstWord + w + 1, bits >> (64 - shift));
      }
    }
  }
  if (width_ != 0) {
    if (part.count_ != 0) {
      memcpy(room.values + first * width_, part.values_.data(), part.count_ * width_);
    }
    return;
  }
  if (!part.values_.empty()) {
    memcpy(room.values + firstByte, part.values_.data(), part.values_.size());
  }
  for (size_t i = 0; i < part.count_; ++i) {
    room.ends.Set(first + i, part.ends_[i] + firstByte);
  }
}

void FlowDataSet::Clear() {
  count_ = 0;
  values_.clear();
  ends_.clear();
  nulls_.clear();
}

void FlowDataSet::ReleaseRoom() {
  values_.ReleaseRoom(width_ != 0 ? count_ * width_ : values_.size());
  ends_.ReleaseRoom();
  orv::ReleaseRoom(nulls_);
}

void FlowDataSet::ReleaseValues(size_t begin, size_t end) {
  ReleaseLargePages(values_.data(), values_.capacity(), begin * width_, end * width_);
}

char* FlowDataSet::KeepFirst(size_t count) {
  count_ = std::min(count, count_);
  values_.resize(count_ * width_);
  if (nullable_) {
    std::fill_n(nulls_.begin(), count_ / 64, 0);
    if (count_ % 64 != 0) {
      nulls_[count_ / 64] &= ~uint64_t{0} << (count_ % 64);
    }
  }
  return values_.data();
}

size_t FlowDataSet::MemoryUsage() const {
  return values_.capacity() + ends_.MemoryUsage() + nulls_.capacity() * sizeof(uint64_t);
}

void StringEnds::resize(size_t count, uint64_t bytes) {
  if (!wide_ && bytes > UINT32_MAX) {
    Widen();
  }
  wide_ ? wide64_.resize(count) : narrow_.resize(count);
}

void StringEnds::Widen() {
  wide64_.resize(narrow_.size());
  std::copy_n(narrow_.data(), narrow_.size(), wide64_.data());
  narrow_.Free();
  wide_ = true;
}

}  // namespace orv
