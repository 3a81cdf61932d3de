#include "runtime/data_definition_render.h"

#include <algorithm>

#include "runtime/data_definition_lexer.h"
#include "runtime/text_util.h"

namespace orv {

namespace {

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(Escape(text)).push_back('"');
  return quoted;
}

std::string RenderName(std::string_view name) {
  return IsBareFieldName(name) ? std::string(name) : Quoted(name);
}

// The type word, with its parameters when they differ from the type's defaults.
std::string RenderType(const FieldSpec& field) {
  std::string parameters;
  if (field.type == "decimal" && field.precision) {
    parameters = std::to_string(*field.precision) + "," + std::to_string(field.scale.value_or(0));
  } else if (field.type == "string" && field.size > 0) {
    parameters = std::to_string(field.size);
  } else if ((field.type == "date" || field.type == "datetime") && field.format) {
    parameters = Quoted(*field.format);
  }
  if (parameters.empty()) {
    return field.type;
  }
  return field.type + "(" + parameters + ")";
}

std::string RenderOptions(const FieldSpec& field) {
  std::string options;
  auto add = [&](const std::string& option) {
    options.push_back(' ');
    options += option;
  };
  if (field.nullable && field.nullTokens.empty()) {
    add("nullable");
  }
  for (const std::string& token : field.nullTokens) {
    add("null=" + Quoted(token));
  }
  if (field.separator) {
    add(field.separator->empty() ? std::string("separator=none")
                                 : "separator=" + Quoted(*field.separator));
  }
  if (field.quote) {
    add("quote=" + Quoted(std::string(1, *field.quote)));
  }
  if (field.time) {
    add("time");
  }
  if (field.interval) {
    add("interval");
  }
  if (field.qvdFormat) {
    add("qvd-format=" + Quoted(*field.qvdFormat));
  }
  if (field.descending) {
    add("descending");
  }
  if (field.collation) {
    add("collation=" + Quoted(*field.collation));
  }
  return options;
}

}  // namespace

std::string RenderDataDefinition(const std::vector<FieldSpec>& fields, bool inlineForm) {
  std::string out;
  if (inlineForm) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) {
        out += "; ";
      }
      out += RenderName(fields[i].name) + " " + RenderType(fields[i]) + RenderOptions(fields[i]);
    }
    return out;
  }
  std::vector<std::string> names;
  std::vector<std::string> types;
  size_t nameWidth = 0;
  size_t typeWidth = 0;
  for (const FieldSpec& field : fields) {
    names.push_back(RenderName(field.name));
    types.push_back(RenderType(field));
    nameWidth = std::max(nameWidth, names.back().size());
    typeWidth = std::max(typeWidth, types.back().size());
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string options = RenderOptions(fields[i]);
    std::string line = names[i];
    line.append(nameWidth - names[i].size() + 1, ' ');
    line += types[i];
    if (!options.empty()) {
      line.append(typeWidth - types[i].size(), ' ');
      line += options;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace orv
