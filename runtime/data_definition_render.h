// Data-definition text from field descriptions: what ParseDataDefinition reads back as the same
// fields. Only what differs from a field's defaults is written.
#pragma once

#include <string>
#include <vector>

#include "runtime/data_definition.h"

namespace orv {

// File form: one field per line, each ending in LF, names padded to a column. Inline form: the
// fields joined by "; " with no line end.
std::string RenderDataDefinition(const std::vector<FieldSpec>& fields, bool inlineForm);

}  // namespace orv
