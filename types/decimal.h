// Decimal field: the value times 10^scale as a signed 128-bit integer, precision 1 to 38. Records
// hold 16 bytes; the binary stream holds the low 8 bytes when the precision is 18 or less.
#pragma once

#include "runtime/values.h"
#include "types/decimal_text.h"
#include "types/floating_point.h"
#include "types/primitive_type_traits.h"

namespace orv {

template <typename S, typename L, typename V>
class DecimalTypeTraits;

template <>
class DecimalTypeTraits<__int128, long, decimal> : public PrimitiveTypeTraits<__int128, decimal> {
 public:
  // Precision above 38 becomes 38, 0 becomes 1; the scale is capped at the precision. Absent
  // values take the process defaults.
  DecimalTypeTraits(std::string_view name, std::optional<unsigned> precision,
                    std::optional<unsigned> scale);

  uint8_t precision() const { return precision_; }
  uint8_t scale() const { return scale_; }
  char decimalSeparator() const { return decimalSeparator_; }
  void SetDecimalSeparator(char c) { decimalSeparator_ = c; }
  char groupingSeparator() const { return groupingSeparator_; }
  void SetGroupingSeparator(char c) { groupingSeparator_ = c; }
  bool grouping() const { return grouping_; }
  void SetGrouping(bool on) { grouping_ = on; }

  std::string GetTypeName() const override;
  const DecimalTypeTraits* AsDecimal() const override { return this; }
  DecimalTypeTraits* AsDecimal() override { return this; }
  bool SupportsQvx() const override { return precision_ < 19; }

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
  void ReadPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                       const QvdFieldMetadata& field, char* out, size_t width) const override;
  void PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                        const QvdFieldMetadata& field, const AffixedPrinting& printing, char* out,
                        size_t width) const override;
  size_t LongestPlainText() const override;
  size_t GetQvdSymbolSize(const void* data, size_t size) const override;
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;
  // Digits, the sign and both separators.
  std::string TextAlphabet() const override;
  // As a double written out in full (extra fraction digits are read, then dropped), with
  // grouping separators and an exponent.
  size_t MaxTokenLength() const override { return kTokenPadding + kLongestFullDoubleText + 12 + 4; }

  DecimalTextSettings TextSettings() const {
    return {precision_, scale_, decimalSeparator_, groupingSeparator_, grouping_};
  }

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;

 private:
  // Makes a value read from a symbol current when it fits the field's binary stream width.
  bool AcceptStreamable(__int128 v, size_t& size);

  uint8_t precision_;
  uint8_t scale_;
  char decimalSeparator_ = 0;
  char groupingSeparator_ = 0;
  bool grouping_ = true;
};

using DecimalTraits = DecimalTypeTraits<__int128, long, decimal>;

}  // namespace orv
