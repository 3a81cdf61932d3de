// IEEE 754 binary64 field: 8 bytes little-endian in records and streams.
#pragma once

#include "types/primitive_type_traits.h"

namespace orv {

template <typename T>
class FloatingPointTypeTraits;

template <>
class FloatingPointTypeTraits<double> : public PrimitiveTypeTraits<double, double> {
 public:
  explicit FloatingPointTypeTraits(std::string_view name) : PrimitiveTypeTraits(name, "double") {}

  std::string GetTypeName() const override { return "double"; }

  // --- Text ---
  int Parse(IFileInput& input, size_t& size, bool recordFormat) override;
  // "%.17g"
  std::string_view FormatText(const void* value, size_t length, char* scratch) const override;
  std::string TextAlphabet() const override { return "+-.0123456789eEinfatyINFATY"; }
};

// The longest prefix that reads as a number (decimal, hexadecimal, infinity, NaN) after leading
// white space; the rest is ignored. Fails when nothing is read or the value overflows.
// `text` must be NUL-terminated.
bool ParseDoubleText(const char* text, double& value);

}  // namespace orv
