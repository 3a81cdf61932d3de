// Field types from the hints of a QVD header: tags and the NumberFormat type word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/qvd_format.h"
#include "types/type_traits.h"

namespace orv {

enum class InspectedType : int {
  kInt32 = 0,
  kDouble = 1,
  kDecimal = 2,
  kDate = 3,
  kTimestamp = 4,
  kTime = 5,
  kInterval = 6,
  kString = 7,
};

// How an inferred layout is built and written: tablepeek's settings of its 'ord' output.
struct InspectedLayoutOptions {
  bool inlineForm = false;
  bool allAsString = false;
  bool realAsDecimal = false;
  std::optional<uint64_t> decimalPrecision;
  std::optional<uint64_t> decimalScale;
  // A present '\0' means "none".
  std::optional<char> fieldSeparator;
  std::optional<char> recordSeparator;
  std::optional<char> quote;
  std::optional<std::string> nullText;
  std::optional<std::string> dateFormat;
  std::optional<std::string> dateTimeFormat;
};

// The type's text in the JSON and XML reports ("int32", "double", ...).
const char* ReportText(InspectedType type);

// First matching rule: no $numeric tag gives string; $date; $timestamp; a REAL or FIX number
// format (decimal with real-as-decimal, a FIX field's scale its nDec); $integer; a TIME or
// INTERVAL number format; else double.
InspectedType InferFieldType(const QvdFieldMetadata& field, bool realAsDecimal);

// One prepared descriptor per QVD field, in header order, with the command line's type, text and
// null settings.
void BuildInspectedLayout(const std::vector<QvdFieldMetadata>& fields,
                          const InspectedLayoutOptions& options, TypeTraitsCollection& layout);

}  // namespace orv
