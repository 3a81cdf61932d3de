// Small QVD files put together byte by byte, for reading tests: an XML header, CR LF NUL, the
// symbol tables in header order and the index rows. Every count and length can be overridden to
// describe a damaged file.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/qvd_format.h"
#include "tests/drawoff/run_program.h"

namespace orv::testing {

// A field of the header as the reader takes it: its name and its bits in the row.
inline QvdFieldMetadata FieldMetadata(const std::string& name, uint64_t offset, uint64_t width,
                                      int8_t bias = 0) {
  QvdFieldMetadata field;
  field.fieldName = name;
  field.bitOffset = offset;
  field.bitWidth = width;
  field.bias = bias;
  return field;
}

inline std::string IntSymbol(int32_t value) {
  return '\x01' + LittleEndian(value);
}
inline std::string DoubleSymbol(double value) {
  return '\x02' + LittleEndian(value);
}
inline std::string TextSymbol(const std::string& text) {
  return '\x04' + text + '\0';
}
// Kind 5: an integer with its display text.
inline std::string DualIntSymbol(int32_t value, const std::string& text) {
  return '\x05' + LittleEndian(value) + text + '\0';
}

struct QvdField {
  QvdField(std::string name_, uint64_t bitOffset_, uint64_t bitWidth_, int bias_,
           std::string symbols_, uint64_t noOfSymbols_,
           std::optional<std::string> numberType_ = std::nullopt)
      : name(std::move(name_)),
        bitOffset(bitOffset_),
        bitWidth(bitWidth_),
        bias(bias_),
        symbols(std::move(symbols_)),
        noOfSymbols(noOfSymbols_),
        numberType(std::move(numberType_)) {}

  std::string name;
  uint64_t bitOffset = 0;
  uint64_t bitWidth = 0;
  int bias = 0;
  std::string symbols;  // the symbol table's bytes
  uint64_t noOfSymbols = 0;
  std::optional<std::string> numberType;  // NumberFormat Type, e.g. TIME
  std::optional<uint64_t> length;         // Length when it should not match the table
};

struct QvdTable {
  QvdTable(std::vector<QvdField> fields_, uint64_t recordByteSize_, std::string rows_)
      : fields(std::move(fields_)), recordByteSize(recordByteSize_), rows(std::move(rows_)) {}

  std::vector<QvdField> fields;
  uint64_t recordByteSize = 1;
  std::string rows;                     // the index table
  std::optional<uint64_t> noOfRecords;  // default: rows / RecordByteSize
  std::string extraElements;            // more children of QvdTableHeader
  std::optional<size_t> dataBytes;      // keep only this many bytes after the header's NUL

  std::string Bytes() const {
    auto element = [](const char* name, const std::string& value) {
      return "<" + std::string(name) + ">" + value + "</" + name + ">\n";
    };
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QvdTableHeader>\n<Fields>\n";
    std::string data;
    for (const QvdField& field : fields) {
      xml += "<QvdFieldHeader>\n" + element("FieldName", field.name) +
             element("BitOffset", std::to_string(field.bitOffset)) +
             element("BitWidth", std::to_string(field.bitWidth)) +
             element("Bias", std::to_string(field.bias)) +
             (field.numberType ? element("NumberFormat", element("Type", *field.numberType)) : "") +
             element("NoOfSymbols", std::to_string(field.noOfSymbols)) +
             element("Offset", std::to_string(data.size())) +
             element("Length", std::to_string(field.length.value_or(field.symbols.size()))) +
             "</QvdFieldHeader>\n";
      data += field.symbols;
    }
    uint64_t records = noOfRecords.value_or(recordByteSize == 0 ? 0 : rows.size() / recordByteSize);
    xml += "</Fields>\n" + extraElements +
           element("RecordByteSize", std::to_string(recordByteSize)) +
           element("NoOfRecords", std::to_string(records)) +
           element("Offset", std::to_string(data.size())) +
           element("Length", std::to_string(rows.size())) + "</QvdTableHeader>\r\n" + '\0';
    data += rows;
    return xml + (dataBytes ? data.substr(0, *dataBytes) : data);
  }
};

// A directory of its own under /tmp, removed with its files when the test ends.
class TempDir {
 public:
  TempDir() {
    char path[] = "/tmp/drawoff_test_XXXXXX";
    path_ = mkdtemp(path);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace orv::testing
