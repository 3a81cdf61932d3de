// Decoding and encoding of single QVD symbols, shared by the type descriptors. A symbol is a kind
// byte and its payload:
//   1: int32 (1 + 4 bytes)             2: float64 (1 + 8 bytes)
//   4: text, 0x00 (1 + n + 1)          5: int32, text, 0x00 (1 + 4 + n + 1)
//   6: float64, text, 0x00 (1 + 8 + n + 1)
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "format/qvd_format.h"
#include "runtime/output.h"
#include "runtime/values.h"

namespace orv::qvd_symbol {

inline constexpr size_t kIntSymbolSize = 1 + 4;
inline constexpr size_t kDoubleSymbolSize = 1 + 8;

// The plain number kind (1 or 2) whose symbols take `size` bytes; 0 for any other size.
inline constexpr uint8_t NumberKindOfSize(size_t size) {
  return size == kDoubleSymbolSize ? qvd::kSymbolDouble
         : size == kIntSymbolSize  ? qvd::kSymbolInt
                                   : 0;
}

// Day numbers count from 1899-12-30, or from 1970-01-01 for times of day and durations.
inline constexpr int64_t kDayEpoch = DaysFromCivil(1899, 12, 30);
inline constexpr int64_t kUnixDayEpoch = 0;

struct Symbol {
  uint8_t kind = 0;
  int32_t integer = 0;    // kinds 1 and 5
  double number = 0;      // kinds 2 and 6
  std::string_view text;  // kinds 4, 5 and 6, without the 0x00
};

// Reads the symbol at `symbol` within `length` bytes; false for an unknown kind or a symbol that
// does not fit (a text without its 0x00).
inline bool Decode(const char* symbol, size_t length, Symbol& out) {
  if (length == 0) {
    return false;
  }
  out.kind = static_cast<uint8_t>(symbol[0]);
  size_t textStart;
  switch (out.kind) {
    case qvd::kSymbolInt:
    case qvd::kSymbolDualInt:
      if (length < kIntSymbolSize) {
        return false;
      }
      memcpy(&out.integer, symbol + 1, 4);
      textStart = kIntSymbolSize;
      break;
    case qvd::kSymbolDouble:
    case qvd::kSymbolDualDouble:
      if (length < kDoubleSymbolSize) {
        return false;
      }
      memcpy(&out.number, symbol + 1, 8);
      textStart = kDoubleSymbolSize;
      break;
    case qvd::kSymbolText:
      textStart = 1;
      break;
    default:
      return false;
  }
  if (out.kind == qvd::kSymbolInt || out.kind == qvd::kSymbolDouble) {
    return true;
  }
  const void* end = memchr(symbol + textStart, 0, length - textStart);
  if (end == nullptr) {
    return false;
  }
  out.text = std::string_view(
      symbol + textStart, static_cast<size_t>(static_cast<const char*>(end) - symbol) - textStart);
  return true;
}

inline void WriteInt(BufferedFileOutput& output, int32_t value) {
  char bytes[kIntSymbolSize] = {static_cast<char>(qvd::kSymbolInt)};
  memcpy(bytes + 1, &value, 4);
  output.Write(bytes, sizeof bytes);
}

inline void WriteDouble(BufferedFileOutput& output, double value) {
  char bytes[kDoubleSymbolSize] = {static_cast<char>(qvd::kSymbolDouble)};
  memcpy(bytes + 1, &value, 8);
  output.Write(bytes, sizeof bytes);
}

inline void WriteText(BufferedFileOutput& output, const void* text, size_t length) {
  output.WriteByte(static_cast<char>(qvd::kSymbolText));
  output.Write(text, length);
  output.WriteByte('\0');
}

// The tag block of a field header: "      <Tags>\n", one String line per tag, "      </Tags>\n".
void WriteTags(BufferedFileOutput& output, std::initializer_list<const char*> tags);
// The NumberFormat block of a field: its type word (INTEGER, REAL, FIX, ASCII, DATE, ...), display
// format and, for FIX, its decimals.
void WriteNumberFormat(BufferedFileOutput& output, const char* type, std::string_view format,
                       unsigned decimals = 0);

}  // namespace orv::qvd_symbol
