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
  // --- QVX values ---
  void WriteQvxHeader(BufferedFileOutput& output) const override;
  void WriteQvx(BufferedFileOutput& output) const override;

  // --- QVD symbols ---
  bool ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata& field,
                     size_t& size) override;
  uint64_t ReadQvdSymbolsAsStream(const char* symbols, size_t symbolSize, uint64_t n,
                                  const QvdFieldMetadata& field, char* values) const override;
  uint8_t PlainQvdSymbolKind(size_t symbolSize) const override;
  void PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                        const QvdFieldMetadata& field, const AffixedPrinting& printing, char* out,
                        size_t width) const override;
  size_t LongestPlainText() const override { return 11; }  // "-2147483648"
  size_t GetQvdSymbolSize(const void* data, size_t size) const override;
  size_t UniformQvdSymbolSize() const override { return GetQvdSymbolSize(nullptr, 0); }
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;
  bool ReadFromInteger(__int128 value, const void*& data, size_t& size) override;
  bool ReadFromInteger(unsigned __int128 value, const void*& data, size_t& size) override;
  std::string TextAlphabet() const override { return "+-0123456789"; }
  // "-2147483648"
  size_t MaxTokenLength() const override { return kTokenPadding + 11; }

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;
};

// Leading white space, an optional sign and decimal digits, nothing after them. Fails without a
// digit, on any other byte and outside the 32-bit range.
bool ParseIntText(std::string_view text, int& value);

}  // namespace orv
