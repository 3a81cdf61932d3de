#include "qvd/header_parser.h"

#include <libxml/parser.h>

#include <algorithm>
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

// Elements every field header must carry, as bits of FieldHeaderParser's `seen` mask.
enum FieldElement : unsigned {
  kFieldName = 1u << 0,
  kBitOffset = 1u << 1,
  kBitWidth = 1u << 2,
  kBias = 1u << 3,
  kNoOfSymbols = 1u << 4,
  kOffset = 1u << 5,
  kLength = 1u << 6,
  kNumberFormat = 1u << 7,
  kTags = 1u << 8,
};
constexpr unsigned kRequiredFieldElements =
    kFieldName | kBitOffset | kBitWidth | kNoOfSymbols | kLength;

// Reads one QvdFieldHeader. A repeated element is ignored: the first one counts, as for every
// element of the header.
class FieldHeaderParser {
 public:
  explicit FieldHeaderParser(QvdHeaderResult& result) : result_(result) {}

  bool Field(xmlNodePtr header, QvdFieldMetadata& field) {
    unsigned seen = 0;
    for (xmlNodePtr e = header->children; e != nullptr; e = e->next) {
      if (e->type != XML_ELEMENT_NODE) {
        continue;
      }
      const unsigned element = Element(e);
      if (element == 0 || (seen & element) != 0) {
        continue;
      }
      seen |= element;
      if (!Take(e, element, field)) {
        return false;
      }
    }
    if ((seen & kRequiredFieldElements) != kRequiredFieldElements && result_.missing.empty()) {
      result_.missing = MissingName(seen);
    }
    return true;
  }

 private:
  static constexpr std::pair<const char*, unsigned> kElements[] = {
      {"FieldName", kFieldName}, {"BitOffset", kBitOffset},       {"BitWidth", kBitWidth},
      {"Bias", kBias},           {"NoOfSymbols", kNoOfSymbols},   {"Offset", kOffset},
      {"Length", kLength},       {"NumberFormat", kNumberFormat}, {"Tags", kTags}};

  static unsigned Element(xmlNodePtr e) {
    for (const auto& [name, bit] : kElements) {
      if (Named(e, name)) {
        return bit;
      }
    }
    return 0;
  }

  static const char* MissingName(unsigned seen) {
    for (const auto& [name, bit] : kElements) {
      if ((kRequiredFieldElements & bit) != 0 && (seen & bit) == 0) {
        return name;
      }
    }
    return "";
  }

  bool Take(xmlNodePtr e, unsigned element, QvdFieldMetadata& field) {
    switch (element) {
      case kFieldName:
        field.fieldName = FirstChildText(e);
        return true;
      case kBitOffset:
        return Unsigned(e, field.bitOffset);
      case kBitWidth:
        return Unsigned(e, field.bitWidth);
      case kBias:
        return Bias(e, field.bias);
      case kNoOfSymbols:
        return Unsigned(e, field.noOfSymbols);
      case kOffset:
        field.offset.emplace();
        return Unsigned(e, *field.offset);
      case kLength:
        return Unsigned(e, field.length);
      case kNumberFormat:
        NumberFormat(e, field);
        return true;
      default:
        Tags(e, field);
        return true;
    }
  }

  bool Unsigned(xmlNodePtr element, uint64_t& member) {
    std::optional<uint64_t> value = ParseUnsignedRule(FirstChildText(element));
    if (!value) {
      return Fail("stoul", element);
    }
    member = *value;
    return true;
  }

  // A signed byte: a bias outside it describes no stored value.
  bool Bias(xmlNodePtr element, int8_t& member) {
    std::optional<int32_t> value = ParseSignedRule(FirstChildText(element));
    if (!value || *value < INT8_MIN || *value > INT8_MAX) {
      return Fail("stoi", element);
    }
    member = static_cast<int8_t>(*value);
    return true;
  }

  static void Tags(xmlNodePtr tags, QvdFieldMetadata& field) {
    for (xmlNodePtr tag = tags->children; tag != nullptr; tag = tag->next) {
      if (tag->type == XML_ELEMENT_NODE && Named(tag, "String")) {
        field.tags.insert(FirstChildText(tag));
      }
    }
  }

