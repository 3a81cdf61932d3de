// A small QVX reader for the tests: the XML table header parsed with libxml2, then the records
// decoded from the bytes after the first 0x00 by what the field headers declare.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace orv::qvx_test {

struct QvxField {
  std::string name, nullRepresentation, type, extent, formatType, fmt;
  unsigned byteWidth = 0;
  std::optional<int> fixPointDecimals;
};

using QvxCell = std::optional<std::variant<int64_t, double, std::string>>;  // nullopt: null
using QvxRow = std::vector<QvxCell>;

struct QvxFile {
  std::string error;  // empty when the whole file decoded
  std::vector<QvxField> fields;
  std::vector<QvxRow> rows;
};

namespace detail {

inline bool Is(xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0;
}

inline std::string Text(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

inline QvxField ParseField(xmlNode* header) {
  QvxField field;
  const std::pair<const char*, std::string QvxField::*> texts[] = {
      {"FieldName", &QvxField::name},
      {"NullRepresentation", &QvxField::nullRepresentation},
      {"Type", &QvxField::type},
      {"Extent", &QvxField::extent}};
  for (xmlNode* n = header->children; n != nullptr; n = n->next) {
    for (auto [tag, member] : texts) {
      field.*member = Is(n, tag) ? Text(n) : field.*member;
    }
    if (Is(n, "ByteWidth")) {
      field.byteWidth = static_cast<unsigned>(std::stoul(Text(n)));
    } else if (Is(n, "FixPointDecimals")) {
      field.fixPointDecimals = std::stoi(Text(n));
    }
    for (xmlNode* f = Is(n, "FieldFormat") ? n->children : nullptr; f != nullptr; f = f->next) {
      field.formatType = Is(f, "Type") ? Text(f) : field.formatType;
      field.fmt = Is(f, "Fmt") ? Text(f) : field.fmt;
    }
  }
  return field;
}

// `width` bytes little-endian; false when the data runs out.
inline bool Take(const std::string& data, size_t& at, size_t width, uint64_t& value) {
  if (data.size() - at < width) {
    return false;
  }
  value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= uint64_t{static_cast<uint8_t>(data[at + i])} << (8 * i);
  }
  at += width;
  return true;
}

// One field of a record; empty when it decoded, else what went wrong.
inline std::string Decode(const QvxField& field, const std::string& data, size_t& at,
                          QvxCell& cell) {
  uint64_t raw = 0;
  if (field.nullRepresentation == "QVX_NULL_FLAG_SUPPRESS_DATA") {
    if (!Take(data, at, 1, raw) || raw > 1) {
      return "bad flag byte";
    }
    if (raw == 1) {
      return {};
    }
  } else if (field.nullRepresentation != "QVX_NULL_NEVER") {
    return "null representation " + field.nullRepresentation;
  }
  const std::string kind = field.type + "/" + field.extent + "/" + std::to_string(field.byteWidth);
  const bool text = field.type == "QVX_TEXT" && field.extent == "QVX_COUNTED" &&
                    field.byteWidth >= 1 && field.byteWidth <= 8;
  if (!text && kind != "QVX_SIGNED_INTEGER/QVX_FIX/4" && kind != "QVX_SIGNED_INTEGER/QVX_FIX/8" &&
      kind != "QVX_IEEE_REAL/QVX_FIX/8") {
    return "unsupported " + kind;
  }
  if (!Take(data, at, field.byteWidth, raw) || (text && data.size() - at < raw)) {
    return "value cut short";
  }
  if (text) {
    cell = data.substr(at, raw);
    at += raw;
  } else if (field.type == "QVX_IEEE_REAL") {
    cell = std::bit_cast<double>(raw);
  } else {
    cell = field.byteWidth == 4 ? int64_t{static_cast<int32_t>(raw)} : static_cast<int64_t>(raw);
  }
  return {};
}

}  // namespace detail

inline QvxFile ReadQvx(const std::string& file) {
  QvxFile result;
  const size_t end = file.find('\0');
  xmlDoc* doc = end == std::string::npos ? nullptr
                                         : xmlReadMemory(file.data(), static_cast<int>(end),
                                                         nullptr, nullptr, XML_PARSE_NONET);
  xmlNode* root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
  if (root == nullptr || !detail::Is(root, "QvxTableHeader")) {
    result.error = "no QvxTableHeader ending in 0x00";
  }
  for (xmlNode* n = root != nullptr ? root->children : nullptr; n != nullptr; n = n->next) {
    for (xmlNode* f = detail::Is(n, "Fields") ? n->children : nullptr; f; f = f->next) {
      if (detail::Is(f, "QvxFieldHeader")) {
        result.fields.push_back(detail::ParseField(f));
      }
    }
  }
  xmlFreeDoc(doc);
  const std::string data = result.error.empty() ? file.substr(end + 1) : "";
  for (size_t at = 0; !result.fields.empty() && at < data.size() && result.error.empty();) {
    QvxRow& row = result.rows.emplace_back(result.fields.size());
    for (size_t i = 0; i < row.size() && result.error.empty(); ++i) {
      if (std::string error = detail::Decode(result.fields[i], data, at, row[i]); !error.empty()) {
        result.error = "record " + std::to_string(result.rows.size()) + ", field '" +
                       result.fields[i].name + "': " + error;
      }
    }
  }
  return result;
}

}  // namespace orv::qvx_test
