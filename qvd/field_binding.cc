#include "qvd/field_binding.h"

#include <algorithm>
#include <string>

#include "runtime/text_util.h"

namespace orv {

Status CheckFieldCount(size_t layoutFields, size_t fileFields, bool matchFields, bool fieldSubset) {
  const size_t l = layoutFields;
  const size_t q = fileFields;
  if (fieldSubset ? (q < l || (!matchFields && l < q)) : l != q) {
    return Status::Invalid("Unexpected number of fields in QVD table: " + std::to_string(q) + ".");
  }
  return Status::Ok();
}

Status BindFields(const TypeTraitsCollection& layout, const std::vector<QvdFieldMetadata>& fields,
                  bool matchFields, FieldBinding& binding) {
  const size_t q = fields.size();
  binding.assign(q, std::nullopt);
  if (!matchFields) {
    for (size_t i = 0; i < q && i < layout.size(); ++i) {
      binding[i] = i;
    }
    return Status::Ok();
  }
  for (size_t k = 0; k < layout.size(); ++k) {
    const std::string& name = layout[k].name();
    auto found = std::find_if(fields.begin(), fields.end(),
                              [&](const QvdFieldMetadata& f) { return f.fieldName == name; });
    if (found == fields.end()) {
      found = std::find_if(fields.begin(), fields.end(), [&](const QvdFieldMetadata& f) {
        return trim(NormalizeName(f.fieldName)) == name;
      });
    }
    if (found == fields.end()) {
      return Status::Invalid("Unrecognized field name: '" + name + "'.");
    }
    binding[static_cast<size_t>(found - fields.begin())] = k;
  }
  return Status::Ok();
}

Status CheckNullable(const TypeTraitsCollection& layout,
                     const std::vector<QvdFieldMetadata>& fields, const FieldBinding& binding) {
  for (size_t j = 0; j < fields.size(); ++j) {
    if (binding[j] && fields[j].bias == qvd::kNullBias && !layout[*binding[j]].nullable()) {
      return Status::Invalid("Incompatible types, field '" + layout[*binding[j]].name() +
                             "' must be nullable.");
    }
  }
  return Status::Ok();
}

}  // namespace orv
