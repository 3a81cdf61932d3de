#include "programs/packdown/column_parts.h"

#include <cstring>

namespace orv {

namespace {

bool ValueHoldsZeroByte(const FlowDataSet& values, size_t i) {
  const auto [value, size] = values.ValueAt(i);
  return value != nullptr && memchr(value, 0, size) != nullptr;
}

}  // namespace

bool HoldsZeroByte(const FlowDataSet& values) {
  return ValueHoldsZeroByte(values, values.size() - 1);
}

// One pass over all the bytes; value by value only where it finds a 0x00, which may be a null's.
bool AnyHoldsZeroByte(const FlowDataSet& values) {
  if (values.StoredBytes().find('\0') == std::string_view::npos) {
    return false;
  }
  for (size_t i = 0; i < values.size(); ++i) {
    if (ValueHoldsZeroByte(values, i)) {
      return true;
    }
  }
  return false;
}

void ColumnPlacement::Place(uint64_t number, bool clean, const ColumnStores& values) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return next_ == number; });
  ++next_;
  broken_ = broken_ || !clean;
  if (broken_) {
    changed_.notify_all();
    return;
  }
  const size_t first = records_;
  records_ += values.empty() ? 0 : values[0]->size();
  std::vector<size_t> firstBytes(bytes_);
  bool fits = true;
  for (size_t i = 0; i < stores_.size(); ++i) {
    bytes_[i] += values[i]->bytes();
    fits = fits && stores_[i]->Fits(records_, bytes_[i]);
  }
  if (!fits) {
    changed_.wait(lock, [&] { return copying_ == 0; });
  }
  std::vector<FlowDataSet::Room> rooms;
  rooms.reserve(stores_.size());
  for (size_t i = 0; i < stores_.size(); ++i) {
    stores_[i]->Extend(records_, bytes_[i]);
    rooms.push_back(stores_[i]->room());
  }
  ++copying_;
  changed_.notify_all();
  lock.unlock();
  for (size_t i = 0; i < stores_.size(); ++i) {
    stores_[i]->CopyAt(rooms[i], *values[i], first, firstBytes[i]);
  }
  lock.lock();
  --copying_;
  changed_.notify_all();
}

bool ColumnPart::Accepts() const {
  for (size_t i = 0; i < stores.size(); ++i) {
    if (isString[i] && AnyHoldsZeroByte(*stores[i])) {
      return false;
    }
  }
  return true;
}

ColumnPart::ColumnPart(const RecordInputOptions& records, ColumnPlacement& place)
    : layout(CopyLayout(records.layout)), placement(place) {
  for (const auto& field : layout) {
    stores.push_back(FlowDataSet::Create(*field, records.textInput));
    isString.push_back(field->AsString() != nullptr);
  }
}

}  // namespace orv
