// The row filter: `FIELD OP VALUE`, with OP one of == != < <= > >=. The filter field's value in a
// row is compared with VALUE in ascending value order, whatever the field's sort direction. A
// row's value depends only on its symbol, so each symbol is decided once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/status.h"
#include "types/type_traits.h"

namespace orv {

enum class FilterOperator : int32_t {
  Equal = 0,
  NotEqual = 1,
  Less = 2,
  LessOrEqual = 3,
  Greater = 4,
  GreaterOrEqual = 5,
};

struct FilterCondition {
  std::string fieldName;
  FilterOperator op = FilterOperator::Equal;
  std::string valueText;
};

// Splits the condition at the first operator that occurs in it, searched in the order == != <=
// < >= >; "Filter condition parsing failed." when there is none.
Status ParseFilterCondition(const std::string& text, FilterCondition& condition);

class RowFilter {
 public:
  // Reads the condition's value through the field's descriptor, as a text token of the field
  // (quoted when the field is), and takes the field's comparisons.
  Status Bind(TypeTraits& field, const FilterCondition& condition);
  // Forgets every decision; symbols 0 to n - 1 and null may be asked.
  void Reset(uint64_t noOfSymbols) { decided_.assign(noOfSymbols + 1, kUnknown); }

  // The decision already made for symbol s (-1: null): 1 pass, 0 not, -1 not yet decided.
  int Known(int64_t s) const {
    const uint64_t entry = static_cast<uint64_t>(s + 1);
    if (s < -1 || entry >= decided_.size() || decided_[entry] == kUnknown) {
      return -1;
    }
    return decided_[entry] == kPass ? 1 : 0;
  }
  // Decides symbol s from the field's current value (the symbol's, just converted).
  bool Decide(int64_t s, const TypeTraits& field);

 private:
  enum Decision : uint8_t { kUnknown = 0, kPass = 1, kReject = 2 };
  bool Passes(const TypeTraits& field);

  FilterOperator op_ = FilterOperator::Equal;
  std::optional<std::string> value_;  // the value's record bytes; empty for a null value
  LessFunctor equal_;
  CompareFunctor compare_;
  std::vector<uint8_t> decided_;  // per symbol + 1 (entry 0: null)
  std::string buffer_;            // the row value's record bytes
};

}  // namespace orv
