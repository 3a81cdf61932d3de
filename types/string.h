// String fields: raw bytes, no character set conversion, no terminator. A fixed-size string
// occupies exactly `size` bytes everywhere; a variable one is a length and its bytes (64-bit
// length in records, 32-bit in the binary stream).
#pragma once

#include <locale>
#include <optional>
#include <string>

#include "types/type_traits.h"

namespace orv {

struct CollationSpecification {
  std::optional<std::string> icuLocale;  // compare through an ICU collator for this locale
  std::optional<std::locale> locale;     // else through this locale's collate facet

  bool operator==(const CollationSpecification& other) const {
    return icuLocale == other.icuLocale && locale.has_value() == other.locale.has_value() &&
           (!locale || *locale == *other.locale);
  }
};

class StringTypeTraits : public TypeTraits {
 public:
  // `fixedSize` 0 makes a variable string.
  StringTypeTraits(std::string_view name, size_t fixedSize);

  size_t ValueWidth() const override { return fixedSize_; }
  size_t StreamValueWidth() const override { return fixedSize_; }
  const StringTypeTraits* AsString() const override { return this; }
  StringTypeTraits* AsString() override { return this; }
  bool MemoryComparable(const TypeTraits& other) const override;

  void SetCollation(CollationSpecification collation) { collation_ = std::move(collation); }
  const std::optional<CollationSpecification>& collation() const { return collation_; }
  // Makes `bytes` the current value (the caller keeps them alive until the next value).
  void SetValue(const char* bytes, size_t length) {
    value_ = bytes;
    valueLength_ = length;
  }

  void Generate(size_t& size, bool recordFormat) override;

  // --- In-memory record ---
  void WriteToBuffer(char*& out, bool recordFormat) const override;

  // --- Binary record stream ---
  int Read(IFileInput& input, size_t& size, bool recordFormat) override;
  size_t LocateStreamValue(const char* in, size_t available, const char*& bytes,
                           size_t& length) const override;
  int ReadFixedSize(IFileInput& input, char*& out, bool& isNull) override;
  void Write(BufferedFileOutput& output) const override;
  void Write(BufferedFileOutput& output, const char*& data, bool nullable) const override;

  // --- Text ---
  std::string_view FormatText(const void* value, size_t length, char*) const override {
    return {static_cast<const char*>(value), length};
  }

  // --- QVX values ---
  void WriteQvxHeader(BufferedFileOutput& output) const override;
  void WriteQvx(BufferedFileOutput& output) const override;

  // --- QVD symbols ---
  // Numbers become their text; a fixed-size field pads a shorter text with blanks and refuses a
  // longer one.
  bool ReadQvdSymbol(const char* symbol, size_t length, const QvdFieldMetadata& field,
                     size_t& size) override;
  // Numbers (integers of 5 bytes, or floating point of 9) print as read.
  uint64_t CountPlainSymbols(const char* symbols, size_t symbolSize, uint64_t n,
                             const QvdFieldMetadata& field) const override;
  void PrintPlainValues(const char* const* symbols, uint64_t n, size_t symbolSize,
                        const QvdFieldMetadata& field, const AffixedPrinting& printing, char* out,
                        size_t width) const override;
  std::string PlainTextAlphabet() const override { return "+-.0123456789eEinfatyINFATY :"; }
  // "-999999999999999.000000000000000000": a FIX number of 18 decimals.
  size_t LongestPlainText() const override { return fixedSize_ == 0 ? 35 : 0; }
  size_t GetQvdSymbolSize(const void*, size_t size) const override { return size + 2; }
  void WriteQvdSymbol(BufferedFileOutput& output, const void* data, size_t size) const override;
  void WriteQvdHeader(BufferedFileOutput& output) const override;

  // --- Comparison ---
  LessFunctor getLessFunctor(bool flag) const override;
  LessFunctor getEqualFunctor(bool flag) const override;
  CompareFunctor getCompareFunctor(bool flag) const override;
  CompareFunctor getFullCompareFunctor(bool flag) const override;
  // The comparison context of this field's collation; empty with an error text when ICU has no
  // collator for the locale.
  CompareContext MakeCompareContext(bool flag, std::string* error = nullptr) const;

 protected:
  std::unique_ptr<Generator> MakeGenerator() const override;
  int Status(int status) {
    setStatus(status);
    return status;
  }
  // Reads the stream form of a value into data_: a 32-bit length (variable strings) and the bytes.
  int ReadStreamValue(IFileInput& input, bool afterFlag);

  std::string data_;

 private:
  void WriteStream(BufferedFileOutput& output, const char* value, size_t length,
                   bool flagged) const;

  std::optional<CollationSpecification> collation_;
};

class VariableStringTypeTraits : public StringTypeTraits {
 public:
  explicit VariableStringTypeTraits(std::string_view name, size_t fixedSize = 0)
      : StringTypeTraits(name, fixedSize) {}

  std::string GetTypeName() const override;
  // string(N) takes N bytes at most; a variable string any number.
  size_t MaxTokenLength() const override { return fixedSize_ == 0 ? SIZE_MAX : fixedSize_; }
  const VariableStringTypeTraits* AsVariableString() const override { return this; }
  VariableStringTypeTraits* AsVariableString() override { return this; }

  // --- Text ---
  // A fixed-size field pads a shorter token with blanks and refuses a longer one.
  int Parse(IFileInput& input, size_t& size, bool recordFormat) override;
};

}  // namespace orv
