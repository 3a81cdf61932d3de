// Which field of the record layout each field of a QVD file feeds: by position, or by name
// (match-fields), where the layout may name a subset of the file's fields.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
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

// The name each QVD field goes by in a layout: its own name when that is a valid layout name
// (trimmed, no control bytes, valid UTF-8), else that normalised form (control bytes and invalid
// bytes as '_', outer blanks trimmed), or "field_N" (N its 1-based position) for an empty one.
// Names stay unique: a name that another field holds as it is, or that an earlier field took,
// gets "_2", "_3", ... appended. tablepeek writes layouts with these names, and binding by name
// resolves them the same way.
std::vector<std::string> LayoutFieldNames(const std::vector<QvdFieldMetadata>& fields);

// Binds by position, or by name with `matchFields` (the names of LayoutFieldNames).
Status BindFields(const TypeTraitsCollection& layout, const std::vector<QvdFieldMetadata>& fields,
                  bool matchFields, FieldBinding& binding);

// A file field that stores nulls (Bias -2) needs a nullable layout field.
Status CheckNullable(const TypeTraitsCollection& layout,
                     const std::vector<QvdFieldMetadata>& fields, const FieldBinding& binding);

}  // namespace orv
