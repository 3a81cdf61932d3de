// QVX field header lines and value encodings shared by the type descriptors. A record is the
// fields' values back to back; a nullable field leads with a flag byte (1 = null, no data).
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/output.h"

namespace orv::qvx_value {

// "      <Type>TYPE</Type>", "      <Extent>EXTENT</Extent>", "      <ByteWidth>WIDTH</ByteWidth>",
// the FixPointDecimals line when `decimals` is not negative, then the FieldFormat block with its
// Type and, when given, its Fmt.
void WriteFieldLines(BufferedFileOutput& output, const char* type, const char* extent,
                     unsigned width, int decimals, const char* formatType, const char* format);

// The flag byte of a nullable field; true when a value follows.
inline bool WriteFlag(BufferedFileOutput& output, bool nullable, bool isNull) {
  if (nullable) {
    output.WriteByte(isNull ? 1 : 0);
  }
  return !isNull;
}

// A text behind a one-byte length (QVX_COUNTED, width 1).
inline void WriteCountedText(BufferedFileOutput& output, std::string_view text) {
  output.WriteByte(static_cast<char>(text.size() & 0xFF));
  output.Write(text);
}

}  // namespace orv::qvx_value
