#include "qvd/field_binding.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

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
  // Names to positions, the first field of a name winning; the normalised form is needed only
  // when a name is not found as it is.
  std::unordered_map<std::string_view, size_t> byName;
  std::unordered_map<std::string, size_t> byNormalName;
  for (size_t j = 0; j < q; ++j) {
    byName.emplace(fields[j].fieldName, j);
  }
  for (size_t k = 0; k < layout.size(); ++k) {
    const std::string& name = layout[k].name();
    auto found = byName.find(name);
    if (found == byName.end()) {
      if (byNormalName.empty()) {
        for (size_t j = 0; j < q; ++j) {
          byNormalName.emplace(trim(NormalizeName(fields[j].fieldName)), j);
        }
      }
      auto normal = byNormalName.find(name);
      if (normal == byNormalName.end()) {
        return Status::Invalid("Unrecognized field name: '" + name + "'.");
      }
      binding[normal->second] = k;
      continue;
    }
    binding[found->second] = k;
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
