// Data-definition text: a record layout as one field per line (or fields separated by ';').
//
//   # comment
//   Id        int
//   Amount    decimal(12,2)     nullable
//   "Unit Price" double         separator=";" null="NULL"
//
// This module knows only the syntax (tokens in data_definition_lexer.h, the text written back in
// data_definition_render.h); the descriptors are built from FieldSpec by the type layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct FieldSpec {
  std::string name;
  std::string type;                   // int, double, decimal, date, datetime, string
  std::optional<unsigned> precision;  // decimal: absent means the process defaults
  std::optional<unsigned> scale;      // decimal
  std::optional<std::string> format;  // date, datetime: strptime/strftime pattern
  size_t size = 0;                    // string: fixed byte size, 0 for variable
  bool nullable = false;
  std::vector<std::string> nullTokens;
  std::optional<std::string> separator;  // empty: no separator
  std::optional<char> quote;
  bool time = false;      // datetime
  bool interval = false;  // datetime
  std::optional<std::string> qvdFormat;
  bool descending = false;
  std::optional<std::string> collation;  // string: ICU locale

  bool operator==(const FieldSpec&) const = default;
};

// Parses `text`; on error returns "Data definition error at line L, column C: ...".
std::optional<std::string> ParseDataDefinition(std::string_view text,
                                               std::vector<FieldSpec>& fields);

}  // namespace orv
