#include "programs/packdown/column_parts.h"

#include <cstring>

namespace orv {

bool HoldsZeroByte(const FlowDataSet& values) {
  const auto [value, size] = values.ValueAt(values.size() - 1);
  return value != nullptr && memchr(value, 0, size) != nullptr;
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

ColumnPart::ColumnPart(const RecordInputOptions& records, ColumnPlacement& place)
    : layout(CopyLayout(records.layout)), placement(place) {
  for (const auto& field : layout) {
    stores.push_back(FlowDataSet::Create(*field, records.textInput));
    isString.push_back(field->AsString() != nullptr);
  }
}

}  // namespace orv
