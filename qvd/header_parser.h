// The XML header of a QVD file as table and field metadata.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/qvd_format.h"
#include "runtime/input.h"

namespace orv {

// Owns a parsed libxml2 document.
class XmlDocument {
 public:
  // Parses `text` with the header options (no blanks, no warnings, no error output); the
  // encoding comes from the XML declaration. Empty when libxml2 builds no document, and for a
  // document with a DTD (a document type or entity declarations).
  static std::optional<XmlDocument> Parse(std::string_view text);
  xmlDocPtr get() const { return document_.get(); }

 private:
  struct Free {
    void operator()(xmlDocPtr document) const { xmlFreeDoc(document); }
  };
  explicit XmlDocument(xmlDocPtr document) : document_(document) {}
  std::unique_ptr<xmlDoc, Free> document_;
};

enum class QvdHeaderStatus {
  kOk,
  kBadRoot,    // the root element is not QvdTableHeader
  kBadNumber,  // a numeric element that does not convert
};

struct QvdHeaderResult {
  QvdHeaderStatus status = QvdHeaderStatus::kOk;
  // For kBadNumber: the failed conversion, "stoul" or "stoi", and the element's name.
  std::string conversion;
  std::string element;
  // The first element that reading the data needs and the header lacks (RecordByteSize,
  // NoOfRecords; per field FieldName, BitOffset, BitWidth, NoOfSymbols, Length); empty when
  // there is none.
  std::string missing;
  bool ok() const { return status == QvdHeaderStatus::kOk; }
};

// Fills `table` (numeric members 0, properties empty) and appends one entry per QvdFieldHeader to
// `fields`. Of a repeated element the first counts, for properties and numbers alike. A numeric
// element must hold a number in range: no sign on counts and sizes, a signed byte for Bias.
QvdHeaderResult ParseQvdHeader(xmlDocPtr document, QvdTableMetadata& table,
                               std::vector<QvdFieldMetadata>& fields);

// Unsigned decimal as strtoul reads it: leading white space, an optional sign, digits, the rest
// ignored. Empty without a digit, beyond 64 bits, or for a negative number.
std::optional<uint64_t> ParseUnsignedRule(std::string_view text);
// Signed decimal as strtol reads it, within the 32-bit range.
std::optional<int32_t> ParseSignedRule(std::string_view text);

// The longest header read: real headers take kilobytes, a few megabytes for thousands of fields.
inline constexpr size_t kMaxQvdHeaderBytes = size_t{256} << 20;

// Reads the header from `input` (every byte before the first 0x00, at most kMaxQvdHeaderBytes)
// and parses it. On failure
// returns the FAIL message: "Error reading QVD table header." or "Error parsing QVD table header."
// (or, for a gzip stream, how to decompress it).
// `dataStart` receives the position after the 0x00; `headerText` the bytes read.
// kReadData refuses a header that lacks an element the rows need (QvdHeaderResult::missing);
// kInspect reads any QVD header.
enum class HeaderUse { kInspect, kReadData };
std::optional<std::string> ReadQvdHeader(IFileInput& input, std::string& headerText,
                                         uint64_t& dataStart, QvdTableMetadata& table,
                                         std::vector<QvdFieldMetadata>& fields,
                                         HeaderUse use = HeaderUse::kInspect);

}  // namespace orv
