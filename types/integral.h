// 32-bit signed integer field: 4 bytes little-endian in records and streams.
#pragma once

#include "types/primitive_type_traits.h"

namespace orv {

template <typename T>
class IntegralTypeTraits;

template <>
class IntegralTypeTraits<int> : public PrimitiveTypeTraits<int, int> {
 public:
  explicit IntegralTypeTraits(std::string_view name) : PrimitiveTypeTraits(name, "int") {}

  std::string GetTypeName() const override { return "int"; }
  std::optional<std::pair<const TypeTraits*, int>> GetIntegralInfo() const override {
    return std::pair<const TypeTraits*, int>(this, 4);
  }

  // --- Text ---
  int Parse(IFileInput& input, size_t& size, bool recordFormat) override;
  std::string_view FormatText(const void* value, size_t length, char* scratch) const override;
  std::string TextAlphabet() const override { return "+-0123456789"; }
};

// Leading white space, an optional sign, decimal digits; the rest is ignored. Fails without a
// digit and outside the 32-bit range.
bool ParseIntText(std::string_view text, int& value);

}  // namespace orv
