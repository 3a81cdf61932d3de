// The layout of a CSV input that comes without one: names from the header line, per column the
// narrowest type whose printed text is every value's text byte for byte, so that the values come
// back out unchanged.
#pragma once

#include <string>
#include <string_view>

#include "runtime/status.h"
#include "types/type_traits.h"

namespace orv {

// What one column's values allow so far.
class ColumnGuess {
 public:
  // A value of the column; `quoted` tells `""` (an empty string) from an empty value (null).
  void Add(std::string_view value, bool quoted);
  // The type and options in data-definition text: `int`, `decimal(P,S)`, `double`, `date`,
  // `datetime` or `string`, then ` nullable` when a value was empty.
  std::string Text() const;
  // Takes in what `later`, the guess of the lines after this one's, allows: as if this guess had
  // seen those lines too.
  void Merge(const ColumnGuess& later);

 private:
  bool any_ = false;  // a value that is not null
  bool nullable_ = false;
  bool int_ = true;
  bool decimal_ = true;
  bool double_ = true;
  bool date_ = true;
  bool dateTime_ = true;
  size_t scale_ = 0;  // fraction digits of the decimal values, 0 before the first
  size_t precision_ = 0;
};

// Reads the header line and every record of `data` (CSV, its byte-order mark already gone) and
// makes the layout; `definition` receives it in inline data-definition text. A line that does not
// read is left to the record reader, which reports it. On `threads` above 1 the records are read
// in chunks on as many threads, with the same result.
Status InferCsvLayout(std::string_view data, char delimiter, unsigned threads,
                      TypeTraitsCollection& layout, std::string& definition);

}  // namespace orv
