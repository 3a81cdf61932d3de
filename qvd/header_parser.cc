#include "qvd/header_parser.h"

#include <libxml/parser.h>

#include <climits>
#include <cstring>

namespace orv {

namespace {

constexpr int kHeaderParseOptions = XML_PARSE_NOBLANKS | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;

bool Named(xmlNodePtr node, const char* name) {
  return strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string NodeName(xmlNodePtr node) {
  return reinterpret_cast<const char*>(node->name);
}

// The text of a node's first child; empty when it has none.
std::string FirstChildText(xmlNodePtr node) {
  xmlNodePtr child = node->children;
  if (child == nullptr) {
    return {};
  }
  xmlChar* content = xmlNodeGetContent(child);
  if (content == nullptr) {
    return {};
  }
  std::string text(reinterpret_cast<const char*>(content));
  xmlFree(content);
  return text;
}

std::string Serialize(xmlDocPtr document, xmlNodePtr node) {
  xmlBufferPtr buffer = xmlBufferCreate();
  if (buffer == nullptr) {
    return {};
  }
  xmlNodeDump(buffer, document, node, 0, 1);
  std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                   static_cast<size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return text;
}

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Splits "  -123abc" into sign and digit run, as strtoul/strtol scan.
bool ScanNumber(std::string_view text, bool& negative, std::string_view& digits) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  size_t start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    ++i;
  }
  digits = text.substr(start, i - start);
  return !digits.empty();
}

class FieldHeaderParser {
 public:
  explicit FieldHeaderParser(QvdHeaderResult& result) : result_(result) {}

  bool Unsigned(xmlNodePtr element, uint64_t& member) {
    std::optional<uint64_t> value = ParseUnsignedRule(FirstChildText(element));
    if (!value) {
      return Fail("stoul", element);
    }
    member = *value;
    return true;
  }

  bool Signed8(xmlNodePtr element, int8_t& member) {
    std::optional<int32_t> value = ParseSignedRule(FirstChildText(element));
    if (!value) {
      return Fail("stoi", element);
    }
    member = static_cast<int8_t>(static_cast<uint32_t>(*value) & 0xFFu);
    return true;
  }

  bool Field(xmlNodePtr header, QvdFieldMetadata& field) {
    for (xmlNodePtr e = header->children; e != nullptr; e = e->next) {
      if (e->type != XML_ELEMENT_NODE) {
        continue;
      }
      bool ok = true;
      if (Named(e, "FieldName")) {
        field.fieldName = FirstChildText(e);
      } else if (Named(e, "BitOffset")) {
        ok = Unsigned(e, field.bitOffset);
      } else if (Named(e, "BitWidth")) {
        ok = Unsigned(e, field.bitWidth);
      } else if (Named(e, "Bias")) {
        ok = Signed8(e, field.bias);
      } else if (Named(e, "NoOfSymbols")) {
        ok = Unsigned(e, field.noOfSymbols);
      } else if (Named(e, "Offset")) {
        ok = Unsigned(e, field.offset);
      } else if (Named(e, "Length")) {
        ok = Unsigned(e, field.length);
      } else if (Named(e, "NumberFormat")) {
        NumberFormat(e, field);
      } else if (Named(e, "Tags")) {
        for (xmlNodePtr tag = e->children; tag != nullptr; tag = tag->next) {
          if (tag->type == XML_ELEMENT_NODE && Named(tag, "String")) {
            field.tags.insert(FirstChildText(tag));
          }
        }
      }
      if (!ok) {
        return false;
      }
    }
    return true;
  }

 private:
  static void NumberFormat(xmlNodePtr format, QvdFieldMetadata& field) {
    static constexpr std::pair<const char*, QvdNumberType> kTypes[] = {
        {"REAL", QvdNumberType::Real},
        {"TIMESTAMP", QvdNumberType::Timestamp},
        {"TIME", QvdNumberType::Time},
        {"INTERVAL", QvdNumberType::Interval},
        {"DATE", QvdNumberType::Date}};
    for (xmlNodePtr c = format->children; c != nullptr; c = c->next) {
      if (c->type != XML_ELEMENT_NODE || c->children == nullptr) {
        continue;
      }
      if (Named(c, "Type")) {
        std::string text = FirstChildText(c);
        for (const auto& [word, type] : kTypes) {
          if (text == word) {
            field.numberType = type;
          }
        }
      } else if (Named(c, "Fmt")) {
        field.numberFormat = FirstChildText(c);
      }
    }
  }

