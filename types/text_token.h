// The delimited-text tokenizer under TypeTraits::readParseToken.
//
// A token ends at its field's separator. A quoted field also takes a token that starts with the
// quote character: it runs to the next single quote character (a doubled one stands for itself)
// and the separator must follow it. A field other than the last that meets the record separator
// first is a short record. A token may grow only to its field's limit: the length is compared once
// per buffer chunk, so a token without a separator fails after at most a chunk past the limit
// instead of taking all of the input.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/input.h"

namespace orv::text_token {

// What ends a token, and how long it may grow.
struct TokenEnds {
  const char* separator;
  size_t separatorLength;
  const char* recordSeparator;
  size_t recordSeparatorLength;
  bool checkRecord;  // the record separator ends the token too, as a short record
  bool lastField;    // may end at end of input when that is allowed
  size_t limit;      // the longest token the field can take (unquoted, doubled quotes undone)
};

// Appends an unquoted token's bytes to `token` a buffer at a time and consumes its separator.
int ReadUnquoted(IFileInput& input, const TokenEnds& ends, std::string& token);
// As ReadUnquoted, for a token that starts with `quote` at the read position.
int ReadQuoted(IFileInput& input, char quote, const TokenEnds& ends, std::string& token);
// The status of a token that input ends in before its separator: only the last field may lack
// one, and only when that is allowed.
int CutOffAtEnd(bool lastField);

// CSV (RFC 4180): any value may be quoted with `"`, a quoted value holds delimiters, doubled quotes
// and line ends; a record ends at LF or CR LF, or where the input ends. A quote is recognized only
// at the start of a value. What ended a CSV value:
enum class CsvEnd : unsigned char {
  kNone,   // nothing: the value could not be read
  kValue,  // the delimiter: another value of the record follows
  kLine,   // a line end
  kInput,  // the end of the input
};

// One CSV value into `token` (doubled quotes undone, a CR before the LF dropped). `quoted` tells a
// quoted value, so that `""` is an empty string where an empty unquoted value is null. Bad when a
// quoted value has no closing quote or bytes other than a delimiter or line end follow it, or the
// token grows past `limit`.
int ReadCsv(IFileInput& input, char delimiter, size_t limit, std::string& token, bool& quoted,
            CsvEnd& end);
// Before a record: kStatusEnd when the input ends here, else kStatusOk (or the input's failure).
// With `skipBlankLines` empty lines are stepped over first.
int StartCsvRecord(IFileInput& input, bool skipBlankLines);

}  // namespace orv::text_token
