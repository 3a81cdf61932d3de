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
  // encoding comes from the XML declaration. Empty when libxml2 builds no document.
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
  bool ok() const { return status == QvdHeaderStatus::kOk; }
};

// Fills `table` (numeric members 0, properties empty) and appends one entry per QvdFieldHeader to
// `fields`. Properties keep the first text of a repeated element; numeric members take the last.
QvdHeaderResult ParseQvdHeader(xmlDocPtr document, QvdTableMetadata& table,
                               std::vector<QvdFieldMetadata>& fields);

// Unsigned decimal as strtoul reads it: leading white space, an optional sign (a minus negates
// modulo 2^64), digits, the rest ignored. Empty without a digit or beyond 64 bits.
std::optional<uint64_t> ParseUnsignedRule(std::string_view text);
// Signed decimal as strtol reads it, within the 32-bit range.
std::optional<int32_t> ParseSignedRule(std::string_view text);

// Reads the header from `input` (every byte before the first 0x00) and parses it. On failure
// returns the FAIL message: "Error reading QVD table header." or "Error parsing QVD table header.".
// `dataStart` receives the position after the 0x00; `headerText` the bytes read.
std::optional<std::string> ReadQvdHeader(IFileInput& input, std::string& headerText,
                                         uint64_t& dataStart, QvdTableMetadata& table,
                                         std::vector<QvdFieldMetadata>& fields);

}  // namespace orv