  bool Fail(const char* conversion, xmlNodePtr element) {
    result_.status = QvdHeaderStatus::kBadNumber;
    result_.conversion = conversion;
    result_.element = NodeName(element);
    return false;
  }

  QvdHeaderResult& result_;
};

}  // namespace

std::optional<XmlDocument> XmlDocument::Parse(std::string_view text) {
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    return std::nullopt;
  }
  xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                     kHeaderParseOptions);
  if (document == nullptr) {
    return std::nullopt;
  }
  return XmlDocument(document);
}

std::optional<uint64_t> ParseUnsignedRule(std::string_view text) {
  bool negative;
  std::string_view digits;
  if (!ScanNumber(text, negative, digits)) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (char c : digits) {
    auto digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  return negative ? uint64_t{0} - value : value;
}

std::optional<int32_t> ParseSignedRule(std::string_view text) {
  bool negative;
  std::string_view digits;
  if (!ScanNumber(text, negative, digits)) {
    return std::nullopt;
  }
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) {
      return std::nullopt;
    }
  }
  value = negative ? -value : value;
  if (value < INT32_MIN || value > INT32_MAX) {
    return std::nullopt;
  }
  return static_cast<int32_t>(value);
}

QvdHeaderResult ParseQvdHeader(xmlDocPtr document, QvdTableMetadata& table,
                               std::vector<QvdFieldMetadata>& fields) {
  QvdHeaderResult result;
  xmlNodePtr root = xmlDocGetRootElement(document);
  if (root == nullptr || !Named(root, "QvdTableHeader")) {
    result.status = QvdHeaderStatus::kBadRoot;
    return result;
  }
  static constexpr std::pair<const char*, uint64_t QvdTableMetadata::*> kNumbers[] = {
      {"Length", &QvdTableMetadata::length},
      {"NoOfRecords", &QvdTableMetadata::noOfRecords},
      {"Offset", &QvdTableMetadata::offset},
      {"RecordByteSize", &QvdTableMetadata::recordByteSize}};
  FieldHeaderParser fieldParser(result);
  for (xmlNodePtr e = root->children; e != nullptr; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) {
      continue;
    }
    std::string name = NodeName(e);
    if (name == "Fields") {
      table.properties.emplace(name, Serialize(document, e));
      for (xmlNodePtr header = e->children; header != nullptr; header = header->next) {
        if (header->type != XML_ELEMENT_NODE || !Named(header, "QvdFieldHeader")) {
          continue;
        }
        QvdFieldMetadata field;
        if (!fieldParser.Field(header, field)) {
          return result;
        }
        fields.push_back(std::move(field));
      }
    } else if (e->children == nullptr) {
      table.properties.emplace(name, std::string());
    } else if (e->children->type == XML_ELEMENT_NODE) {
      table.properties.emplace(name, Serialize(document, e));
    } else {
      std::string text = FirstChildText(e);
      for (const auto& [numberName, member] : kNumbers) {
        if (name == numberName) {
          std::optional<uint64_t> value = ParseUnsignedRule(text);
          if (!value) {
            result.status = QvdHeaderStatus::kBadNumber;
            result.conversion = "stoul";
            result.element = name;
            return result;
          }
          table.*member = *value;
        }
      }
      table.properties.emplace(name, std::move(text));
    }
  }
  return result;
}

std::optional<std::string> ReadQvdHeader(IFileInput& input, std::string& headerText,
                                         uint64_t& dataStart, QvdTableMetadata& table,
                                         std::vector<QvdFieldMetadata>& fields) {
  if (input.ReadUntil('\0', headerText) != kInputOk) {
    return "Error reading QVD table header.";
  }
  dataStart = input.BytesConsumed();
  std::optional<XmlDocument> document = XmlDocument::Parse(headerText);
  if (!document || !ParseQvdHeader(document->get(), table, fields).ok()) {
    return "Error parsing QVD table header.";
  }
  return std::nullopt;
}

}  // namespace orv
