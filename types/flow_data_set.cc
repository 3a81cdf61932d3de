#include "types/flow_data_set.h"

#include <algorithm>
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
  // A whole fixed-width value in the buffer is stored straight from its bytes; at the end of the
  // input or of a buffer the descriptor reads it, and reports what it finds.
  if (streamWidth_ != 0 &&
      input.BufferEnd() - input.BufferPos() >= static_cast<long>(streamWidth_)) {
    const size_t at = count_ * width_;
    if (values_.size() < at + width_) {
      values_.resize(std::max(at + width_, values_.size() * 2));
    }
    const bool valid = field_.DecodeStreamValue(input.BufferPos(), values_.data() + at);
    input.Advance(streamWidth_);  // the bad value's bytes belong to the record's debug dump
    if (!valid) {
      memset(values_.data() + at, 0, width_);
      return kStatusBad;
    }
    ++count_;
    return kStatusOk;
  }
  size_t size = 0;
  int status = text_ ? field_.Parse(input, size, false) : field_.Read(input, size, false);
  if (status != kStatusOk) {
    return status;
  }
  StoreCurrent();
  return kStatusOk;
}

void FlowDataSet::StoreCurrent() {
  const size_t i = count_++;
  if (nullable_) {
    if ((i & 63) == 0) {
      nulls_.push_back(0);
    }
    if (field_.IsNull()) {
      nulls_[i >> 6] |= uint64_t{1} << (i & 63);
    }
  }
  const char* value = static_cast<const char*>(field_.value());
  if (width_ != 0) {
    // Fixed widths: value i at i × width_.
    const size_t at = i * width_;
    if (values_.size() < at + width_) {
      values_.resize(std::max(at + width_, values_.size() * 2));
    }
    if (value != nullptr) {
      memcpy(values_.data() + at, value, width_);
    } else {
      memset(values_.data() + at, 0, width_);
    }
    return;
  }
  if (value != nullptr) {
    values_.insert(values_.end(), value, value + field_.valueLength());
  }
  ends_.push_back(values_.size());
}

void FlowDataSet::Append(const FlowDataSet& other) {
  const size_t base = count_;
  count_ += other.count_;
  if (nullable_) {
    // Null bits: whole words when this store ends on a word, else each word split over two.
    const size_t shift = base & 63;
    nulls_.resize((count_ + 63) / 64);
    const size_t words = (other.count_ + 63) / 64;
    for (size_t w = 0; w < words; ++w) {
      const uint64_t bits = other.nulls_[w];
      nulls_[base / 64 + w] |= bits << shift;
      if (shift != 0 && base / 64 + w + 1 < nulls_.size()) {
        nulls_[base / 64 + w + 1] |= bits >> (64 - shift);
      }
    }
  }
  if (width_ != 0) {
    const size_t at = base * width_;
    const size_t bytes = other.count_ * width_;
    if (bytes == 0) {
      return;
    }
    if (values_.size() < at + bytes) {
      values_.resize(std::bit_ceil(count_) * width_);  // where StoreCurrent's doubling goes
    }
    memcpy(values_.data() + at, other.values_.data(), bytes);
    return;
  }
  const uint64_t offset = values_.size();
  values_.insert(values_.end(), other.values_.begin(), other.values_.end());
  const size_t first = ends_.size();
  ends_.resize(first + other.ends_.size());
  for (size_t i = 0; i < other.ends_.size(); ++i) {
    ends_[first + i] = other.ends_[i] + offset;
  }
}

void FlowDataSet::Clear() {
  count_ = 0;
  values_.clear();
  ends_.clear();
  nulls_.clear();
}

size_t FlowDataSet::MemoryUsage() const {
  return values_.capacity() + ends_.capacity() * sizeof(uint64_t) +
         nulls_.capacity() * sizeof(uint64_t);
}

}  // namespace orv