  static void NumberFormat(xmlNodePtr format, QvdFieldMetadata& field) {
    static constexpr std::pair<const char*, QvdNumberType> kTypes[] = {
        {"REAL", QvdNumberType::Real},           {"FIX", QvdNumberType::Fix},
        {"TIMESTAMP", QvdNumberType::Timestamp}, {"TIME", QvdNumberType::Time},
        {"INTERVAL", QvdNumberType::Interval},   {"DATE", QvdNumberType::Date}};
    bool typeSeen = false;
    bool fmtSeen = false;
    for (xmlNodePtr c = format->children; c != nullptr; c = c->next) {
      if (c->type != XML_ELEMENT_NODE || c->children == nullptr) {
        continue;
      }
      if (Named(c, "Type") && !typeSeen) {
        typeSeen = true;
        std::string text = FirstChildText(c);
        for (const auto& [word, type] : kTypes) {
          if (text == word) {
            field.numberType = type;
          }
        }
      } else if (Named(c, "nDec") && !field.numberDecimals) {
        field.numberDecimals = ParseUnsignedRule(FirstChildText(c));
      } else if (Named(c, "Fmt") && !fmtSeen) {
        fmtSeen = true;
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
  if (text.size() > static_cast<size_t>(INT_MAX) ||
      text.find("<!DOCTYPE") != std::string_view::npos) {
    return std::nullopt;
  }
  xmlDocPtr document = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                     kHeaderParseOptions);
  if (document == nullptr) {
    return std::nullopt;
  }
  // A QVD header never declares a document type; its entities could make a small header cost
  // gigabytes once expanded.
  if (document->intSubset != nullptr || document->extSubset != nullptr) {
    xmlFreeDoc(document);
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
  // A count or a size is never negative: strtoul's wrap of "-1" to 2^64 - 1 would be a lie.
  if (negative && value != 0) {
    return std::nullopt;
  }
  return value;
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

namespace {

// The table's numeric elements; RecordByteSize and NoOfRecords are required.
constexpr struct {
  const char* name;
  uint64_t QvdTableMetadata::*member;
  bool required;
} kTableNumbers[] = {{"Length", &QvdTableMetadata::length, false},
                     {"NoOfRecords", &QvdTableMetadata::noOfRecords, true},
                     {"Offset", &QvdTableMetadata::offset, false},
                     {"RecordByteSize", &QvdTableMetadata::recordByteSize, true}};

bool ReadFields(xmlNodePtr fieldsElement, FieldHeaderParser& parser,
                std::vector<QvdFieldMetadata>& fields) {
  for (xmlNodePtr header = fieldsElement->children; header != nullptr; header = header->next) {
    if (header->type != XML_ELEMENT_NODE || !Named(header, "QvdFieldHeader")) {
      continue;
    }
    QvdFieldMetadata field;
    if (!parser.Field(header, field)) {
      return false;
    }
    fields.push_back(std::move(field));
  }
  return true;
}

// A text element: kept as a property (the first of its name wins, as properties do), and read
// as a number when it is one of the table's numbers.
bool ReadTableText(xmlNodePtr e, QvdTableMetadata& table, QvdHeaderResult& result) {
  std::string name = NodeName(e);
  std::string text = FirstChildText(e);
  const bool first = !table.properties.contains(name);
  for (const auto& number : kTableNumbers) {
    if (first && name == number.name) {
      std::optional<uint64_t> value = ParseUnsignedRule(text);
      if (!value) {
        result.status = QvdHeaderStatus::kBadNumber;
        result.conversion = "stoul";
        result.element = name;
        return false;
      }
      table.*number.member = *value;
    }
  }
  table.properties.emplace(std::move(name), std::move(text));
  return true;
}

// The bytes before the first 0x00, which is consumed; false when the input ends (or fails) first
// or the header would pass kMaxQvdHeaderBytes: an endless stream without a 0x00 stops there.
bool ReadHeaderBytes(IFileInput& input, std::string& out) {
  out.clear();
  while (input.Ensure(1)) {
    const char* pos = input.BufferPos();
    const auto available = static_cast<size_t>(input.BufferEnd() - pos);
    const auto* found = static_cast<const char*>(memchr(pos, '\0', available));
    const size_t take = found != nullptr ? static_cast<size_t>(found - pos) : available;
    if (take > kMaxQvdHeaderBytes - out.size()) {
      return false;
    }
    out.append(pos, take);
    input.Advance(take + (found != nullptr ? 1 : 0));
    if (found != nullptr) {
      return true;
    }
  }
  return false;
}

}  // namespace

QvdHeaderResult ParseQvdHeader(xmlDocPtr document, QvdTableMetadata& table,
                               std::vector<QvdFieldMetadata>& fields) {
  QvdHeaderResult result;
  xmlNodePtr root = xmlDocGetRootElement(document);
  if (root == nullptr || !Named(root, "QvdTableHeader")) {
    result.status = QvdHeaderStatus::kBadRoot;
    return result;
  }
  FieldHeaderParser fieldParser(result);
  for (xmlNodePtr e = root->children; e != nullptr; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) {
      continue;
    }
    std::string name = NodeName(e);
    if (name == "Fields") {
      table.properties.emplace(name, Serialize(document, e));
      if (!ReadFields(e, fieldParser, fields)) {
        return result;
      }
    } else if (e->children == nullptr) {
      table.properties.emplace(name, std::string());
    } else if (e->children->type == XML_ELEMENT_NODE) {
      table.properties.emplace(name, Serialize(document, e));
    } else if (!ReadTableText(e, table, result)) {
      return result;
    }
  }
  for (const auto& number : kTableNumbers) {
    auto found = table.properties.find(number.name);
    if (number.required && result.missing.empty() &&
        (found == table.properties.end() || !ParseUnsignedRule(found->second))) {
      result.missing = number.name;
    }
  }
  return result;
}

std::optional<std::string> ReadQvdHeader(IFileInput& input, std::string& headerText,
                                         uint64_t& dataStart, QvdTableMetadata& table,
                                         std::vector<QvdFieldMetadata>& fields, HeaderUse use) {
  // A gzip stream starts 1f 8b: say so, rather than that its header doesn't parse.
  if (input.Ensure(2) && input.BufferPos()[0] == '\x1f' && input.BufferPos()[1] == '\x8b') {
    return "Input is gzip-compressed; decompress it first, e.g. with 'gzip -dc FILE.gz'.";
  }
  if (!ReadHeaderBytes(input, headerText)) {
    return "Error reading QVD table header.";
  }
  dataStart = input.BytesConsumed();
  std::optional<XmlDocument> document = XmlDocument::Parse(headerText);
  if (!document) {
    return "Error parsing QVD table header.";
  }
  const QvdHeaderResult result = ParseQvdHeader(document->get(), table, fields);
  if (!result.ok() || (use == HeaderUse::kReadData && !result.missing.empty())) {
    return "Error parsing QVD table header.";
  }
  return std::nullopt;
}

}  // namespace orv
