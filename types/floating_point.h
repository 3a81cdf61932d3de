// IEEE 754 binary64 field: 8 bytes little-endian in records and streams.
#pragma once

#include "types/primitive_type_traits.h"

namespace orv {

// A double written out in full takes at most "-0." and the 1074 fraction digits of the smallest
// subnormal.
inline constexpr size_t kLongestFullDoubleText = 3 + 1074;

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
  // --- QVX values ---
  void WriteQvxHeader(BufferedFileOutput& output) const override;
  void WriteQvx(BufferedFileOutput& output) const override;

  // --- QVD symbols ---
  bool ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata& field,
                     size_t& size) override;
  uint64_t ReadQvdSymbolsAsStream(const char* symbols, size_t symbolSize, uint64_t n,
                                  const QvdFieldMetadata& field, char* values) const override;
  void ReadPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                       const QvdFieldMetadata& field, char* out, size_t width) const override;
  uint8_t PlainQvdSymbolKind(size_t symbolSize) const override;
  void PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                        const QvdFieldMetadata& field, const AffixedPrinting& printing, char* out,
                        size_t width) const override;
  size_t LongestPlainText() const override { return 24; }  // "-2.2250738585072014e-308"
  size_t GetQvdSymbolSize(const void* data, size_t size) const override;
  size_t UniformQvdSymbolSize() const override { return GetQvdSymbolSize(nullptr, 0); }
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;
  bool ReadFromInteger(__int128 value, const void*& data, size_t& size) override;
  bool ReadFromInteger(unsigned __int128 value, const void*& data, size_t& size) override;
  std::string TextAlphabet() const override { return "+-.0123456789eEinfatyINFATY"; }
  size_t MaxTokenLength() const override { return kTokenPadding + kLongestFullDoubleText; }

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;
};

// The longest prefix that reads as a number (decimal, hexadecimal, infinity, NaN) after leading
// white space; the rest is ignored. Fails when nothing is read or the value overflows.
// `text` must be NUL-terminated. QVD text symbols are read this way.
bool ParseDoubleText(const char* text, double& value);
// As ParseDoubleText, but the number must take the whole token: a text token is read this way.
// The byte after the token must be a 0x00 (a std::string's text).
bool ParseDoubleToken(std::string_view token, double& value);

}  // namespace orv
