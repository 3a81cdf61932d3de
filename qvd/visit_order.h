// The order in which symbol collection visits a column's non-null records: the order that moving
// the nulls to the front with std::partition leaves them in, produced without that array. Where
// neighbours tie (NaNs, strings a collation calls equal), symbols fall in this order.
#pragma once

#include <cstdint>

#include "types/flow_data_set.h"

namespace orv {

class VisitOrder {
 public:
  VisitOrder(const FlowDataSet& dataSet, uint64_t records, uint64_t nulls)
      : dataSet_(dataSet), records_(records), nulls_(nulls) {}

  // Calls f(r) for each non-null record in visit order until f returns false; returns whether
  // every record was visited. The partition swaps the i-th value of the first `nulls` records
  // (counting up) with the i-th null of the rest (counting down), so walking the rest upwards,
  // each null there stands for the values of the front, taken downwards.
  template <typename F>
  bool ForEach(F f) const {
    if (nulls_ == 0) {
      for (uint64_t r = 0; r < records_; ++r) {
        if (!f(r)) {
          return false;
        }
      }
      return true;
    }
    uint64_t front = nulls_;  // values of the front below this one are still to be handed out
    for (uint64_t p = nulls_; p < records_; ++p) {
      uint64_t r = p;
      if (IsNull(p)) {
        do {
          --front;
        } while (IsNull(front));
        r = front;
      }
      if (!f(r)) {
        return false;
      }
    }
    return true;
  }

  uint64_t values() const { return records_ - nulls_; }

 private:
  bool IsNull(uint64_t r) const { return dataSet_.ValueAt(r).first == nullptr; }

  const FlowDataSet& dataSet_;
  uint64_t records_;
  uint64_t nulls_;
};

}  // namespace orv
