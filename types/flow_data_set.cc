#include "types/flow_data_set.h"

#include <algorithm>
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
    // Fixed widths: value i at i × width_; the array grows by doubling, zeroed (nulls stay 0).
    const size_t at = i * width_;
    if (values_.size() < at + width_) {
      values_.resize(std::max(at + width_, values_.size() * 2));
    }
    if (value != nullptr) {
      memcpy(values_.data() + at, value, width_);
    }
    return;
  }
  if (value != nullptr) {
    values_.insert(values_.end(), value, value + field_.valueLength());
  }
  ends_.push_back(values_.size());
}

size_t FlowDataSet::MemoryUsage() const {
  return values_.capacity() + ends_.capacity() * sizeof(uint64_t) +
         nulls_.capacity() * sizeof(uint64_t);
}

}  // namespace orv
