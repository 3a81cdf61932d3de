#include "types/floating_point.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "types/csv_text.h"
#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

namespace orv {

namespace {

// The end of the number read from `text` into `value`; null when nothing is read or the value
// overflows (an underflow gives the nearest small value).
const char* ReadDouble(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  double v = strtod(text, &end);
  if (end == text || (errno == ERANGE && std::isinf(v))) {
    return nullptr;
  }
  value = v;
  return end;
}

}  // namespace

bool ParseDoubleText(const char* text, double& value) {
  return ReadDouble(text, value) != nullptr;
}

bool ParseDoubleToken(std::string_view token, double& value) {
  // A plain decimal number reads faster through from_chars, to the same nearest double; anything
  // else (a sign or blank first, hexadecimal, inf and nan, zero, what underflows or overflows)
  // through strtod.
  const char* end = token.data() + token.size();
  if (!token.empty() && (std::isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-')) {
    double v;
    const auto [at, error] = std::from_chars(token.data(), end, v);
    if (error == std::errc() && at == end && std::isfinite(v) && v != 0) {
      value = v;
      return true;
    }
  }
  double v;
  if (ReadDouble(token.data(), v) != end) {
    return false;  // a token with a 0x00 inside ends early too
  }
  value = v;
  return true;
}

int FloatingPointTypeTraits<double>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  return ParseWith(input, size, recordFormat, ParseDoubleToken);
}

std::string_view FloatingPointTypeTraits<double>::FormatText(const void* value, size_t,
                                                             char* scratch) const {
  double v;
  memcpy(&v, value, sizeof v);
  // Delimited text keeps 17 significant digits; CSV the shortest text that reads back as v.
  char* end = csvText() ? FormatShortestDouble(v, scratch) : FormatFullDouble(v, scratch);
  return {scratch, static_cast<size_t>(end - scratch)};
}

void FloatingPointTypeTraits<double>::PrintPlainValues(const char* const* symbols, uint64_t n,
                                                       size_t symbolSize,
                                                       const QvdFieldMetadata& field,
                                                       const AffixedPrinting& printing, char* out,
                                                       size_t width) const {
  using Self = FloatingPointTypeTraits;
  if (csvText()) {
    PrintAffixedValues<Self, double>(*this, symbols, n, symbolSize, field, printing, out, width,
                                     FormatShortestDouble);
  } else {
    PrintAffixedValues<Self, double>(*this, symbols, n, symbolSize, field, printing, out, width,
                                     FormatFullDouble);
  }
}

}  // namespace orv

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------

namespace {

// The number after a symbol's kind byte `kind` (double or int).
double NumberOf(uint8_t kind, const char* value) {
  if (kind == qvd::kSymbolDouble) {
    double v;
    memcpy(&v, value, sizeof v);
    return v;
  }
  int32_t integer;
  memcpy(&integer, value, sizeof integer);
  return static_cast<double>(integer);
}

}  // namespace

bool FloatingPointTypeTraits<double>::ReadQvdSymbol(const char* symbol, size_t length,
                                                    const QvdFieldMetadata&, size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s)) {
    return false;
  }
  switch (s.kind) {
    case qvd::kSymbolInt:
    case qvd::kSymbolDualInt:
      return AcceptSymbolValue(static_cast<double>(s.integer), size);
    case qvd::kSymbolDouble:
    case qvd::kSymbolDualDouble:
      return AcceptSymbolValue(s.number, size);
    default: {
      double v = 0;
      // The text is followed by its 0x00 in the symbol.
      return ParseDoubleText(s.text.data(), v) && AcceptSymbolValue(v, size);
    }
  }
}

uint64_t FloatingPointTypeTraits<double>::ReadQvdSymbolsAsStream(const char* symbols,
                                                                 size_t symbolSize, uint64_t n,
                                                                 const QvdFieldMetadata&,
                                                                 char* values) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  uint64_t i = 0;
  for (; kind != 0 && i < n && static_cast<uint8_t>(symbols[i * symbolSize]) == kind; ++i) {
    const double v = NumberOf(kind, symbols + i * symbolSize + 1);
    memcpy(values + i * sizeof v, &v, sizeof v);
  }
  return i;
}

void FloatingPointTypeTraits<double>::ReadPlainValues(const char* const* symbols, uint64_t n,
                                                      size_t symbolSize, const QvdFieldMetadata&,
                                                      char* out, size_t width) const {
  const uint8_t kind = qvd_symbol::NumberKindOfSize(symbolSize);
  for (uint64_t r = 0; r < n; ++r, out += width) {
    const double v = NumberOf(kind, symbols[r] + 1);
    memcpy(out, &v, sizeof v);
  }
}

uint8_t FloatingPointTypeTraits<double>::PlainQvdSymbolKind(size_t symbolSize) const {
  return symbolSize == qvd_symbol::kDoubleSymbolSize ? qvd::kSymbolDouble : 0;
}

size_t FloatingPointTypeTraits<double>::GetQvdSymbolSize(const void*, size_t) const {
  return qvd_symbol::kDoubleSymbolSize;
}

void FloatingPointTypeTraits<double>::WriteQvdSymbol(BufferedFileOutput& output, const void* data,
                                                     size_t) const {
  double v;
  memcpy(&v, data, sizeof v);
  qvd_symbol::WriteDouble(output, v);
}

void FloatingPointTypeTraits<double>::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  qvd_symbol::WriteNumberFormat(output, "REAL", "");
  qvd_symbol::WriteTags(output, {"$numeric"});
}

bool FloatingPointTypeTraits<double>::ReadFromInteger(__int128 value, const void*& data,
                                                      size_t& size) {
  SetValue(static_cast<double>(value));
  data = value_;
  size = sizeof(double);
  return true;
}

bool FloatingPointTypeTraits<double>::ReadFromInteger(unsigned __int128 value, const void*& data,
                                                      size_t& size) {
  SetValue(static_cast<double>(value));
  data = value_;
  size = sizeof(double);
  return true;
}

// --- QVX values ----------------------------------------------------------------------------------

void FloatingPointTypeTraits<double>::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_IEEE_REAL", "QVX_FIX", 8, -1, "UNKNOWN", nullptr);
}

void FloatingPointTypeTraits<double>::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    output.Write(value_, sizeof(double));
  }
}

std::unique_ptr<Generator> FloatingPointTypeTraits<double>::MakeGenerator() const {
  return std::make_unique<FloatingPointGenerator>(nullable());
}

}  // namespace orv
