// packdown's records read on several threads: each chunk is parsed on a worker into column
// stores of its own, which the same worker then copies into the program's stores at the chunk's
// place, so that the calling thread only cuts the input.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "programs/common/record_reader.h"
#include "types/flow_data_set.h"
#include "types/type_traits_parser.h"

namespace orv {

using ColumnStores = std::vector<std::unique_ptr<FlowDataSet>>;

// Whether the last value of a store of strings holds a 0x00 byte, which packdown refuses.
bool HoldsZeroByte(const FlowDataSet& values);
// Whether any value of a store of strings does.
bool AnyHoldsZeroByte(const FlowDataSet& values);

// Places chunks' values in the program's column stores from the workers, in input order: a chunk
// takes its place once the chunk before it has, and copies its values there while later chunks
// take theirs. A store grows only while no copy is under way. From the first chunk that isn't
// clean on, no chunk is placed: the calling thread reads those records into the stores itself,
// after the last chunk placed.
class ColumnPlacement {
 public:
  explicit ColumnPlacement(ColumnStores& stores) : stores_(stores), bytes_(stores.size()) {}
  // Chunk `number`'s values (0, 1, ... in input order; each number once).
  void Place(uint64_t number, bool clean, const ColumnStores& values);

 private:
  ColumnStores& stores_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t next_ = 0;          // the number of the chunk to be placed next
  bool broken_ = false;        // a chunk wasn't clean
  size_t copying_ = 0;         // chunks copying their values
  size_t records_ = 0;         // the stores' records so far
  std::vector<size_t> bytes_;  // and each store's string bytes
};

// A chunk of records parsed on a worker (see RecordChunk): its own layout and column stores,
// placed in the program's stores when the chunk's records end. A 0x00 byte in a string fails the
// chunk (Accepts, once all its records are parsed), so that the records are read again on the
// calling thread, which reports it.
struct ColumnPart {
  ColumnPart(const RecordInputOptions& records, ColumnPlacement& place);

  void Reset() {
    for (const auto& values : stores) {
      values->Clear();
    }
  }
  int ReadValue(size_t i, IFileInput& input) { return stores[i]->ReadValue(input); }
  void TakeRecord() {}
  bool Accepts() const;
  void Finish(uint64_t number, bool clean) { placement.Place(number, clean, stores); }
  bool Drain() { return true; }

  TypeTraitsCollection layout;
  ColumnStores stores;
  std::vector<bool> isString;
  ColumnPlacement& placement;
};

}  // namespace orv
