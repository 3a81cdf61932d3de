// Field types from the hints of a QVD header: tags and the NumberFormat type word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inspect/table_peek.h"
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

// The type's text in the JSON and XML reports ("int32", "double", ...).
const char* ReportText(InspectedType type);

// First matching rule: no $numeric tag gives string; $timestamp; $date; a REAL number format
// (decimal with real-as-decimal); $integer; a TIME or INTERVAL number format; else double.
InspectedType InferFieldType(const QvdFieldMetadata& field, bool realAsDecimal);

// One prepared descriptor per QVD field, in header order, with the command line's type, text and
// null settings.
void BuildInspectedLayout(const std::vector<QvdFieldMetadata>& fields,
                          const TablePeekOptions& options, TypeTraitsCollection& layout);

}  // namespace orv
