// Fuzz entry points, shared by the libFuzzer targets and by the test that replays the saved
// corpus with the ordinary build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "qvd/header_parser.h"
#include "runtime/data_definition.h"
#include "runtime/input.h"
#include "runtime/output.h"
#include "types/decimal_text.h"
#include "types/type_traits_parser.h"

namespace orv::fuzz {

// A whole QVD prefix: header read up to the NUL and parsed.
inline void QvdHeader(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  std::string header;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  (void)ReadQvdHeader(input, header, dataStart, table, fields);
}

// Data-definition text; what parses must render and parse to the same text.
inline void DataDefinition(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TypeTraitsCollection fields;
  if (TypeTraitsParser::ParseInlineFields(text, fields)) {
    return;
  }
  std::string rendered = ToString(fields, false);
  TypeTraitsCollection again;
  if (TypeTraitsParser::ParseInlineFields(rendered, again) || ToString(again, false) != rendered) {
    __builtin_trap();
  }
}

// Delimited text records through a layout with every type, printed back.
inline void TextRecords(const uint8_t* data, size_t size) {
  TypeTraitsCollection fields;
  if (TypeTraitsParser::ParseInlineFields(
          "a int nullable; b double; c decimal(12,3) null=\"N\"; d date; e datetime nullable; "
          "f string quote=\"'\"; g string(3) separator=\"|;\"; h string nullable",
          fields)) {
    __builtin_trap();
  }
  fields.Prepare();
  MemoryInput input(data, size);
  FILE* sink = fopen("/dev/null", "wb");
  {
    BufferedFileOutput output(sink, false);
    for (int record = 0; record < 1000; ++record) {
      for (const auto& field : fields) {
        size_t bytes = 0;
        if (field->Parse(input, bytes, true) != kStatusOk) {
          goto done;
        }
        field->Print(output);
      }
    }
  done:;
  }
  fclose(sink);
}

// Decimal text at a precision and scale taken from the first two bytes.
inline void DecimalText(const uint8_t* data, size_t size) {
  if (size < 2) {
    return;
  }
  DecimalTextSettings settings{static_cast<uint8_t>(1 + data[0] % 38), 0};
  settings.scale = static_cast<uint8_t>(data[1] % (settings.precision + 1));
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  std::optional<__int128> value = ParseDecimalText(text, settings);
  if (!value) {
    return;
  }
  char printed[kDecimalTextCapacity];
  size_t length = FormatDecimalText(*value, settings, printed);
  if (ParseDecimalText(std::string_view(printed, length), settings) != value) {
    __builtin_trap();
  }
}

}  // namespace orv::fuzz
