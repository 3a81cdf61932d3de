// Helpers shared by the type and runtime tests: layouts from definition text, captured output and
// bytes written as hex.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/output.h"
#include "types/type_traits.h"
#include "types/type_traits_parser.h"

namespace orv::test {

// The prepared layout of `text`; a definition error fails the calling test.
inline TypeTraitsCollection Layout(std::string_view text) {
  TypeTraitsCollection fields;
  EXPECT_EQ(TypeTraitsParser::ParseInlineFields(text, fields), std::nullopt) << text;
  fields.Prepare();
  return fields;
}

// Everything `write` sends through a BufferedFileOutput.
template <typename F>
std::string Capture(F write) {
  char* data = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&data, &size);
  {
    BufferedFileOutput output(file, false);
    write(output);
    output.flush();
  }
  fclose(file);
  std::string bytes(data, size);
  free(data);
  return bytes;
}

// "00 7f" -> the two bytes.
inline std::string Hex(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

inline std::string ToHex(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    char digits[4];
    snprintf(digits, sizeof digits, text.empty() ? "%02x" : " %02x", c);
    text += digits;
  }
  return text;
}

}  // namespace orv::test
