// Datetime field: signed 64-bit seconds since 1970-01-01 00:00:00 UTC. A field may instead be a
// time of day (TIME) or a duration (INTERVAL); that changes only its QVD form.
#pragma once

#include <optional>
#include <string>

#include "runtime/values.h"
#include "types/primitive_type_traits.h"

namespace orv {

template <typename V>
class DateTimeTypeTraits;

template <>
class DateTimeTypeTraits<datetime> : public PrimitiveTypeTraits<long, datetime> {
 public:
  DateTimeTypeTraits(std::string_view name, std::optional<std::string> format)
      : PrimitiveTypeTraits(name, "datetime"), format_(std::move(format)) {}

  const std::optional<std::string>& format() const { return format_; }
  const std::optional<std::string>& qvdFormat() const { return qvdFormat_; }
  void SetQvdFormat(std::optional<std::string> format) { qvdFormat_ = std::move(format); }
  bool isTime() const { return time_; }
  bool isInterval() const { return interval_; }
  // At most one of the two is set; setting one clears the other.
  void SetTime(bool on) {
    time_ = on;
    interval_ = interval_ && !on;
  }
  void SetInterval(bool on) {
    interval_ = on;
    time_ = time_ && !on;
  }
  const std::string& EffectiveFormat() const;

  std::string GetTypeName() const override { return "datetime(" + EffectiveFormat() + ")"; }
  const DateTimeTypeTraits* AsDateTime() const override { return this; }
  DateTimeTypeTraits* AsDateTime() override { return this; }

  // --- Text ---
  int Parse(IFileInput& input, size_t& size, bool recordFormat) override;
  std::string_view FormatText(const void* value, size_t length, char* scratch) const override;
  // As a date's: up to 32 bytes for each byte of the format.
  size_t MaxTokenLength() const override { return kTokenPadding + 32 * EffectiveFormat().size(); }

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
  // Printed as rows read them in the ISO form only, whose texts hold digits, '-', ' ' and ':'.
  void PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                        const QvdFieldMetadata& field, const AffixedPrinting& printing, char* out,
                        size_t width) const override;
  std::string PlainTextAlphabet() const override { return IsoForm() ? "-0123456789 :" : ""; }
  // "65535-12-31 23:59:59", with room to spare.
  size_t LongestPlainText() const override { return IsoForm() ? 24 : 0; }
  size_t GetQvdSymbolSize(const void* data, size_t size) const override;
  size_t UniformQvdSymbolSize() const override { return GetQvdSymbolSize(nullptr, 0); }
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;

 private:
  bool IsoForm() const { return EffectiveFormat() == "%Y-%m-%d %H:%M:%S"; }
  // Makes an instant read from a symbol current when it is within datetime::InRange.
  bool AcceptInstant(int64_t seconds, size_t& size);

  std::optional<std::string> format_;
  std::optional<std::string> qvdFormat_;
  bool time_ = false;
  bool interval_ = false;
};

using DateTimeTraits = DateTimeTypeTraits<datetime>;

}  // namespace orv
