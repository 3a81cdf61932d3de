#include "types/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "runtime/settings.h"
#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

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
  valueMagnitude_ = decimalPow10[precision_] - 1;
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

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------
//
// Written as kind 1 when the scale is 0 and the value fits 32 bits, as kind 2 up to precision 15
// (a double holds 15 digits exactly), else as kind 4 text with a full stop and no grouping.

namespace {

constexpr double kInt128Limit = 170141183460469231731687303715884105728.0;  // 2^127

DecimalTextSettings QvdTextSettings(uint8_t precision, uint8_t scale) {
  return {precision, scale, '.', 0, false};
}

// The double times 10^scale (`power`, at most 10^15) where the double is the nearest to a decimal
// of at most `scale` fraction digits, and small enough that no other such decimal is as near. Its
// shortest text is then that decimal, and reading the text gives the same value.
std::optional<int64_t> ScaledExactly(double number, double power) {
  const double scaled = std::nearbyint(number * power);
  if (!(std::fabs(scaled) <= 0x1p50) || scaled / power != number) {
    return std::nullopt;
  }
  return static_cast<int64_t>(scaled);
}

// The number after a symbol's kind byte `kind` (double or int) times `power`, as ScaledExactly
// takes a double; none where that fails or an int's product overflows.
std::optional<int64_t> ScaledNumber(uint8_t kind, const char* value, int64_t power) {
  if (kind == qvd::kSymbolDouble) {
    double number;
    memcpy(&number, value, sizeof number);
    return ScaledExactly(number, static_cast<double>(power));
  }
  int32_t integer;
  memcpy(&integer, value, sizeof integer);
  int64_t v;
  if (__builtin_mul_overflow(int64_t{integer}, power, &v)) {
    return std::nullopt;
  }
  return v;
}

bool FitsInt32(__int128 v) {
  return v >= INT32_MIN && v <= INT32_MAX;
}

}  // namespace

bool DecimalTypeTraits<__int128, long, decimal>::ReadQvdSymbol(const char* symbol, size_t length,
                                                               const QvdFieldMetadata&,
                                                               size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s)) {
    return false;
  }
  switch (s.kind) {
    case qvd::kSymbolInt:
    case qvd::kSymbolDualInt: {
      __int128 v;
      if (__builtin_mul_overflow(static_cast<__int128>(s.integer), decimalPow10[scale_], &v)) {
        return false;
      }
      return AcceptStreamable(v, size);
    }
    case qvd::kSymbolDouble:
    case qvd::kSymbolDualDouble: {
      if (!std::isfinite(s.number)) {
        return false;
      }
      // The double's shortest decimal text is the decimal it was written from (a double holds
      // 15 digits exactly): 0.29 is read as 0.29, not as 10^2 x 0.28999999999999998 truncated.
      // Digits beyond the scale are still truncated.
      char text[64];
      auto printed = std::to_chars(text, text + sizeof text, s.number);
      if (std::optional<__int128> parsed =
              ParseDecimalText(std::string_view(text, static_cast<size_t>(printed.ptr - text)),
                               {38, scale_, '.', 0, false})) {
        return AcceptStreamable(*parsed, size);
      }
      // An exponent beyond two digits: tiny values scale to 0, huge ones don't fit.
      double scaled = static_cast<double>(decimalPow10[scale_]) * s.number;
      if (!(scaled > -kInt128Limit && scaled < kInt128Limit)) {
        return false;
      }
      return AcceptStreamable(static_cast<__int128>(scaled), size);
    }
    default: {
      std::optional<__int128> parsed =
          ParseDecimalText(s.text, {precision_, scale_, decimalSeparator_, 0, true});
      return parsed && AcceptStreamable(*parsed, size);
    }
  }
}

uint64_t DecimalTypeTraits<__int128, long, decimal>::ReadQvdSymbolsAsStream(const char* symbols,
                                                                            size_t symbolSize,
                                                                            uint64_t n,
                                                                            const QvdFieldMetadata&,
                                                                            char* values) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  if (streamWidth_ != 8 || scale_ > 15) {
    return 0;
  }
  const auto power = static_cast<int64_t>(decimalPow10[scale_]);
  uint64_t i = 0;
  for (; kind != 0 && i < n && static_cast<uint8_t>(symbols[i * symbolSize]) == kind; ++i) {
    const std::optional<int64_t> v = ScaledNumber(kind, symbols + i * symbolSize + 1, power);
    if (!v) {
      break;
    }
    memcpy(values + i * sizeof(int64_t), &*v, sizeof(int64_t));
  }
  return i;
}

