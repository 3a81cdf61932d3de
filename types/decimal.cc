#include "types/decimal.h"

#include <algorithm>

#include "runtime/settings.h"

namespace orv {

DecimalTypeTraits<__int128, long, decimal>::DecimalTypeTraits(std::string_view name,
                                                              std::optional<unsigned> precision,
                                                              std::optional<unsigned> scale)
    : PrimitiveTypeTraits(name, "decimal") {
  unsigned p = precision.value_or(g_TypeTraitsOptions.decimalPrecision);
  p = std::clamp(p, 1u, 38u);
  unsigned s = std::min(scale.value_or(g_TypeTraitsOptions.decimalScale), p);
  precision_ = static_cast<uint8_t>(p);
  scale_ = static_cast<uint8_t>(s);
  streamWidth_ = precision_ <= 18 ? 8 : 16;
}

std::string DecimalTypeTraits<__int128, long, decimal>::GetTypeName() const {
  return "decimal(" + std::to_string(precision_) + "," + std::to_string(scale_) + ")";
}

int DecimalTypeTraits<__int128, long, decimal>::Parse(IFileInput& input, size_t& size,
                                                      bool recordFormat) {
  const DecimalTextSettings settings = TextSettings();
  return ParseWith(input, size, recordFormat, [&settings](std::string_view text, __int128& v) {
    std::optional<__int128> parsed = ParseDecimalText(text, settings);
    if (!parsed) {
      return false;
    }
    v = *parsed;
    return true;
  });
}

std::string_view DecimalTypeTraits<__int128, long, decimal>::FormatText(const void* value, size_t,
                                                                        char* scratch) const {
  __int128 v;
  memcpy(&v, value, sizeof v);
  return {scratch, FormatDecimalText(v, TextSettings(), scratch)};
}

std::string DecimalTypeTraits<__int128, long, decimal>::TextAlphabet() const {
  DecimalTextSettings settings = TextSettings();
  std::string alphabet = "-0123456789";
  alphabet.push_back(settings.decimalSeparator != 0 ? settings.decimalSeparator
                                                    : g_TypeTraitsOptions.decimalSeparator);
  char grouping = settings.groupingSeparator != 0 ? settings.groupingSeparator
                  : settings.grouping             ? g_TypeTraitsOptions.groupingSeparator
                                                  : 0;
  if (grouping != 0) {
    alphabet.push_back(grouping);
  }
  return alphabet;
}

}  // namespace orv
