// Column store of one field's values. Fixed-width values lie back to back in one array, variable
// strings in one byte arena with an end offset per value; nulls are one bit per value (nullable
// fields only). A column of N ints costs 4N bytes plus N/8 for nulls.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/input.h"
#include "runtime/large_allocator.h"
#include "runtime/prefetch.h"
#include "types/type_traits.h"

namespace orv {

// The end offsets of variable strings in their arena: 32 bits each while the arena holds under
// 4 GiB, 64 bits from the value that takes it past (the narrow ones are then widened, once).
class StringEnds {
 public:
  uint64_t operator[](size_t i) const { return wide_ ? wide64_[i] : narrow_[i]; }
  const void* At(size_t i) const {
    return wide_ ? static_cast<const void*>(&wide64_[i]) : &narrow_[i];
  }
  size_t size() const { return wide_ ? wide64_.size() : narrow_.size(); }
  size_t capacity() const { return wide_ ? wide64_.capacity() : narrow_.capacity(); }
  size_t MemoryUsage() const { return narrow_.capacity() * 4 + wide64_.capacity() * 8; }
  void push_back(uint64_t end) {
    if (!wide_ && end > UINT32_MAX) {
      Widen();
    }
    wide_ ? wide64_.push_back(end) : narrow_.push_back(static_cast<uint32_t>(end));
  }
  // Whether offsets up to `bytes` fit the ends' width.
  bool Holds(uint64_t bytes) const { return wide_ || bytes <= UINT32_MAX; }
  // `count` ends, room for offsets up to `bytes`.
  void resize(size_t count, uint64_t bytes);
  void clear() { wide_ ? wide64_.clear() : narrow_.clear(); }
  void ReleaseRoom() { wide_ ? wide64_.ReleaseRoom(wide64_.size()) : narrow_.ReleaseRoom(size()); }
  // Where end i of a store Extend made room in goes (Set).
  struct Place {
    uint32_t* narrow = nullptr;
    uint64_t* wide = nullptr;
    void Set(size_t i, uint64_t end) const {
      wide != nullptr ? void(wide[i] = end) : void(narrow[i] = static_cast<uint32_t>(end));
    }
  };
  Place place() { return wide_ ? Place{nullptr, wide64_.data()} : Place{narrow_.data(), nullptr}; }

 private:
  void Widen();

  bool wide_ = false;
  LargeArray<uint32_t> narrow_;
  LargeArray<uint64_t> wide64_;
};

class FlowDataSet {
 public:
  // `text`: values come as delimited text tokens, else from the binary record stream.
  static std::unique_ptr<FlowDataSet> Create(TypeTraits& field, bool text);

  // Reads the next value and stores it: 0 stored, 1 input exhausted, another value the
  // descriptor's failure status. A binary value wholly in the input's buffer is stored straight
  // from its bytes, and is not the descriptor's current value; others are read through it.
  int ReadValue(IFileInput& input);
  // Stores the descriptor's current value (read by the caller).
  void StoreCurrent();
  // For appending other stores' values, also from several threads. Extend makes the store
  // `records` values and, for variable strings, `bytes` value bytes long (never shorter); room()
  // is where its arrays then lie, and CopyAt writes a part's values there as records [first,
  // first + part.size()) and bytes [firstByte, firstByte + part.bytes()). CopyAt calls of ranges
  // that don't overlap may run at once, and alongside an Extend that Fits, which moves no array.
  class Room {
    friend class FlowDataSet;
    char* values = nullptr;
    StringEnds::Place ends;
    uint64_t* nulls = nullptr;
  };
  bool Fits(size_t records, size_t bytes) const;
  void Extend(size_t records, size_t bytes);
  Room room() {
    Room room;
    room.values = values_.data();
    room.ends = ends_.place();
    room.nulls = nulls_.data();
    return room;
  }
  void CopyAt(Room room, const FlowDataSet& part, size_t first, size_t firstByte) const;
  // Drops every value, keeping the arrays' memory for the next ones.
  void Clear();
  // Once the last value is stored: gives back the arrays' whole pages past their values.
  void ReleaseRoom();
  // For a collector that rewrites a fixed-width store as its distinct values in place: hands back
  // the pages of values [begin, end), read for the last time (they read as zeros after).
  void ReleaseValues(size_t begin, size_t end);
  // Keeps the first `count` values (at most size()), none of them null, and returns where their
  // bytes lie, value i at i × width, for the caller to write (fixed widths only).
  char* KeepFirst(size_t count);

  size_t size() const { return count_; }
  // Variable strings: the bytes of the values; 0 for fixed widths.
  size_t bytes() const { return width_ == 0 ? values_.size() : 0; }
  // Every value's bytes, back to back: nulls' too where they take any (zeros, for fixed widths).
  std::string_view StoredBytes() const {
    const size_t n = width_ == 0 ? values_.size() : count_ * width_;
    return n == 0 ? std::string_view() : std::string_view(values_.data(), n);
  }
  // A record's value and byte size; a null pointer for null.
  std::pair<const char*, size_t> ValueAt(size_t i) const {
    if (nullable_ && (nulls_[i >> 6] >> (i & 63) & 1) != 0) {
      return {nullptr, 0};
    }
    if (width_ != 0) {
      return {values_.data() + i * width_, width_};
    }
    uint64_t begin = i == 0 ? 0 : ends_[i - 1];
    // An empty value is present, not null: it needs an address even before any byte is stored.
    static constexpr char kEmpty = 0;
    const char* base = values_.empty() ? &kEmpty : values_.data();
    return {base + begin, static_cast<size_t>(ends_[i] - begin)};
  }
  // Starts loading record i's value (a variable string's end offsets), for loops that visit
  // records out of order.
  void Prefetch(size_t i) const {
    if (width_ != 0) {
      PrefetchLine(values_.data() + i * width_);
    } else if (i < ends_.size()) {
      PrefetchLine(ends_.At(i));
    }
  }
  // Then, a while later, a variable string's bytes, found through the offsets Prefetch(i) loaded;
  // nothing for a fixed width, whose value Prefetch loaded.
  void PrefetchStringBytes(size_t i) const {
    if (width_ == 0 && i < ends_.size()) {
      const uint64_t begin = i == 0 ? 0 : ends_[i - 1];
      if (begin < values_.size()) {
        PrefetchLine(values_.data() + begin);
      }
    }
  }
  TypeTraits& field() const { return field_; }
  // Bytes held by the store's arrays (their capacity).
  size_t MemoryUsage() const;

 private:
  FlowDataSet(TypeTraits& field, bool text);

  static constexpr int kNotInBuffer = INT_MIN;  // apart from every input and codec status
  int ReadFromBuffer(IFileInput& input);
  // Room for fixed-width value i.
  char* FixedSlot(size_t i);
  // Counts a value whose bytes are in place.
  void Count(bool isNull);
  // Stores the next value: its bytes, or zeros for a fixed width when `value` is null.
  void Store(const char* value, size_t length, bool isNull);

  TypeTraits& field_;
  bool text_;
  bool nullable_;
  size_t width_;        // 0 for variable strings
  size_t streamWidth_;  // binary values of a fixed width: their bytes, decoded without Read
  size_t count_ = 0;
  // The arrays grow by doubling, in place where they are large; the room past the last value is
  // not written (nor memory).
  LargeArray<char> values_;      // a null's bytes are zeros
  StringEnds ends_;              // variable strings: end offset of each value in values_
  LargeVector<uint64_t> nulls_;  // one bit per value
};

}  // namespace orv
