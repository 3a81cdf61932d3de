#include "qvd/field_binding.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

std::vector<std::string> LayoutFieldNames(const std::vector<QvdFieldMetadata>& fields) {
  std::vector<std::string> names(fields.size());
  std::unordered_set<std::string> taken;
  // Names that are valid as they are come first, whatever their position.
  for (size_t j = 0; j < fields.size(); ++j) {
    const std::string& name = fields[j].fieldName;
    if (!name.empty() && trim(NormalizeName(name)) == name && taken.insert(name).second) {
      names[j] = name;
    }
  }
  for (size_t j = 0; j < fields.size(); ++j) {
    if (!names[j].empty()) {
      continue;
    }
    std::string base(trim(NormalizeName(fields[j].fieldName)));
    if (base.empty()) {
      base = "field_" + std::to_string(j + 1);
    }
    std::string name = base;
    for (size_t k = 2; !taken.insert(name).second; ++k) {
      name = base + "_" + std::to_string(k);
    }
    names[j] = std::move(name);
  }
  return names;
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
  std::vector<std::string> names = LayoutFieldNames(fields);
  std::unordered_map<std::string_view, size_t> byName;
  for (size_t j = 0; j < q; ++j) {
    byName.emplace(names[j], j);
  }
  for (size_t k = 0; k < layout.size(); ++k) {
    const std::string& name = layout[k].name();
    auto found = byName.find(name);
    if (found == byName.end()) {
      return Status::Invalid("Unrecognized field name: '" + name + "'.");
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
