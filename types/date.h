// Date field: one packed 32-bit word, year << 16 | month << 8 | day (bytes: day, month, year low,
// year high).
#pragma once

#include <optional>
#include <string>

#include "runtime/values.h"
#include "types/primitive_type_traits.h"

namespace orv {

template <typename V>
class DateTypeTraits;

template <>
class DateTypeTraits<date> : public PrimitiveTypeTraits<unsigned int, date> {
 public:
  struct Date {
    uint8_t day;
    uint8_t month;
    uint16_t year;
  };

  DateTypeTraits(std::string_view name, std::optional<std::string> format)
      : PrimitiveTypeTraits(name, "date"), format_(std::move(format)) {}

  const std::optional<std::string>& format() const { return format_; }
  const std::optional<std::string>& qvdFormat() const { return qvdFormat_; }
  void SetQvdFormat(std::optional<std::string> format) { qvdFormat_ = std::move(format); }
  // The field's own text format, else the process default.
  const std::string& EffectiveFormat() const;

  std::string GetTypeName() const override { return "date(" + EffectiveFormat() + ")"; }
  const DateTypeTraits* AsDate() const override { return this; }
  DateTypeTraits* AsDate() override { return this; }

  // --- Text ---
  int Parse(IFileInput& input, size_t& size, bool recordFormat) override;
  std::string_view FormatText(const void* value, size_t length, char* scratch) const override;
  // Up to 32 bytes for each byte of the format (the longest conversions, "%c" and the names of
  // days and months, take less).
  size_t MaxTokenLength() const override { return kTokenPadding + 32 * EffectiveFormat().size(); }

  // --- QVX values ---
  void WriteQvxHeader(BufferedFileOutput& output) const override;
  void WriteQvx(BufferedFileOutput& output) const override;

  // --- QVD symbols ---
  bool ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata& field,
                     size_t& size) override;
  size_t GetQvdSymbolSize(const void* data, size_t size) const override;
  size_t UniformQvdSymbolSize() const override { return GetQvdSymbolSize(nullptr, 0); }
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;

 private:
  std::optional<std::string> format_;
  std::optional<std::string> qvdFormat_;
};

using DateTraits = DateTypeTraits<date>;

}  // namespace orv
