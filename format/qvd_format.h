// QVD file layout:
//
//   header       XML text (root QvdTableHeader), ended by the file's first 0x00 byte
//   symbol area  one symbol table per field, in header order, back to back
//   index table  NoOfRecords rows of RecordByteSize bytes, bit-packed symbol indices
//
// Offsets in the header count from the data start, the byte after the 0x00. A symbol is a kind
// byte and its payload:
//   1: int32                      2: float64
//   4: text bytes, 0x00           5: int32, text, 0x00      6: float64, text, 0x00
// Symbol number = stored index value + Bias; under Bias -2 a stored 0 is null.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orv {

enum class QvdNumberType : int32_t {
  Real = 0,
  Date = 1,
  Timestamp = 2,
  Time = 3,
  Interval = 4,
  Fix = 5,  // a fixed number of decimals (nDec)
};

struct QvdFieldMetadata {
  std::string fieldName;
  uint64_t bitOffset = 0;
  uint64_t bitWidth = 0;
  int8_t bias = 0;
  uint64_t noOfSymbols = 0;
  std::optional<uint64_t> offset;  // where the field's symbol table starts, when the header says
  uint64_t length = 0;
  std::optional<QvdNumberType> numberType;
  std::optional<std::string> numberFormat;
  std::optional<uint64_t> numberDecimals;  // NumberFormat's nDec
  std::set<std::string> tags;
};

struct QvdTableMetadata {
  std::map<std::string, std::string> properties;
  uint64_t recordByteSize = 0;
  uint64_t noOfRecords = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
};

namespace qvd {

inline constexpr uint8_t kSymbolInt = 1;
inline constexpr uint8_t kSymbolDouble = 2;
inline constexpr uint8_t kSymbolText = 4;
inline constexpr uint8_t kSymbolDualInt = 5;
inline constexpr uint8_t kSymbolDualDouble = 6;

inline constexpr int8_t kNullBias = -2;

}  // namespace qvd

}  // namespace orv
