#include "types/integral.h"

#include <charconv>

#include "types/generators.h"
#include "types/qvd_symbol.h"
#include "types/qvx_value.h"

namespace orv {

bool ParseIntText(std::string_view text, int& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude; anything past 2^31 already fails, long before 64 bits overflow.
  uint64_t magnitude = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > uint64_t{1} << 31) {
      return false;
    }
  }
  if (digits == 0 || i != text.size() ||
      magnitude > (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)) {
    return false;
  }
  value =
      negative ? static_cast<int>(-static_cast<int64_t>(magnitude)) : static_cast<int>(magnitude);
  return true;
}

int IntegralTypeTraits<int>::Parse(IFileInput& input, size_t& size, bool recordFormat) {
  return ParseWith(input, size, recordFormat, ParseIntText);
}

namespace {

char* FormatInt(int32_t value, char* out) {
  return std::to_chars(out, out + 16, value).ptr;
}

}  // namespace

std::string_view IntegralTypeTraits<int>::FormatText(const void* value, size_t,
                                                     char* scratch) const {
  int32_t v;
  memcpy(&v, value, sizeof v);
  return {scratch, static_cast<size_t>(FormatInt(v, scratch) - scratch)};
}

void IntegralTypeTraits<int>::PrintPlainValues(const char* const* symbols, uint64_t n,
                                               size_t symbolSize, const QvdFieldMetadata& field,
                                               const AffixedPrinting& printing, char* out,
                                               size_t width) const {
  PrintAffixedValues<IntegralTypeTraits, int32_t>(*this, symbols, n, symbolSize, field, printing,
                                                  out, width, FormatInt);
}

}  // namespace orv

namespace orv {

// --- QVD symbols ---------------------------------------------------------------------------------

bool IntegralTypeTraits<int>::ReadQvdSymbol(const char* symbol, size_t length,
                                            const QvdFieldMetadata&, size_t& size) {
  qvd_symbol::Symbol s;
  if (!qvd_symbol::Decode(symbol, length, s) ||
      (s.kind != qvd::kSymbolInt && s.kind != qvd::kSymbolDualInt)) {
    return false;
  }
  return AcceptSymbolValue(s.integer, size);
}

uint64_t IntegralTypeTraits<int>::ReadQvdSymbolsAsStream(const char* symbols, size_t symbolSize,
                                                         uint64_t n, const QvdFieldMetadata&,
                                                         char* values) const {
  if (symbolSize != qvd_symbol::kIntSymbolSize) {
    return 0;
  }
  uint64_t i = 0;
  for (; i < n && static_cast<uint8_t>(symbols[i * symbolSize]) == qvd::kSymbolInt; ++i) {
    memcpy(values + i * sizeof(int32_t), symbols + i * symbolSize + 1, sizeof(int32_t));
  }
  return i;
}

uint8_t IntegralTypeTraits<int>::PlainQvdSymbolKind(size_t symbolSize) const {
  return symbolSize == qvd_symbol::kIntSymbolSize ? qvd::kSymbolInt : 0;
}

size_t IntegralTypeTraits<int>::GetQvdSymbolSize(const void*, size_t) const {
  return qvd_symbol::kIntSymbolSize;
}

void IntegralTypeTraits<int>::WriteQvdSymbol(BufferedFileOutput& output, const void* data,
                                             size_t) const {
  int32_t v;
  memcpy(&v, data, sizeof v);
  qvd_symbol::WriteInt(output, v);
}

void IntegralTypeTraits<int>::WriteQvdHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvdHeader(output);
  qvd_symbol::WriteNumberFormat(output, "INTEGER", "");
  qvd_symbol::WriteTags(output, {"$numeric", "$integer"});
}

bool IntegralTypeTraits<int>::ReadFromInteger(__int128 value, const void*& data, size_t& size) {
  SetValue(static_cast<int>(static_cast<uint32_t>(value)));
  data = value_;
  size = sizeof(int);
  return true;
}

bool IntegralTypeTraits<int>::ReadFromInteger(unsigned __int128 value, const void*& data,
                                              size_t& size) {
  return ReadFromInteger(static_cast<__int128>(value), data, size);
}

// --- QVX values ----------------------------------------------------------------------------------

void IntegralTypeTraits<int>::WriteQvxHeader(BufferedFileOutput& output) const {
  TypeTraits::WriteQvxHeader(output);
  qvx_value::WriteFieldLines(output, "QVX_SIGNED_INTEGER", "QVX_FIX", 4, -1, "UNKNOWN", nullptr);
}

void IntegralTypeTraits<int>::WriteQvx(BufferedFileOutput& output) const {
  if (qvx_value::WriteFlag(output, nullable(), IsNull())) {
    output.Write(value_, sizeof(int));
  }
}

std::unique_ptr<Generator> IntegralTypeTraits<int>::MakeGenerator() const {
  return std::make_unique<IntegralGenerator<int>>(nullable(), INT32_MIN, INT32_MAX, INT32_MIN,
                                                  INT32_MAX);
}

}  // namespace orv
