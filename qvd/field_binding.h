// Which field of the record layout each field of a QVD file feeds: by position, or by name
// (match-fields), where the layout may name a subset of the file's fields.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "format/qvd_format.h"
#include "runtime/status.h"
#include "types/type_traits.h"

namespace orv {

// Layout field per QVD field; empty for a QVD field the layout doesn't use.
using FieldBinding = std::vector<std::optional<size_t>>;

// Refuses a layout whose field count doesn't fit the file's: with `fieldSubset` a layout may have
// fewer fields than the file when bound by name, never more; otherwise the counts must agree.
Status CheckFieldCount(size_t layoutFields, size_t fileFields, bool matchFields, bool fieldSubset);

// Binds by position, or by name with `matchFields`. A layout's names are trimmed and normalised,
// so a file's name with outer blanks or control bytes is also matched in that form.
Status BindFields(const TypeTraitsCollection& layout, const std::vector<QvdFieldMetadata>& fields,
                  bool matchFields, FieldBinding& binding);

// A file field that stores nulls (Bias -2) needs a nullable layout field.
Status CheckNullable(const TypeTraitsCollection& layout,
                     const std::vector<QvdFieldMetadata>& fields, const FieldBinding& binding);

}  // namespace orv
