// CSV text as RFC 4180 writes it: a value is quoted only when it must be, that is when it holds the
// delimiter, a quote, CR or LF; a quote inside a quoted value is doubled. An empty value is written
// as "" so that it stays apart from a null, which is written as nothing.
#pragma once

#include <cstddef>
#include <string_view>

#include "runtime/output.h"
#include "types/type_traits.h"

namespace orv {

inline constexpr char kCsvQuote = '"';

// Whether `text` must be quoted between `delimiter`s.
bool CsvNeedsQuotes(std::string_view text, char delimiter);

// Writes `text` as one CSV value, quoted when it must be or when it is empty.
void WriteCsvValue(BufferedFileOutput& output, std::string_view text, char delimiter);

// Writes the shortest text that reads back as `value` to `out` (room for 32 bytes) and returns its
// end: plain digits for magnitudes from 1e-4 to below 1e16 (`3106.33`, `100000`, `0.0001`), else
// the exponent form (`1e+16`, `2.5e-05`).
char* FormatShortestDouble(double value, char* out);
// Writes the 17 significant digits of `value` that delimited text keeps (%.17g) to `out` (room
// for 32 bytes) and returns its end.
char* FormatFullDouble(double value, char* out);

// Whether `delimiter` can separate CSV values: any byte but the quote, CR and LF.
bool IsCsvDelimiter(char delimiter);

// Readies `layout` for CSV output: fields separated by `delimiter`, the last ended by the record
// separator, every value written as CSV.
void ApplyCsvOutput(TypeTraitsCollection& layout, char delimiter);

}  // namespace orv