void DecimalTypeTraits<__int128, long, decimal>::ReadPlainValues(const char* const* symbols,
                                                                 uint64_t n, size_t symbolSize,
                                                                 const QvdFieldMetadata&, char* out,
                                                                 size_t width) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  const auto power = static_cast<int64_t>(decimalPow10[std::min<size_t>(scale_, 15)]);
  for (uint64_t r = 0; r < n; ++r, out += width) {
    const int64_t v = ScaledNumber(kind, symbols[r] + 1, power).value_or(0);
    memcpy(out, &v, sizeof v);
  }
}

void DecimalTypeTraits<__int128, long, decimal>::PrintPlainValues(const char* const* symbols,
                                                                  uint64_t n, size_t symbolSize,
                                                                  const QvdFieldMetadata& field,
                                                                  const AffixedPrinting& printing,
                                                                  char* out, size_t width) const {
  const DecimalTextSettings settings = TextSettings();
  PrintAffixedTexts<DecimalTypeTraits, int64_t, kDecimalTextCapacity>(
      *this, symbols, n, symbolSize, field, printing, out, width,
      [&settings](int64_t value, char* text) { return FormatDecimalText(value, settings, text); });
}

// Run values have 8 stream bytes, so none has more digits than the least of them.
size_t DecimalTypeTraits<__int128, long, decimal>::LongestPlainText() const {
  if (streamWidth_ != 8 || scale_ > 15) {
    return 0;
  }
  char text[kDecimalTextCapacity];
  return FormatDecimalText(INT64_MIN, TextSettings(), text);
}

bool DecimalTypeTraits<__int128, long, decimal>::AcceptStreamable(__int128 v, size_t& size) {
  if (streamWidth_ == 8 && (v < INT64_MIN || v > INT64_MAX)) {
    return false;  // its 8 stream bytes would hold another value
  }
  return AcceptSymbolValue(v, size);
}

size_t DecimalTypeTraits<__int128, long, decimal>::GetQvdSymbolSize(const void* data,
                                                                    size_t) const {
  __int128 v;
  memcpy(&v, data, sizeof v);
  if (scale_ == 0 && FitsInt32(v)) {
    return qvd_symbol::kIntSymbolSize;
  }
  if (precision_ <= 15) {
    return qvd_symbol::kDoubleSymbolSize;
  }
  char text[kDecimalTextCapacity];
  return FormatDecimalText(v, QvdTextSettings(precision_, scale_), text) + 2;
}

void DecimalTypeTraits<__int128, long, decimal>::WriteQvdSymbol(BufferedFileOutput& output,
                                                                const void* data, size_t) const {
  __int128 v;
  memcpy(&v, data, sizeof v);
  if (scale_ == 0 && FitsInt32(v)) {
    qvd_symbol::WriteInt(output, static_cast<int32_t>(v));
  } else if (precision_ <= 15) {
    qvd_symbol::WriteDouble(output,
                            static_cast<double>(v) / static_cast<double>(decimalPow10[scale_]));
  } else {
    char text[kDecimalTextCapacity];
    size_t n = FormatDecimalText(v, QvdTextSettings(precision_, scale_), text);
    qvd_symbol::WriteText(output, text, n);
  }
}

void DecimalTypeTraits<__int128, long, decimal>::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  qvd_symbol::WriteNumberFormat(output, "FIX", "", scale_);
  qvd_symbol::WriteTags(output, {"$numeric"});
}

// --- QVX values ----------------------------------------------------------------------------------

void DecimalTypeTraits<__int128, long, decimal>::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_SIGNED_INTEGER", "QVX_FIX", 8, scale_, "UNKNOWN",
                             nullptr);
}

void DecimalTypeTraits<__int128, long, decimal>::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    auto low = static_cast<int64_t>(current());
    output.Write(&low, sizeof low);
  }
}

std::unique_ptr<Generator> DecimalTypeTraits<__int128, long, decimal>::MakeGenerator() const {
  return std::make_unique<DecimalGenerator>(nullable(), precision_);
}

}  // namespace orv
