// Record layouts from data-definition text, and back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/data_definition.h"
#include "types/type_traits.h"

namespace orv {

struct TypeTraitsParser {
  // Append the fields of `text` (inline form: fields separated by ';' or newlines) to `fields`.
  // An engaged result is the FAIL message.
  static std::optional<std::string> ParseInlineFields(std::string_view text,
                                                      TypeTraitsCollection& fields);
  // The same for the data-definition file at `path`.
  static std::optional<std::string> LoadAndParseFields(const std::string& path,
                                                       TypeTraitsCollection& fields);
};

// The layout steps every program takes after its options: load the data-definition file named by
// the first positional argument when no inline list filled the layout, log the field count, and
// refuse an empty layout or duplicate names.
Status CompleteLayout(TypeTraitsCollection& layout, const std::vector<std::string>& positionals);
// Refuses the first field whose type has no form in the target format (`supports`, e.g.
// &TypeTraits::SupportsQvd).
Status CheckLayoutSupport(const TypeTraitsCollection& layout, bool (TypeTraits::*supports)() const);

// The descriptor of one field definition; null with `error` set when it cannot be built.
std::unique_ptr<TypeTraits> BuildTypeTraits(const FieldSpec& spec, std::string* error);
// The definition that builds a descriptor equal to `field`.
FieldSpec DescribeTypeTraits(const TypeTraits& field);
// New descriptors equal to `layout`'s, their CSV settings included, prepared: for a worker thread,
// which must not share descriptors (each holds its current value).
TypeTraitsCollection CopyLayout(const TypeTraitsCollection& layout);
// The layout as data-definition text: file form (a line per field) or inline form.
std::string ToString(const TypeTraitsCollection& fields, bool inlineForm);

}  // namespace orv
